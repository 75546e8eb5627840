#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace marindo {

using MacAddress = std::array<std::uint8_t, 6>;

// Finds the MAC address of a host on the local network.
class NeighbourLookup {
 public:
  virtual ~NeighbourLookup() = default;
  virtual std::optional<MacAddress> LookupMac(std::uint32_t ip) = 0;
};

// The kernel's neighbour table. When the address is not resolved yet, a
// zero-length datagram to the host's discard port (9) makes the kernel ask by
// ARP; nothing goes to the clock port. Waits at most `wait` for the answer.
class SystemNeighbours final : public NeighbourLookup {
 public:
  explicit SystemNeighbours(std::chrono::milliseconds wait = std::chrono::milliseconds(1000));
  std::optional<MacAddress> LookupMac(std::uint32_t ip) override;

 private:
  std::chrono::milliseconds wait_;
};

// Reads one complete entry for `ip` from text in the form of /proc/net/arp.
std::optional<MacAddress> FindInArpTable(const std::string& table, std::uint32_t ip);

}  // namespace marindo
