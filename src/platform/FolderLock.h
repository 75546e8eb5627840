#pragma once

#include <chrono>
#include <filesystem>
#include <system_error>

namespace marindo {

// An advisory lock (flock) on a folder, taken by every process that rewrites a
// file in it. The lock sits on the folder rather than on the file because the
// file is replaced by a rename at every write: a writer that waited on the old
// file's lock would hold a lock on a file no longer in place. Nor does it need
// a lock file, which the umask of whoever created it first could leave
// unusable for the other operators of a group-shared folder; reading the
// folder is all flock asks for.
class FolderLock {
 public:
  // Waits at most `patience` for the lock. When it is not held, Error() says
  // why: std::errc::timed_out when another process kept it all that time.
  static FolderLock Acquire(const std::filesystem::path& folder, std::chrono::milliseconds patience);

  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

  bool Held() const { return fd_ >= 0; }
  std::error_code Error() const { return error_; }

 private:
  FolderLock(int fd, std::error_code error) : fd_(fd), error_(error) {}

  int fd_ = -1;
  std::error_code error_;
};

}  // namespace marindo
