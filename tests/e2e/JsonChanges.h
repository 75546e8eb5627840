#pragma once

// What changed between two JSON documents, leaf by leaf: how the tests tell
// what a simulated clock's state took from a day's work.

#include <cstddef>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

namespace marindo::e2e {

inline void FlattenJson(const nlohmann::json& value, const std::string& path,
                        std::map<std::string, nlohmann::json>& leaves) {
  if (value.is_object()) {
    for (const auto& [key, item] : value.items()) FlattenJson(item, path.empty() ? key : path + "." + key, leaves);
  } else if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i) FlattenJson(value[i], path + "[" + std::to_string(i) + "]", leaves);
  } else {
    leaves[path] = value;
  }
}

// Every leaf whose value differs, with its value afterwards (null when gone),
// keyed by its path ("basic.brightness", "bells.entries[1].hour").
inline std::map<std::string, nlohmann::json> Changes(const nlohmann::json& before, const nlohmann::json& after) {
  std::map<std::string, nlohmann::json> old;
  std::map<std::string, nlohmann::json> now;
  FlattenJson(before, "", old);
  FlattenJson(after, "", now);
  std::map<std::string, nlohmann::json> changed;
  for (const auto& [path, value] : now) {
    const auto was = old.find(path);
    if (was == old.end() || was->second != value) changed[path] = value;
  }
  for (const auto& [path, value] : old) {
    if (!now.contains(path)) changed[path] = nullptr;
  }
  return changed;
}

}  // namespace marindo::e2e
