#include "platform/Neighbours.h"

#include <gtest/gtest.h>

namespace marindo {
namespace {

const char* const kTable =
    "IP address       HW type     Flags       HW address            Mask     Device\n"
    "10.213.0.11      0x1         0x2         02:aa:bb:cc:dd:0b     *        eth0\n"
    "10.213.0.12      0x1         0x0         00:00:00:00:00:00     *        eth0\n"
    "10.213.0.13      0x1         0x6         00:1A:2B:3C:4D:5E     *        eth0\n"
    "10.213.0.14      0x1         0x2         not-a-mac             *        eth0\n"
    "10.213.0.1\n";

TEST(ArpTableTest, FindsCompleteEntries) {
  EXPECT_EQ(FindInArpTable(kTable, 0x0AD5000B), (MacAddress{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x0B}));
  EXPECT_EQ(FindInArpTable(kTable, 0x0AD5000D), (MacAddress{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
}

TEST(ArpTableTest, IncompleteMissingOrMalformedEntriesGiveNothing) {
  EXPECT_FALSE(FindInArpTable(kTable, 0x0AD5000C).has_value());  // still resolving
  EXPECT_FALSE(FindInArpTable(kTable, 0x0AD5000E).has_value());  // malformed address
  EXPECT_FALSE(FindInArpTable(kTable, 0x0AD50001).has_value());  // truncated line
  EXPECT_FALSE(FindInArpTable(kTable, 0x0AD50063).has_value());  // absent
  EXPECT_FALSE(FindInArpTable("", 0x0AD5000B).has_value());
}

TEST(SystemNeighboursTest, LoopbackHasNoMacAndTheWaitIsBounded) {
  SystemNeighbours neighbours(std::chrono::milliseconds(200));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(neighbours.LookupMac(0x7F000001).has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace marindo
