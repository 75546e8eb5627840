#pragma once

// Files written whole or not at all: a descriptor that is closed when it goes,
// and a temporary file beside its target that takes the target's name only
// once it is complete and on disk, and is gone otherwise.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace marindo {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor();

  int Get() const { return fd_; }
  // close() reports late write errors of some file systems, so its result
  // counts. Closing a closed descriptor succeeds.
  bool Close();

 private:
  int fd_;
};

// Writes every byte, going on after interrupted or partial writes.
bool WriteAll(int fd, std::string_view bytes);
bool WriteAll(int fd, std::span<const std::uint8_t> bytes);

// A renamed file's entry survives a power cut only once its folder is on
// disk. Best effort: the rename is done either way.
void SyncFolder(const std::filesystem::path& folder);

// A new file beside `target`, created exclusively (mkstemp, mode 0600) under
// a hidden name no one can guess beforehand: "." + the target's name + "." +
// `tag` + six random characters. Removed again unless it took its name.
class TemporaryFile {
 public:
  enum class Over { Replace, Refuse };

  explicit TemporaryFile(const std::filesystem::path& target, std::string_view tag = {});
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile();

  // Negative when the file could not be made; Error() then says why.
  int Get() const { return file_.Get(); }
  std::error_code Error() const { return error_; }

  // Puts the file on disk, closes it and gives it the target's name: over
  // whatever had that name (the entry itself is replaced, so a link planted
  // there is not written through), or never over anything. False when any
  // step failed; the file is then removed when this object goes.
  bool Commit(const std::filesystem::path& target, Over over);

 private:
  std::string path_;
  FileDescriptor file_;
  std::error_code error_;
  bool committed_ = false;
};

}  // namespace marindo
