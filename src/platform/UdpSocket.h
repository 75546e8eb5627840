#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace marindo {

// One IPv4 UDP socket, closed when the object goes. Addresses in host order.
class UdpSocket {
 public:
  struct Received {
    std::size_t size = 0;       // bytes of the datagram as sent
    bool truncated = false;     // the datagram did not fit the buffer
    std::uint32_t senderIp = 0;
    std::uint16_t senderPort = 0;
  };

  UdpSocket();  // creates the socket; Valid() tells whether that worked
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;

  bool Valid() const { return fd_ >= 0; }
  bool EnableBroadcast();
  bool Bind(std::uint32_t ip, std::uint16_t port);
  // Asks for a receive queue of `bytes`; privileged callers get it whatever
  // the system's limit. Returns the size the kernel granted.
  int RequestReceiveBuffer(int bytes);
  std::uint16_t LocalPort() const;
  bool SendTo(std::span<const std::uint8_t> bytes, std::uint32_t ip, std::uint16_t port);
  // True when a datagram can be read before `timeout` passes.
  bool WaitReadable(std::chrono::microseconds timeout);
  // Reads one datagram into `buffer` without waiting. A datagram longer than
  // the buffer is consumed and reported as truncated; nothing when none is queued.
  std::optional<Received> ReceiveFrom(std::span<std::uint8_t> buffer);

 private:
  int fd_ = -1;
};

}  // namespace marindo
