#include "settings/SettingsLists.h"

#include "settings/BasicSettings.h"

namespace marindo {

std::optional<int> NumberList::ItemOf(std::uint8_t value) const {
  if (value < first || value > last) return std::nullopt;
  return value - first;
}


std::string ListText(std::uint8_t value, const NumberList& list) {
  return list.ItemOf(value) ? std::to_string(value) : std::string();
}

long ShownOrZero(std::uint8_t value, const NumberList& list) { return list.ItemOf(value) ? long{value} : 0; }

std::string NameOf(std::span<const std::string_view> names, unsigned number) {
  if (number < 1 || number > names.size()) return {};
  return std::string(names[number - 1]);
}

std::optional<std::string_view> ZoneEntryNamed(std::string_view name) {
  const std::string_view trimmed = TrimTrailingBlanks(name);
  if (trimmed.empty()) return std::nullopt;
  for (std::string_view entry : kZoneEntries) {
    if (TrimTrailingBlanks(entry) == trimmed) return entry;
  }
  return std::nullopt;
}

}  // namespace marindo
