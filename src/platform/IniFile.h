#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

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
//
// The file may sit in a folder that a whole group of operators can write (the
// machine's settings folder is root:marindo 2770). There, any member could put
// a link or a named pipe in its place, so the file is opened without following
// a link and without blocking, and anything but a regular file is refused. A
// link is followed only out of a folder that no one but its owner can write,
// when that owner is the user or root: a link the user made to keep the file
// elsewhere. Each load, edit and rename is done under a lock on the file's
// folder (see FolderLock), so that two writers never lose each other's
// changes; readers need no lock, since a rename shows them the old file or the
// new one.
//
// Where a `problem` is asked for, a failure leaves there what went wrong, in
// words for the operator that name the file.
class IniFile {
 public:
  // How long a write waits for another writer to finish with the file.
  static constexpr std::chrono::milliseconds kLockPatience{10000};

  struct HeldLock;

  // Keeps other writers out of the file while it lives (see Hold).
  class Lock {
   public:
    bool Held() const { return held_ != nullptr; }

   private:
    friend class IniFile;
    explicit Lock(std::shared_ptr<HeldLock> held) : held_(std::move(held)) {}
    std::shared_ptr<HeldLock> held_;
  };

  explicit IniFile(std::filesystem::path path, std::chrono::milliseconds lockPatience = kLockPatience);

  const std::filesystem::path& Path() const;

  // The value of key in section, or `fallback` when the file, section or key
  // is missing or the file cannot be read. At most maxChars characters (UTF-8
  // code points), like a Windows buffer of maxChars + 1.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback,
                         std::size_t maxChars) const;

  // As ReadString, but nothing when the file exists and cannot be read or is
  // refused, for a caller to whom "no value" and "no access" must not look the
  // same.
  std::optional<std::string> TryReadString(std::string_view section, std::string_view key,
                                           std::string_view fallback, std::size_t maxChars,
                                           std::string* problem = nullptr) const;

  // Sets key in section, creating the file (and its folder, mode 0770) and the
  // section as needed. False when the file could not be written, when the
  // existing file could not be read or was refused (rewriting it would lose
  // its other sections), when another writer kept the file locked, or when a
  // name or the value cannot be held on one line under those names (a line
  // break; ']' in the section; '=' in the key).
  bool WriteString(std::string_view section, std::string_view key, std::string_view value,
                   std::string* problem = nullptr);

  // Removes the key's lines from the section. A missing file, section or key
  // needs no write and gives true. False as for WriteString.
  bool DeleteKey(std::string_view section, std::string_view key, std::string* problem = nullptr);

  // Takes the lock that every write takes, and keeps it until the last copy
  // of the returned Lock is gone, so that reads and writes of this object
  // meanwhile see no other writer's change in between (a write and the check
  // that reads it back, say). Creates the file's folder when it is missing.
  // The Lock is not Held when the lock could not be had.
  Lock Hold(std::string* problem = nullptr);

 private:
  using Edit = std::function<std::optional<std::string>(std::string_view content)>;

  std::shared_ptr<HeldLock> LockFor(const std::filesystem::path& file, std::string& problem);
  bool Rewrite(const Edit& edit, bool createsFolder, std::string& problem);

  std::filesystem::path path_;
  std::chrono::milliseconds lockPatience_;
  std::weak_ptr<HeldLock> held_;
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
