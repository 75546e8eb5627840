#include "app/PasswordStore.h"

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

bool PasswordStore::MatchesLoginPassword(std::string_view typed) const {
  const std::optional<std::string> stored = file_.TryReadString(kSection, kKey, "", kMaxPasswordChars);
  if (!stored) {
    return false;
  }
  const std::string_view inForce = stored->empty() ? kDefaultPassword : std::string_view(*stored);
  return typed == inForce;
}

bool PasswordStore::WriteStoredPassword(std::string_view newPassword) {
  const std::string previous = ReadStoredPassword();
  if (!file_.WriteString(kSection, kKey, newPassword)) {
    return false;
  }
  if (ReadStoredPassword() == newPassword) {
    return true;
  }
  RestoreStoredPassword(previous);
  return false;
}

// Puts back the value read before the failed change. A value that was
// hand-written with quotes (or blanks kept by them) reads back only when it is
// written quoted again.
bool PasswordStore::RestoreStoredPassword(const std::string& previous) {
  if (previous.empty()) {
    return file_.DeleteKey(kSection, kKey);
  }
  if (file_.WriteString(kSection, kKey, previous) && ReadStoredPassword() == previous) {
    return true;
  }
  return file_.WriteString(kSection, kKey, "\"" + previous + "\"") && ReadStoredPassword() == previous;
}

}  // namespace marindo
