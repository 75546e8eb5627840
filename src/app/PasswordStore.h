#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

namespace marindo {

// The one login password of the machine, in plain text in the settings file
// (section "LOGIN_PSW", key "pwd"). Until a password is stored, and whenever
// the stored one reads empty, the default password is in force.
class PasswordStore {
 public:
  static constexpr std::string_view kDefaultPassword = "Tulip@KVX";

  explicit PasswordStore(std::filesystem::path settingsFile);

  // The stored value, at most 31 characters; "" when absent or unreadable.
  std::string ReadStoredPassword() const;

  // Exact, case-sensitive comparison with the password in force, read afresh
  // from the file on every call so that a change counts at the next login.
  // A settings file that exists but cannot be read lets no one in: reading it
  // as absent would put the well-known default password in force.
  bool MatchesLoginPassword(std::string_view typed) const;

  // Stores the new password. True only when the file, read back, gives
  // exactly this password. A password the file cannot carry unchanged (blanks
  // at its ends, enclosing quotes, a line break, more than 31 characters)
  // would never log in again, so it is refused and the password in force
  // before stays in force.
  bool WriteStoredPassword(std::string_view newPassword);

 private:
  bool RestoreStoredPassword(const std::string& previous);

  IniFile file_;
};

}  // namespace marindo
