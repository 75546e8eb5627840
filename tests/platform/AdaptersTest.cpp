#include "platform/Adapters.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace marindo {
namespace {

// Reads the machine's adapters; nothing is sent.
TEST(SystemAdaptersTest, LoopbackIsListedAsLoopbackWithItsAddress) {
  const std::vector<Adapter> adapters = SystemAdapters().Adapters();
  const auto lo = std::find_if(adapters.begin(), adapters.end(),
                               [](const Adapter& a) { return a.name == "lo"; });
  ASSERT_NE(lo, adapters.end());
  EXPECT_EQ(lo->kind, Adapter::Kind::Loopback);
  ASSERT_FALSE(lo->addresses.empty());
  EXPECT_EQ(lo->addresses.front().ip, 0x7F000001u);
  EXPECT_EQ(lo->addresses.front().mask, 0xFF000000u);
}

TEST(SystemAdaptersTest, EachAdapterAppearsOnce) {
  const std::vector<Adapter> adapters = SystemAdapters().Adapters();
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    for (std::size_t j = i + 1; j < adapters.size(); ++j) {
      EXPECT_NE(adapters[i].name, adapters[j].name);
    }
  }
}

}  // namespace
}  // namespace marindo
