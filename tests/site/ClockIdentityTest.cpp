#include "site/ClockIdentity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/Ipv4.h"

namespace marindo {
namespace {

TEST(ClockIdentityTest, AgeOfTheLastSynchronisation) {
  constexpr std::int64_t kNow = 1700000000;
  struct Case {
    std::uint32_t lastSync;
    const char* expected;
  };
  const Case cases[] = {
      {0, "never"},
      {kNow, "0 s"},
      {kNow - 59, "59 s"},
      {kNow - 60, "1 min"},
      {kNow - 3599, "59 min"},
      {kNow - 3600 - 5 * 60, "1 h 5 min"},
      {kNow - 2 * 86400 - 4 * 3600 - 59, "2 d 4 h"},
      {kNow + 30, "in the future"},
  };
  for (const Case& c : cases) EXPECT_EQ(AgeText(kNow, c.lastSync), c.expected) << c.lastSync;
}

// The site view's rows come from a reading and the command line's from the
// identity: one clock must read alike in both.
TEST(ClockIdentityTest, TheReadingAndTheIdentityTellTheSameClock) {
  ClockRecord record;
  record.ip = 0x0AD5000C;
  std::ranges::copy(std::string("TOWER003"), record.serial.begin());
  record.firmwareMajor = 4;
  record.firmwareMinor = 2;
  record.newPlatform = true;
  record.lastSyncTime = 1700000000;
  record.syncServerIp = 0x0AD50001;
  record.mac = {0x02, 0x13, 0x0A, 0xD5, 0x00, 0x0C};
  const ClockNames names("/nonexistent/marindo-clock-identity-test.ini", CodePage::Cp1252);
  const Json identity = IdentityJson(record, names, CodePage::Cp1252);
  const ClockReading reading = ReadingOf(record, "Tower", CodePage::Cp1252, false);

  EXPECT_EQ(identity["address"], FormatIpv4(reading.ip));
  EXPECT_EQ(identity["serial"], reading.serial);
  EXPECT_EQ(identity["mac"], reading.mac);
  EXPECT_EQ(identity["firmware"], reading.firmware);
  EXPECT_EQ(identity["model"], "new platform");
  EXPECT_TRUE(reading.newPlatform);
  EXPECT_EQ(identity["syncServer"], "10.213.0.1");
  EXPECT_EQ(reading.syncServer, 0x0AD50001U);
  EXPECT_EQ(reading.lastSync, 1700000000U);
  EXPECT_EQ(reading.name, "Tower");
}

}  // namespace
}  // namespace marindo
