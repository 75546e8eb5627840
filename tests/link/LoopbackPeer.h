#pragma once

// A scripted clock on loopback for exchange tests: it records what reaches it
// and answers as its script says, from its own socket or from others.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/UdpSocket.h"

namespace marindo::testing {

using Bytes = std::vector<std::uint8_t>;

struct PeerDatagram {
  Bytes bytes;
  std::uint32_t senderIp = 0;
  std::uint16_t senderPort = 0;
  std::chrono::steady_clock::time_point at;
};

class LoopbackPeer {
 public:
  // What to send back for the n-th datagram received (counting from 0).
  using Script = std::function<std::vector<Bytes>(std::size_t index, const PeerDatagram&)>;

  explicit LoopbackPeer(std::uint32_t ip = 0x7F000001, std::uint16_t port = 0) {
    socket_.Bind(ip, port);
    port_ = socket_.LocalPort();
  }
  ~LoopbackPeer() { Stop(); }

  std::uint16_t Port() const { return port_; }

  void Start(Script script) {
    script_ = std::move(script);
    thread_ = std::thread([this] { Run(); });
  }

  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }

  std::vector<PeerDatagram> Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }

  // Sends from this peer's socket, outside any script.
  void SendTo(const Bytes& bytes, std::uint32_t ip, std::uint16_t port) { socket_.SendTo(bytes, ip, port); }

 private:
  void Run() {
    std::vector<std::uint8_t> buffer(2048);
    while (running_) {
      if (!socket_.WaitReadable(std::chrono::milliseconds(20))) continue;
      const auto got = socket_.ReceiveFrom(buffer);
      if (!got) continue;
      PeerDatagram datagram{Bytes(buffer.begin(), buffer.begin() + static_cast<long>(std::min(got->size, buffer.size()))),
                            got->senderIp, got->senderPort, std::chrono::steady_clock::now()};
      std::size_t index = 0;
      {
        std::lock_guard lock(mutex_);
        index = received_.size();
        received_.push_back(datagram);
      }
      if (script_) {
        for (const Bytes& answer : script_(index, datagram)) {
          socket_.SendTo(answer, datagram.senderIp, datagram.senderPort);
        }
      }
    }
  }

  UdpSocket socket_;
  std::uint16_t port_ = 0;
  Script script_;
  std::thread thread_;
  std::atomic<bool> running_{true};
  mutable std::mutex mutex_;
  std::vector<PeerDatagram> received_;
};

}  // namespace marindo::testing
