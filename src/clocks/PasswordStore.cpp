#include "clocks/PasswordStore.h"

#include <optional>
#include <utility>

namespace marindo {
namespace {

constexpr std::string_view kSection = "LOGIN_PSW";
constexpr std::string_view kKey = "pwd";
// The password has always been read through a buffer of 32 characters.
constexpr std::size_t kMaxPasswordChars = 31;

}  // namespace

PasswordStore::PasswordStore(std::filesystem::path settingsFile) : file_(std::move(settingsFile)) {}

std::string PasswordStore::ReadStoredPassword() const {
  return file_.ReadString(kSection, kKey, "", kMaxPasswordChars);
}

bool PasswordStore::MatchesLoginPassword(std::string_view typed, std::string* problem) const {
  const std::optional<std::string> stored = file_.TryReadString(kSection, kKey, "", kMaxPasswordChars, problem);
  if (!stored) {
    return false;
  }
  const std::string_view inForce = stored->empty() ? kDefaultPassword : std::string_view(*stored);
  return typed == inForce;
}

PasswordStore::SaveResult PasswordStore::SavePassword(std::string_view newPassword) {
  SaveResult result;
  const IniFile::Lock lock = file_.Hold(&result.problem);
  if (!lock.Held()) {
    return result;
  }
  const std::optional<std::string> previous = ReadBack(result.problem);
  if (!previous || !file_.WriteString(kSection, kKey, newPassword, &result.problem)) {
    return result;
  }
  if (ReadBack(result.problem) == newPassword) {
    return {Saved::Yes, {}};
  }
  result.problem.clear();
  if (!RestoreStoredPassword(*previous, result.problem)) {
    result.outcome = Saved::NoneInForce;
  }
  return result;
}

bool PasswordStore::WriteStoredPassword(std::string_view newPassword) {
  return SavePassword(newPassword).outcome == Saved::Yes;
}

std::optional<std::string> PasswordStore::ReadBack(std::string& problem) const {
  return file_.TryReadString(kSection, kKey, "", kMaxPasswordChars, &problem);
}

// Puts back the value read before the failed change. A value that was
// hand-written with quotes (or blanks kept by them) reads back only when it is
// written quoted again.
bool PasswordStore::RestoreStoredPassword(const std::string& previous, std::string& problem) {
  if (previous.empty()) {
    return file_.DeleteKey(kSection, kKey, &problem) && ReadBack(problem) == "";
  }
  for (const std::string& written : {previous, "\"" + previous + "\""}) {
    if (file_.WriteString(kSection, kKey, written, &problem) && ReadBack(problem) == previous) {
      problem.clear();
      return true;
    }
  }
  return false;
}

}  // namespace marindo
