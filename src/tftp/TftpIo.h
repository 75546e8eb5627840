#pragma once

// Every socket and file operation of a TFTP transfer goes through this small
// set of interfaces, so that the transfer logic runs in tests against a
// scripted peer and in-memory files, and in the program against real ones.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace marindo {

// One received datagram; its bytes are in the buffer given to Receive.
struct TftpDatagram {
  std::size_t size = 0;     // bytes of the datagram as sent
  bool truncated = false;   // it did not fit the buffer, which holds its first bytes
  std::uint32_t sourceIp = 0;
  std::uint16_t sourcePort = 0;
};

// The UDP socket of one transfer. Addresses in host order.
class TftpSocket {
 public:
  virtual ~TftpSocket() = default;
  virtual bool Bind(std::uint32_t ip, std::uint16_t port) = 0;
  virtual bool SendTo(std::span<const std::uint8_t> bytes, std::uint32_t ip, std::uint16_t port) = 0;
  // Waits at most `wait` for one datagram and reads it into `buffer`;
  // nothing when the wait passes.
  virtual std::optional<TftpDatagram> Receive(std::span<std::uint8_t> buffer,
                                              std::chrono::microseconds wait) = 0;
};

// A firmware file being uploaded.
class TftpFileSource {
 public:
  virtual ~TftpFileSource() = default;
  virtual std::uint64_t Length() const = 0;
  // Reads up to buffer.size() bytes from `position`; the count read, fewer
  // only at the end of the file, or nothing when the file cannot be read.
  virtual std::optional<std::size_t> ReadAt(std::uint64_t position, std::span<std::uint8_t> buffer) = 0;
};

// A downloaded log file being written. It takes its name only when it is
// whole: until Commit succeeds it lies under a temporary name, and a sink
// that goes without a successful Commit leaves nothing behind, so a broken
// download never blocks the next one with a half file of the same name.
class TftpFileSink {
 public:
  virtual ~TftpFileSink() = default;
  // False when the bytes could not all be stored.
  virtual bool Append(std::span<const std::uint8_t> bytes) = 0;
  // Puts the file on disk and gives it its name, never over a file that
  // took the name meanwhile. False when any of that failed.
  virtual bool Commit() = 0;
};

class TftpIo {
 public:
  virtual ~TftpIo() = default;
  // An unbound UDP socket; nothing when none can be created.
  virtual std::unique_ptr<TftpSocket> OpenSocket() = 0;
  // Nothing when `path` is not an ordinary file that can be opened for reading.
  virtual std::unique_ptr<TftpFileSource> OpenForReading(const std::string& path) = 0;
  // A new, empty file to become `path`; nothing when `path` already exists
  // (whatever it is) or no file can be created beside it.
  virtual std::unique_ptr<TftpFileSink> CreateNew(const std::string& path) = 0;
};

// The operating system's sockets and files.
TftpIo& SystemTftpIo();

}  // namespace marindo
