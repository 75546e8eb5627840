#include "clocks/ClockNames.h"

#include <cstdio>
#include <limits>
#include <utility>

#include "platform/Ipv4.h"

namespace marindo {
namespace {

constexpr std::string_view kNameKey = "name";
// Names have always been read through a buffer of 260 characters; a longer
// one written by hand is cut to the same length as before.
constexpr std::size_t kMaxNameChars = 259;

std::string MacSuffix(const std::array<std::uint8_t, 6>& mac) {
  char text[sizeof "-XX-XX-XX-XX-XX-XX"]{};
  std::snprintf(text, sizeof text, "-%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

}  // namespace

ClockNames::ClockNames(std::filesystem::path settingsFile, CodePage codePage)
    : file_(std::move(settingsFile)), codePage_(codePage) {}

std::string ClockNames::SerialText(const ClockRecord& record) const {
  return FromCodePage(TextBeforeZero(record.serial.data(), ClockRecord::kSerialChars), codePage_);
}

std::string ClockNames::SectionName(const ClockRecord& record) const {
  return SerialText(record) + MacSuffix(record.mac);
}

std::string ClockNames::Lookup(const ClockRecord* record) const {
  if (record == nullptr) {
    return {};
  }
  // Cut only once decoded: a code-page byte is one character, whatever its
  // value would mean in UTF-8.
  std::string stored =
      file_.ReadString(SectionName(*record), kNameKey, "", std::numeric_limits<std::size_t>::max());
  if (!IsUtf8(stored)) {
    stored = FromCodePage(stored, codePage_);
  }
  return FirstUtf8Chars(stored, kMaxNameChars);
}

bool ClockNames::Store(const ClockRecord& record, std::string_view name, std::string* problem) {
  if (name.empty()) {
    return file_.DeleteKey(SectionName(record), kNameKey, problem);
  }
  return file_.WriteString(SectionName(record), kNameKey, name, problem);
}

std::string ClockNames::DefaultLabel(const ClockRecord& record) const {
  return FormatIpv4(record.ip) + " (" + SerialText(record) + ")";
}

std::optional<std::string> ClockNames::RenameEnd(ClockRecord* selected, std::string_view editText,
                                                 std::string* problem) {
  if (selected == nullptr) {
    return std::nullopt;
  }
  if (!editText.empty() && editText == selected->label) {
    return selected->label;
  }
  Store(*selected, editText, problem);
  selected->label = editText.empty() ? DefaultLabel(*selected) : std::string(editText);
  return selected->label;
}

}  // namespace marindo
