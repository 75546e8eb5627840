#include "tftp/TftpIo.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <utility>

#include "platform/FileReplace.h"
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

// The log grows in a temporary file beside its name and takes the name only
// when whole, never over a file that took it meanwhile.
class DiskFileSink : public TftpFileSink {
 public:
  DiskFileSink(std::unique_ptr<TemporaryFile> file, std::string target)
      : file_(std::move(file)), target_(std::move(target)) {}

  bool Append(std::span<const std::uint8_t> bytes) override { return WriteAll(file_->Get(), bytes); }
  bool Commit() override { return file_->Commit(target_, TemporaryFile::Over::Refuse); }

 private:
  std::unique_ptr<TemporaryFile> file_;
  std::string target_;
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

  // Nothing at `path`, a link included, is ever opened: the file is made
  // exclusively under a hidden name beside it.
  std::unique_ptr<TftpFileSink> CreateNew(const std::string& path) override {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 || errno != ENOENT) return nullptr;
    auto file = std::make_unique<TemporaryFile>(path, "partial-");
    if (file->Get() < 0) return nullptr;
    // A log is an ordinary file of its reader's: mkstemp's owner-only mode
    // gives way to what the user's umask allows.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(file->Get(), static_cast<mode_t>(0666 & ~mask));
    return std::make_unique<DiskFileSink>(std::move(file), path);
  }
};

}  // namespace

TftpIo& SystemTftpIo() {
  static OperatingSystemIo io;
  return io;
}

}  // namespace marindo
