#include "maint/TftpIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <utility>

#include "platform/UdpSocket.h"

namespace marindo {
namespace {

class UdpTftpSocket : public TftpSocket {
 public:
  bool Valid() const { return socket_.Valid(); }

  bool Bind(std::uint32_t ip, std::uint16_t port) override { return socket_.Bind(ip, port); }

  bool SendTo(std::span<const std::uint8_t> bytes, std::uint32_t ip, std::uint16_t port) override {
    return socket_.SendTo(bytes, ip, port);
  }

  std::optional<TftpDatagram> Receive(std::span<std::uint8_t> buffer,
                                      std::chrono::microseconds wait) override {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    // A readable socket can still come up empty (a datagram dropped for a bad
    // checksum), so keep waiting for what is left of the wait.
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() < 0 || !socket_.WaitReadable(left)) return std::nullopt;
      if (const auto got = socket_.ReceiveFrom(buffer)) {
        return TftpDatagram{got->size, got->truncated, got->senderIp, got->senderPort};
      }
    }
  }

 private:
  UdpSocket socket_;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

class DiskFileSource : public TftpFileSource {
 public:
  DiskFileSource(FileHandle file, std::uint64_t length) : file_(std::move(file)), length_(length) {}

  std::uint64_t Length() const override { return length_; }

  std::optional<std::size_t> ReadAt(std::uint64_t position, std::span<std::uint8_t> buffer) override {
    if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) ||
        ::fseeko(file_.get(), static_cast<off_t>(position), SEEK_SET) != 0) {
      return std::nullopt;
    }
    const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), file_.get());
    if (std::ferror(file_.get()) != 0) return std::nullopt;
    return count;
  }

 private:
  FileHandle file_;
  std::uint64_t length_;
};

// A descriptor closed when it goes; Close() reports what close(2) said.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

// Gives `from` the name `to` unless something has that name already.
bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without that rename still refuse a hard link over a name.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

// The folder's entry of a renamed file survives a power cut only once the
// folder itself is on disk.
void SyncFolder(const std::filesystem::path& file) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

class DiskFileSink : public TftpFileSink {
 public:
  DiskFileSink(int fd, std::string temporary, std::string final)
      : fd_(fd), temporary_(std::move(temporary)), final_(std::move(final)) {}
  ~DiskFileSink() override {
    if (!committed_) {
      fd_.Close();
      ::unlink(temporary_.c_str());
    }
  }

  bool Append(std::span<const std::uint8_t> bytes) override { return WriteAll(fd_.Get(), bytes); }

  bool Commit() override {
    if (committed_) return true;
    if (::fsync(fd_.Get()) != 0 || !fd_.Close()) return false;
    if (!RenameWithoutReplacing(temporary_, final_)) return false;
    committed_ = true;
    SyncFolder(final_);
    return true;
  }

 private:
  Descriptor fd_;
  std::string temporary_;
  std::string final_;
  bool committed_ = false;
};

class OperatingSystemIo : public TftpIo {
 public:
  std::unique_ptr<TftpSocket> OpenSocket() override {
    auto socket = std::make_unique<UdpTftpSocket>();
    if (!socket->Valid()) return nullptr;
    return socket;
  }

  std::unique_ptr<TftpFileSource> OpenForReading(const std::string& path) override {
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file) return nullptr;
    // Checked on the open file, not the path, so that nothing can swap the
    // file between the check and the reads.
    struct stat status {};
    if (::fstat(::fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
    return std::make_unique<DiskFileSource>(std::move(file), static_cast<std::uint64_t>(status.st_size));
  }

  // The file grows under a hidden name beside `path`, made exclusively
  // (mkstemp), so nothing at `path`, a link included, is ever opened.
  std::unique_ptr<TftpFileSink> CreateNew(const std::string& path) override {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 || errno != ENOENT) return nullptr;
    const std::filesystem::path target(path);
    std::string temporary =
        (target.parent_path() / ("." + target.filename().string() + ".partial-XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    // A log is an ordinary file of its reader's: mkstemp's owner-only mode
    // gives way to what the user's umask allows.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, static_cast<mode_t>(0666 & ~mask));
    return std::make_unique<DiskFileSink>(fd, std::move(temporary), path);
  }
};

}  // namespace

TftpIo& SystemTftpIo() {
  static OperatingSystemIo io;
  return io;
}

}  // namespace marindo
