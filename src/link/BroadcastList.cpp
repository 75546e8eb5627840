#include "link/BroadcastList.h"

namespace marindo {

std::vector<std::uint32_t> BuildBroadcastList(const std::vector<Adapter>& adapters) {
  std::vector<std::uint32_t> list;
  for (const Adapter& adapter : adapters) {
    if (adapter.kind != Adapter::Kind::Ethernet && adapter.kind != Adapter::Kind::Wireless) {
      continue;
    }
    if (adapter.addresses.empty()) {
      list.push_back(0xFFFFFFFFU);
      continue;
    }
    for (const Adapter::Address& address : adapter.addresses) {
      list.push_back((address.ip & address.mask) | ~address.mask);
    }
  }
  return list;
}

}  // namespace marindo
