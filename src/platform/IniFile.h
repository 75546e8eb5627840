#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace marindo {

// The settings file in the private-profile (INI) form that Windows tools of
// the clocks' world use: "[section]" lines, "key=value" lines below them.
//
// Section and key names match without regard to ASCII case; values are read
// without their surrounding blanks and without one pair of enclosing matching
// quotes (' or "). Only the first of several equal sections, and the first of
// several equal keys in it, is read and written. Lines that are neither keys
// nor section headers (comments starting with ';', garbage) are kept on
// rewrite. A line starting with '[' but without ']' opens a block that no
// name matches, so that its keys are not taken for the section above it.
//
// Every write replaces the whole file through a temporary file in the same
// folder, synced and renamed over the old one: a crash or a full disk leaves
// the old file or the new one, never half of one. The file holds the password
// in plain text, so a new file gets mode 0660; a rewritten one keeps its mode.
class IniFile {
 public:
  explicit IniFile(std::filesystem::path path);

  const std::filesystem::path& Path() const;

  // The value of key in section, or `fallback` when the file, section or key
  // is missing or the file cannot be read. At most maxChars characters (UTF-8
  // code points), like a Windows buffer of maxChars + 1.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback,
                         std::size_t maxChars) const;

  // As ReadString, but nothing when the file exists and cannot be read, for a
  // caller to whom "no value" and "no access" must not look the same.
  std::optional<std::string> TryReadString(std::string_view section, std::string_view key,
                                           std::string_view fallback, std::size_t maxChars) const;

  // Sets key in section, creating the file (and its folder, mode 0770) and the
  // section as needed. False when the file could not be written, when the
  // existing file could not be read (rewriting it would lose its other
  // sections), or when a name or the value cannot be held on one line under
  // those names (a line break; ']' in the section; '=' in the key).
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);

  // Removes the key's lines from the section. A missing file, section or key
  // needs no write and gives true. False when the file could not be written.
  bool DeleteKey(std::string_view section, std::string_view key);

 private:
  std::filesystem::path path_;
};

// The same rules on the file's text, without the file.
namespace ini {

// The value as read, or nothing when the section or key is missing.
std::optional<std::string> FindValue(std::string_view content, std::string_view section,
                                     std::string_view key);

// The text with key set to value; nothing when the names or the value cannot
// be written (see IniFile::WriteString).
std::optional<std::string> WithValue(std::string_view content, std::string_view section,
                                     std::string_view key, std::string_view value);

// The text without the key's lines in the section; nothing when there are
// none, so the file need not be rewritten.
std::optional<std::string> WithoutKey(std::string_view content, std::string_view section,
                                      std::string_view key);

}  // namespace ini
}  // namespace marindo
