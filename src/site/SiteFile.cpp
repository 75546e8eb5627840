#include "site/SiteFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <utility>

#include "settings/SystemSettings.h"

namespace marindo {
namespace {

constexpr std::array<std::string_view, 8> kIdentityKeys{"address", "serial",   "mac",      "firmware",
                                                        "name",    "model",    "lastSync", "syncServer"};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

// The problems, each on a line of its own starting with the file.
std::string FileProblems(std::vector<std::string> problems, const std::string& path) {
  for (std::string& problem : problems) problem = path + ": " + problem;
  return Joined(problems);
}

// The file as a JSON object, or why it is none.
std::variant<Json, std::string> ReadJsonObject(const std::filesystem::path& path) {
  auto read = ReadJsonFile(path);
  if (auto* problem = std::get_if<std::string>(&read)) return std::move(*problem);
  if (!std::get<Json>(read).is_object()) return path.string() + ": must hold a JSON object";
  return read;
}

}  // namespace

bool IsIdentityKey(std::string_view key) {
  return std::find(kIdentityKeys.begin(), kIdentityKeys.end(), key) != kIdentityKeys.end();
}

std::vector<std::string> CheckClockObject(const Json& clock, const std::string& where) {
  if (!clock.is_object()) return {where + "is not an object"};
  std::vector<std::string> problems;
  for (const auto& [key, value] : clock.items()) {
    if (IsIdentityKey(key)) {
      if (!value.is_string()) problems.push_back(where + key + ": must be a text");
      continue;
    }
    const std::optional<Section> section = SectionNamed(key);
    if (!section) {
      problems.push_back(where + key + ": unknown field");
      continue;
    }
    for (const std::string& problem : CheckSectionJson(*section, value)) problems.push_back(where + problem);
  }
  return problems;
}

std::vector<Section> WritableSectionsIn(const Json& clock) {
  std::vector<Section> sections;
  for (Section section : kWriteOrder) {
    if (clock.contains(std::string(SectionName(section)))) sections.push_back(section);
  }
  return sections;
}

std::string NormalMac(std::string text) {
  std::replace(text.begin(), text.end(), ':', '-');
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

bool SameMac(const std::array<std::uint8_t, 6>& mac, const std::string& text) {
  return NormalMac(text) == MacText(mac);
}

bool IsSavedClock(const Json& saved, const ClockRecord& record, CodePage cp) {
  return FromCodePage(std::string_view(record.serial.data()), cp) == saved.value("serial", "") &&
         SameMac(record.mac, saved.value("mac", ""));
}

std::variant<Json, std::string> ReadJsonFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return path.string() + ": cannot be read";
  std::ostringstream text;
  text << file.rdbuf();
  try {
    return Json::parse(text.str());
  } catch (const Json::parse_error& error) {
    // The parser's own prefix ("[json.exception.parse_error.101] ") tells
    // the operator nothing.
    std::string what = error.what();
    if (const std::size_t close = what.find("] "); close != std::string::npos) what = what.substr(close + 2);
    return path.string() + ": malformed JSON: " + what;
  }
}

std::variant<Json, std::string> LoadClockSettings(const std::filesystem::path& path) {
  auto read = ReadJsonObject(path);
  if (auto* problem = std::get_if<std::string>(&read)) return std::move(*problem);
  Json document = std::move(std::get<Json>(read));
  // A backup of one clock applies as it is.
  if (document.contains("clocks")) {
    if (!document["clocks"].is_array() || document["clocks"].size() != 1) {
      return path.string() + ": \"clocks\" must hold exactly one clock for apply";
    }
    document = document["clocks"][0];
  }
  std::vector<std::string> problems = CheckClockObject(document, "");
  if (problems.empty() && WritableSectionsIn(document).empty()) {
    problems.push_back("no section to write (basic, ntp, display, text or bells)");
  }
  if (!problems.empty()) return FileProblems(std::move(problems), path.string());
  return document;
}

std::variant<Json, std::string> LoadSiteFile(const std::filesystem::path& path) {
  auto read = ReadJsonObject(path);
  if (auto* problem = std::get_if<std::string>(&read)) return std::move(*problem);
  Json document = std::move(std::get<Json>(read));
  std::vector<std::string> problems;
  for (const auto& [key, value] : document.items()) {
    if (key == "format" || key == "version" || key == "created") continue;
    if (key != "clocks") problems.push_back(key + ": unknown field");
  }
  if (!document.contains("clocks") || !document["clocks"].is_array()) {
    problems.push_back("clocks: a list of clocks is needed");
  } else {
    for (std::size_t i = 0; i < document["clocks"].size(); ++i) {
      const Json& clock = document["clocks"][i];
      const std::string where = "clocks[" + std::to_string(i) + "].";
      for (auto& problem : CheckClockObject(clock, where)) problems.push_back(std::move(problem));
      // Restore finds each clock by serial and MAC, wherever it is now.
      if (clock.is_object() && (!clock.contains("serial") || !clock.contains("mac"))) {
        problems.push_back(where + " needs \"serial\" and \"mac\" to find its clock");
      }
    }
  }
  if (!problems.empty()) return FileProblems(std::move(problems), path.string());
  return document;
}

std::optional<std::string> OwnAddressProblem(const Json& clock, const std::string& file) {
  if (!clock.contains("basic")) return std::nullopt;
  const Json& basic = clock["basic"];
  const bool dynamic = basic.contains("addressing") && basic["addressing"] == "dynamic";
  if (!basic.contains("ipAddress") || dynamic) return std::nullopt;
  return file +
         ": basic.ipAddress is one clock's own address and cannot go to several clocks; apply the file to "
         "one clock, or leave ipAddress out";
}

Json SiteDocument(Json clocks) {
  Json site;
  site["format"] = kSiteFormat;
  site["version"] = kSiteVersion;
  site["clocks"] = std::move(clocks);
  return site;
}

}  // namespace marindo
