#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace marindo {

// A network adapter of this machine as the broadcast list needs it.
struct Adapter {
  enum class Kind { Ethernet, Wireless, Loopback, Other };
  struct Address {
    std::uint32_t ip = 0;  // host order
    std::uint32_t mask = 0;
  };

  std::string name;
  Kind kind = Kind::Other;
  std::vector<Address> addresses;  // IPv4 only, in the system's order
};

class AdapterSource {
 public:
  virtual ~AdapterSource() = default;
  // The adapters in the system's order; empty when they cannot be listed.
  virtual std::vector<Adapter> Adapters() const = 0;
};

// The real adapters: getifaddrs for the addresses, /sys/class/net for the
// kind (ARPHRD_ETHER, which veth and bridges report too; wireless when the
// interface has a wireless or phy80211 entry).
class SystemAdapters final : public AdapterSource {
 public:
  std::vector<Adapter> Adapters() const override;
};

}  // namespace marindo
