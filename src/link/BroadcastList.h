#pragma once

#include <cstdint>
#include <vector>

#include "platform/Adapters.h"

namespace marindo {

// One directed broadcast address per IPv4 address of every Ethernet and
// wireless adapter, in adapter order, duplicates kept. An adapter without an
// address counts as 0.0.0.0/0.0.0.0 and so gives 255.255.255.255.
std::vector<std::uint32_t> BuildBroadcastList(const std::vector<Adapter>& adapters);

}  // namespace marindo
