#include "platform/FileReplace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace marindo {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

// Gives `from` the name `to` unless something has that name already.
bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without that rename still refuse a hard link over a name.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

template <typename Bytes>
bool WriteEvery(int fd, Bytes bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(count));
  }
  return true;
}

std::filesystem::path FolderOf(const std::filesystem::path& path) {
  std::filesystem::path folder = path.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

}  // namespace

FileDescriptor::~FileDescriptor() { Close(); }

bool FileDescriptor::Close() {
  const int fd = std::exchange(fd_, -1);
  return fd < 0 || ::close(fd) == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
  return WriteEvery(fd, std::span<const char>(bytes.data(), bytes.size()));
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) { return WriteEvery(fd, bytes); }

void SyncFolder(const std::filesystem::path& folder) {
  FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() >= 0) ::fsync(directory.Get());
}

TemporaryFile::TemporaryFile(const std::filesystem::path& target, std::string_view tag)
    : path_((FolderOf(target) / ("." + target.filename().string() + "." + std::string(tag) + "XXXXXX")).string()),
      file_(::mkostemp(path_.data(), O_CLOEXEC)),
      error_(file_.Get() >= 0 ? std::error_code() : LastError()) {}

TemporaryFile::~TemporaryFile() {
  if (error_ || committed_) return;
  file_.Close();
  ::unlink(path_.c_str());
}

bool TemporaryFile::Commit(const std::filesystem::path& target, Over over) {
  if (::fsync(file_.Get()) != 0 || !file_.Close()) return false;
  committed_ = over == Over::Replace ? ::rename(path_.c_str(), target.c_str()) == 0
                                     : RenameWithoutReplacing(path_, target.string());
  if (committed_) SyncFolder(FolderOf(target));
  return committed_;
}

}  // namespace marindo
