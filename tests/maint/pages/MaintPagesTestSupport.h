#pragma once

// Stand-ins for the maintenance pages' tests: a clock link on loopback, TFTP
// sockets and files in memory, choosers that answer as told.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QString>

#include "link/ClockLink.h"
#include "link/LinkTestFakes.h"
#include "maint/Choosers.h"
#include "tftp/TftpIo.h"

namespace marindo::testing {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, the clock of these tests

// The selected clock as the main window keeps it: an address, looked up in
// the list on every call.
class ListSelection : public ClockSelection {
 public:
  std::optional<std::uint32_t> SelectedClockIp() const override { return selected; }
  ClockRecord* SelectedRecord() override {
    return selected && clocks != nullptr ? clocks->FindByIp(*selected) : nullptr;
  }
  std::optional<std::uint32_t> selected;
  ClockList* clocks = nullptr;
};

class AnsweringChoosers : public MaintChoosers {
 public:
  QString OpenFile(const QString& filter) override {
    filters.push_back(filter);
    return answer;
  }
  QString ExistingFolder() override {
    ++folderRequests;
    return answer;
  }
  QString answer;  // empty: the operator cancels
  std::vector<QString> filters;
  int folderRequests = 0;
};

// A silent clock port on loopback that counts what the link sends it.
class LoopbackListener {
 public:
  LoopbackListener() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackListener() { ::close(fd_); }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  std::uint16_t Port() const { return port_; }
  // Every datagram received so far.
  std::vector<Bytes> Received() {
    std::vector<Bytes> all;
    std::uint8_t buffer[512];
    ssize_t n = 0;
    while ((n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0) {
      all.emplace_back(buffer, buffer + n);
    }
    return all;
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// TFTP in memory. The clock acknowledges every packet of an upload, or stays
// silent; a download is answered with the scripted datagrams.
class MemoryTftp : public TftpIo {
 public:
  static constexpr std::uint16_t kTransferPort = 3456;

  struct Sent {
    Bytes bytes;
    std::uint16_t port = 0;
  };

  class Socket : public TftpSocket {
   public:
    explicit Socket(MemoryTftp& owner) : owner_(owner) {}
    bool Bind(std::uint32_t, std::uint16_t) override { return true; }
    bool SendTo(std::span<const std::uint8_t> bytes, std::uint32_t, std::uint16_t port) override {
      owner_.sent.push_back({Bytes(bytes.begin(), bytes.end()), port});
      if (owner_.onSend) owner_.onSend(owner_.sent.back().bytes);
      if (!owner_.silent) QueueAnswer(owner_.sent.back().bytes);
      return true;
    }
    std::optional<TftpDatagram> Receive(std::span<std::uint8_t> buffer, std::chrono::microseconds) override {
      if (owner_.replies.empty()) return std::nullopt;
      const Bytes reply = owner_.replies.front();
      owner_.replies.pop_front();
      const std::size_t kept = std::min(reply.size(), buffer.size());
      std::memcpy(buffer.data(), reply.data(), kept);
      return TftpDatagram{reply.size(), reply.size() > buffer.size(), owner_.clockIp, kTransferPort};
    }

   private:
    // A write request is acknowledged with block 0, a data packet with its block.
    void QueueAnswer(const Bytes& packet) {
      if (packet.size() < 2 || packet[0] != 0) return;
      if (packet[1] == 2) owner_.replies.push_back({0, 4, 0, 0});
      if (packet[1] == 3 && packet.size() >= 4) owner_.replies.push_back({0, 4, packet[2], packet[3]});
    }
    MemoryTftp& owner_;
  };

  class Source : public TftpFileSource {
   public:
    explicit Source(Bytes bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t Length() const override { return bytes_.size(); }
    std::optional<std::size_t> ReadAt(std::uint64_t position, std::span<std::uint8_t> buffer) override {
      if (position >= bytes_.size()) return 0;
      const std::size_t n = std::min<std::size_t>(buffer.size(), bytes_.size() - position);
      std::memcpy(buffer.data(), bytes_.data() + position, n);
      return n;
    }

   private:
    Bytes bytes_;
  };

  class Sink : public TftpFileSink {
   public:
    Sink(MemoryTftp& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
    // A file that never became whole is gone, as on disk.
    ~Sink() override {
      if (!committed_) owner_.files.erase(path_);
    }
    bool Append(std::span<const std::uint8_t> bytes) override {
      if (owner_.failWrites) return false;
      Bytes& file = owner_.files[path_];
      file.insert(file.end(), bytes.begin(), bytes.end());
      return true;
    }
    bool Commit() override {
      committed_ = true;
      return true;
    }

   private:
    MemoryTftp& owner_;
    std::string path_;
    bool committed_ = false;
  };

  std::unique_ptr<TftpSocket> OpenSocket() override {
    ++socketsOpened;
    if (noSocket) return nullptr;
    return std::make_unique<Socket>(*this);
  }
  std::unique_ptr<TftpFileSource> OpenForReading(const std::string& path) override {
    opened.push_back(path);
    const auto it = firmware.find(path);
    if (it == firmware.end()) return nullptr;
    return std::make_unique<Source>(it->second);
  }
  std::unique_ptr<TftpFileSink> CreateNew(const std::string& path) override {
    if (files.count(path) != 0) return nullptr;
    files[path];
    return std::make_unique<Sink>(*this, path);
  }

  std::uint32_t clockIp = kLoopback;
  bool silent = false;
  bool noSocket = false;
  bool failWrites = false;
  int socketsOpened = 0;
  std::map<std::string, Bytes> firmware;  // readable files by path
  std::map<std::string, Bytes> files;     // created files by path
  std::vector<std::string> opened;
  std::vector<Sent> sent;
  std::deque<Bytes> replies;
  std::function<void(const Bytes&)> onSend;
};

// A clock link on loopback whose clock port is `clockPort`, with short waits.
class LoopbackLink {
 public:
  explicit LoopbackLink(std::uint16_t clockPort)
      : names_(std::filesystem::temp_directory_path() / ("marindo-maint-" + std::to_string(::getpid()) + ".ini"),
               CodePage::Cp1252),
        link_(LinkServices{adapters_, neighbours_, probe_, names_}, Timings(clockPort)) {}

  ClockLink& Link() { return link_; }

 private:
  static LinkTimings Timings(std::uint16_t clockPort) {
    LinkTimings timings;
    timings.bindIp = kLoopback;
    timings.localPort = 0;
    timings.clockPort = clockPort;
    timings.replyWait = std::chrono::milliseconds(20);
    return timings;
  }

  NoAdapters adapters_;
  NoNeighbours neighbours_;
  ClosedPorts probe_;
  ClockNames names_;
  ClockLink link_;
};

}  // namespace marindo::testing
