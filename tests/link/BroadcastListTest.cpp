#include "link/BroadcastList.h"

#include <gtest/gtest.h>

namespace marindo {
namespace {

using Kind = Adapter::Kind;

TEST(BroadcastListTest, OneDirectedBroadcastPerAddressOfEthernetAndWireless) {
  const std::vector<Adapter> adapters = {
      {"eth0", Kind::Ethernet, {{0xC0A80114, 0xFFFFFF00}}},   // 192.168.1.20/24
      {"lo", Kind::Loopback, {{0x7F000001, 0xFF000000}}},
      {"wlan0", Kind::Wireless, {{0x0A010203, 0xFFFF0000}}},  // 10.1.2.3/16
      {"tun0", Kind::Other, {{0xAC100001, 0xFFFFFFFC}}},
  };
  EXPECT_EQ(BuildBroadcastList(adapters), (std::vector<std::uint32_t>{0xC0A801FF, 0x0A01FFFF}));
}

TEST(BroadcastListTest, AdapterWithoutAddressGivesLimitedBroadcast) {
  const std::vector<Adapter> adapters = {{"eth1", Kind::Ethernet, {}}};
  EXPECT_EQ(BuildBroadcastList(adapters), (std::vector<std::uint32_t>{0xFFFFFFFF}));
}

TEST(BroadcastListTest, EveryAddressCountsAndDuplicatesStay) {
  const std::vector<Adapter> adapters = {
      {"br0", Kind::Ethernet, {{0x0AD50001, 0xFFFF0000}, {0xC0A80001, 0xFFFFFF00}}},
      {"veth0", Kind::Ethernet, {{0x0AD50002, 0xFFFF0000}}},
  };
  EXPECT_EQ(BuildBroadcastList(adapters),
            (std::vector<std::uint32_t>{0x0AD5FFFF, 0xC0A800FF, 0x0AD5FFFF}));
}

TEST(BroadcastListTest, NoAdaptersNoAddresses) { EXPECT_TRUE(BuildBroadcastList({}).empty()); }

}  // namespace
}  // namespace marindo
