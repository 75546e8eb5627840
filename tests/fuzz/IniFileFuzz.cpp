// Feeds arbitrary bytes as a settings file to the INI rules and checks that
// a write or delete in one section never changes what another section reads,
// and that a value read from the file is cut at a whole character.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/IniFile.h"

namespace {

using marindo::ini::FindValue;
using marindo::ini::WithoutKey;
using marindo::ini::WithValue;

constexpr std::string_view kNameSection = "A1B2C3-00-1A-2B-3C-4D-5E";

void Check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

std::optional<std::string> Password(std::string_view content) {
  return FindValue(content, "LOGIN_PSW", "pwd");
}

void NameWriteAndDeleteLeaveThePassword(std::string_view content) {
  const std::optional<std::string> password = Password(content);
  const std::optional<std::string> named = WithValue(content, kNameSection, "name", "Hall clock");
  Check(named.has_value());
  Check(FindValue(*named, "a1b2c3-00-1a-2b-3c-4d-5e", "NAME") == "Hall clock");
  Check(Password(*named) == password);

  const std::optional<std::string> unnamed = WithoutKey(*named, kNameSection, "name");
  Check(unnamed.has_value());
  Check(!FindValue(*unnamed, kNameSection, "name").has_value());
  Check(Password(*unnamed) == password);
}

void PasswordWriteLeavesTheName(std::string_view content) {
  const std::optional<std::string> name = FindValue(content, kNameSection, "name");
  const std::optional<std::string> changed = WithValue(content, "LOGIN_PSW", "pwd", "Secret9");
  Check(changed.has_value());
  Check(Password(*changed) == "Secret9");
  Check(FindValue(*changed, kNameSection, "name") == name);
}

bool IsPasswordSection(std::string_view section) {
  const std::size_t first = section.find_first_not_of(" \t\r\f\v");
  if (first == std::string_view::npos) {
    return false;
  }
  const std::string_view trimmed = section.substr(first, section.find_last_not_of(" \t\r\f\v") - first + 1);
  if (trimmed.size() != 9) {
    return false;
  }
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    const char c = trimmed[i];
    const char upper = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper != "LOGIN_PSW"[i]) {
      return false;
    }
  }
  return true;
}

std::string_view TakeLine(std::string_view& rest) {
  const std::size_t newline = rest.find('\n');
  const std::string_view line = rest.substr(0, newline);
  rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
  return line;
}

// The input's first three lines name a section, a key and a value to write
// into the rest; whatever is written must read back as the same value would
// in a file of its own.
void FuzzedWriteReadsBack(std::string_view input) {
  std::string_view content = input;
  const std::string_view section = TakeLine(content);
  const std::string_view key = TakeLine(content);
  const std::string_view value = TakeLine(content);
  const std::optional<std::string> written = WithValue(content, section, key, value);
  if (!written) {
    return;
  }
  const std::string alone = "[x]\ny=" + std::string(value) + "\n";
  Check(FindValue(*written, section, key) == FindValue(alone, "x", "y"));
  if (!IsPasswordSection(section)) {
    Check(Password(*written) == Password(content));
  }
}

std::size_t CodePoints(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0U) != 0x80U) ++count;
  }
  return count;
}

// The password as the login gate reads it: from the file, at most 31
// characters, never part of a multi-byte character.
void FileReadIsCutAtACharacter(std::string_view content) {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("marindo-inifuzz-" + std::to_string(::getpid()) + ".ini");
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  constexpr std::size_t kMaxChars = 31;
  const std::string read = marindo::IniFile(path).ReadString("LOGIN_PSW", "pwd", "", kMaxChars);
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  const std::string whole = Password(content).value_or("");
  Check(std::string_view(whole).starts_with(read));
  Check(CodePoints(read) <= kMaxChars);
  Check(read.size() == whole.size() || CodePoints(read) == kMaxChars);
  Check(read.size() == whole.size() || (static_cast<unsigned char>(whole[read.size()]) & 0xC0U) != 0x80U);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  NameWriteAndDeleteLeaveThePassword(input);
  PasswordWriteLeavesTheName(input);
  FuzzedWriteReadsBack(input);
  FileReadIsCutAtACharacter(input);
  return 0;
}
