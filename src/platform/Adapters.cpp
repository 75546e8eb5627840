#include "platform/Adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if_arp.h>
#include <netinet/in.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace marindo {
namespace {

Adapter::Kind KindOf(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path("/sys/class/net") / name;
  std::ifstream typeFile(dir / "type");
  int type = -1;
  if (!(typeFile >> type)) return Adapter::Kind::Other;
  if (type == ARPHRD_LOOPBACK) return Adapter::Kind::Loopback;
  if (type != ARPHRD_ETHER) return Adapter::Kind::Other;
  std::error_code ignored;
  const bool wireless = std::filesystem::exists(dir / "wireless", ignored) ||
                        std::filesystem::exists(dir / "phy80211", ignored);
  return wireless ? Adapter::Kind::Wireless : Adapter::Kind::Ethernet;
}

Adapter& AdapterNamed(std::vector<Adapter>& adapters, const char* name) {
  const auto it = std::find_if(adapters.begin(), adapters.end(),
                               [name](const Adapter& a) { return a.name == name; });
  if (it != adapters.end()) return *it;
  Adapter adapter;
  adapter.name = name;
  adapter.kind = KindOf(adapter.name);
  adapters.push_back(std::move(adapter));
  return adapters.back();
}

std::uint32_t HostOrder(const sockaddr* address) {
  if (address == nullptr || address->sa_family != AF_INET) return 0;
  return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

}  // namespace

std::vector<Adapter> SystemAdapters::Adapters() const {
  std::vector<Adapter> adapters;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return adapters;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_name == nullptr) continue;
    Adapter& adapter = AdapterNamed(adapters, entry->ifa_name);
    if (entry->ifa_addr != nullptr && entry->ifa_addr->sa_family == AF_INET) {
      adapter.addresses.push_back({HostOrder(entry->ifa_addr), HostOrder(entry->ifa_netmask)});
    }
  }
  ::freeifaddrs(list);
  return adapters;
}

}  // namespace marindo
