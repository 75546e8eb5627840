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

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF, as
// the JSON of marindo-cli demands.
bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    unsigned char low = 0x80;  // bounds of the second byte
    unsigned char high = 0xBF;
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (text.size() - i < length) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

// The first maxChars characters of UTF-8 text.
std::string FirstChars(std::string text, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0U) == 0x80U) {
      continue;
    }
    if (chars == maxChars) {
      text.resize(i);
      break;
    }
    ++chars;
  }
  return text;
}

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
  return FirstChars(std::move(stored), kMaxNameChars);
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
