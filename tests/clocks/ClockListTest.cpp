#include "clocks/ClockList.h"

#include <gtest/gtest.h>

namespace marindo {
namespace {

ClockRecord Clock(std::uint32_t ip, std::string label) {
  ClockRecord record;
  record.ip = ip;
  record.label = std::move(label);
  return record;
}

class ClockListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list.Append(Clock(0xC0A80114, "192.168.1.20 (A1B2C3)"));
    list.Append(Clock(0xC0A80115, "Hall clock"));
    list.Append(Clock(0xC0A80116, "Hall clock"));
  }
  ClockList list;
};

TEST_F(ClockListTest, KeepsRecordsInOrderOfDiscovery) {
  ASSERT_EQ(list.Count(), 3u);
  std::vector<std::uint32_t> ips;
  for (const ClockRecord& r : list) ips.push_back(r.ip);
  EXPECT_EQ(ips, (std::vector<std::uint32_t>{0xC0A80114, 0xC0A80115, 0xC0A80116}));
}

TEST_F(ClockListTest, FindByIp) {
  ASSERT_NE(list.FindByIp(0xC0A80115), nullptr);
  EXPECT_EQ(list.FindByIp(0xC0A80115)->label, "Hall clock");
  EXPECT_EQ(list.FindByIp(0x0A000007), nullptr);
  EXPECT_EQ(list.FindByIp(0), nullptr);
}

TEST_F(ClockListTest, FindByLabelTakesFirstExactMatch) {
  const ClockRecord* found = list.FindByLabel("Hall clock");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->ip, 0xC0A80115u);
  EXPECT_EQ(list.FindByLabel("hall clock"), nullptr);
  EXPECT_EQ(list.FindByLabel("Hall clock "), nullptr);
  EXPECT_EQ(list.FindByLabel("Hall"), nullptr);
  EXPECT_EQ(list.FindByLabel(""), nullptr);
}

TEST_F(ClockListTest, FoundRecordIsUpdatedInPlace) {
  list.FindByIp(0xC0A80116)->firmwareMajor = 4;
  EXPECT_EQ(list.FindByLabel("Hall clock")->firmwareMajor, 0);
  const ClockList& constList = list;
  EXPECT_EQ(constList.FindByIp(0xC0A80116)->firmwareMajor, 4);
}

TEST_F(ClockListTest, ClearClocksEmptiesAndListCanBeRefilled) {
  list.ClearClocks();
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(list.FindByIp(0xC0A80114), nullptr);
  list.ClearClocks();
  EXPECT_EQ(list.Count(), 0u);
  list.Append(Clock(0x0A000007, "10.0.0.7 (X)"));
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_NE(list.FindByLabel("10.0.0.7 (X)"), nullptr);
}

TEST(ClockListGrowthTest, RecordsSurviveGrowthWhole) {
  ClockList list;
  ClockRecord first = Clock(1, "first");
  first.newPlatform = true;
  first.longText = true;
  first.radio = 0xBB;  // on, ID 59: the byte is kept whole
  first.bells[179] = 0x0F;
  first.text[64] = 'z';
  first.ntpServers[4].name[29] = 'n';
  first.humiture.temperatureWhole = -5;
  first.report14.values[3] = 0xDEADBEEF;
  first.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  list.Append(first);
  for (std::uint32_t ip = 2; ip < 200; ++ip) list.Append(Clock(ip, "clock " + std::to_string(ip)));
  const ClockRecord* again = list.FindByIp(1);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(*again, first);
}

TEST(ClockRecordTest, NewRecordIsAllZero) {
  const ClockRecord record;
  EXPECT_EQ(record.ip, 0u);
  EXPECT_EQ(record.serial, (std::array<char, 21>{}));
  EXPECT_FALSE(record.newPlatform);
  EXPECT_FALSE(record.longText);
  EXPECT_EQ(record.bells, (std::array<std::uint8_t, 180>{}));
  EXPECT_EQ(record.mac, (std::array<std::uint8_t, 6>{}));
  EXPECT_TRUE(record.label.empty());
}

}  // namespace
}  // namespace marindo
