#pragma once

#include <filesystem>
#include <optional>
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
  // A settings file that exists but cannot be read, or is refused (a link or
  // a pipe in a shared folder), lets no one in: reading it as absent would
  // put the well-known default password in force. `problem` then says why, so
  // that the operator is not told the password was wrong; it stays empty when
  // the password was merely wrong.
  bool MatchesLoginPassword(std::string_view typed, std::string* problem = nullptr) const;

  // What became of a new password.
  enum class Saved {
    Yes,          // the file gives back exactly the new password
    OldInForce,   // the new password was not kept; the one before is still in force
    NoneInForce,  // the new password did not read back, and the one before could not be put back
  };
  struct SaveResult {
    Saved outcome = Saved::OldInForce;
    // Why the settings file could not be used, naming it; "" when the file
    // worked but could not carry the password unchanged.
    std::string problem;
  };

  // Stores the new password and reads it back, all under the settings file's
  // lock, so that no other writer's change slips in between and the read-back
  // is of this write. A password the file cannot carry unchanged (blanks at
  // its ends, enclosing quotes, a line break, more than 31 characters) would
  // never log in again, so the value before is put back.
  SaveResult SavePassword(std::string_view newPassword);

  // SavePassword, true only when the outcome is Saved::Yes.
  bool WriteStoredPassword(std::string_view newPassword);

 private:
  std::optional<std::string> ReadBack(std::string& problem) const;
  bool RestoreStoredPassword(const std::string& previous, std::string& problem);

  IniFile file_;
};

}  // namespace marindo
