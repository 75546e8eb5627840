#pragma once

#include <chrono>
#include <cstdint>

namespace marindo {

// Tells whether a host accepts TCP connections on a port.
class PortProbe {
 public:
  virtual ~PortProbe() = default;
  virtual bool Accepts(std::uint32_t ip, std::uint16_t port, std::chrono::milliseconds wait) = 0;
};

// A non-blocking connect that must complete within the wait; the socket is
// closed on every path and nothing is sent over the connection.
class TcpPortProbe final : public PortProbe {
 public:
  bool Accepts(std::uint32_t ip, std::uint16_t port, std::chrono::milliseconds wait) override;
};

}  // namespace marindo
