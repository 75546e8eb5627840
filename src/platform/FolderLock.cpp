#include "platform/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

namespace marindo {
namespace {

std::error_code LastError() {
  return {errno, std::generic_category()};
}

}  // namespace

// flock has no timeout of its own, so the lock is tried without blocking and
// tried again after a pause that grows to a few milliseconds: a write holds
// the lock for about as long as one fsync, and a process that never lets go
// must not freeze the window for good.
FolderLock FolderLock::Acquire(const std::filesystem::path& folder, std::chrono::milliseconds patience) {
  const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : folder;
  const int fd = ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return FolderLock(-1, LastError());
  }
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::chrono::microseconds pause(200);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      return FolderLock(fd, {});
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      const std::error_code error = LastError();
      ::close(fd);
      return FolderLock(-1, error);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return FolderLock(-1, std::make_error_code(std::errc::timed_out));
    }
    std::this_thread::sleep_for(pause);
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(8));
  }
}

FolderLock::FolderLock(FolderLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

// Closing the only descriptor of the open folder releases its flock.
FolderLock::~FolderLock() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

}  // namespace marindo
