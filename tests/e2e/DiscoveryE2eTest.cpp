// Discovery, queries and modifies against simulated clocks on the test LAN,
// with the real ports, broadcast, ARP and TCP probe. Runs inside the tool's
// namespace (see tests/e2e/CMakeLists.txt).

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "E2eSupport.h"
#include "platform/Ipv4.h"

namespace marindo::e2e {
namespace {

constexpr std::uint32_t kOld = 0x0AD5000A;          // 10.213.0.10, firmware 1
constexpr std::uint32_t kProbeOpen = 0x0AD5000B;    // firmware 2, port 22 open
constexpr std::uint32_t kModern = 0x0AD5000C;       // firmware 5
constexpr std::uint32_t kProbeClosed = 0x0AD5000D;  // firmware 2, port 22 closed

MacAddress SimulatedMac(std::uint32_t ip) {
  return {0x02, 0x13, static_cast<std::uint8_t>(ip >> 24), static_cast<std::uint8_t>(ip >> 16),
          static_cast<std::uint8_t>(ip >> 8), static_cast<std::uint8_t>(ip)};
}

std::string Text(const char* bytes, std::size_t max) { return std::string(bytes, strnlen(bytes, max)); }

class DiscoveryE2eTest : public ::testing::Test {
 protected:
  DiscoveryE2eTest()
      : settings_(RunFolder() / ("settings-" + std::string(::testing::UnitTest::GetInstance()
                                                               ->current_test_info()
                                                               ->name()) +
                                 ".ini")),
        names_(settings_, CodePage::Cp1252) {
    std::filesystem::remove(settings_);
  }

  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    for (const char* clock : {"old", "probe_open", "modern", "probe_closed"}) Control(clock, "reset");
  }

  std::unique_ptr<ClockLink> NewLink() {
    return std::make_unique<ClockLink>(LinkServices{adapters_, neighbours_, probe_, names_});
  }

  std::filesystem::path settings_;
  ClockNames names_;
  SystemAdapters adapters_;
  SystemNeighbours neighbours_;
  TcpPortProbe probe_;
};

TEST_F(DiscoveryE2eTest, BroadcastSearchFindsEveryModelWithItsMacAndFlag) {
  auto link = NewLink();
  ASSERT_TRUE(link->Bound());
  ASSERT_EQ(link->BroadcastList(), (std::vector<std::uint32_t>{0x0AD5FFFF}));
  link->SearchBroadcast();
  ASSERT_EQ(link->Clocks().Count(), 4u);
  struct Expected {
    std::uint32_t ip;
    const char* label;
    bool newPlatform;
  };
  const Expected expected[] = {
      {kOld, "10.213.0.10 (OLD0001)", false},
      {kProbeOpen, "10.213.0.11 (NEW0002)", true},
      {kModern, "10.213.0.12 (NEW0005)", true},
      {kProbeClosed, "10.213.0.13 (MID0002)", false},
  };
  for (const Expected& e : expected) {
    const ClockRecord* r = link->FindByIp(e.ip);
    ASSERT_NE(r, nullptr) << FormatIpv4(e.ip);
    EXPECT_EQ(r->label, e.label);
    EXPECT_EQ(r->mac, SimulatedMac(e.ip)) << e.label;
    EXPECT_EQ(r->newPlatform, e.newPlatform) << e.label;
  }
  const ClockRecord& old = *link->FindByIp(kOld);
  EXPECT_EQ(old.firmwareMajor, 1);
  EXPECT_EQ(old.firmwareMinor, 5);
  EXPECT_EQ(old.lastSyncTime, 1700000000u);
  EXPECT_EQ(old.syncServerIp, 0x0AD50001u);
  EXPECT_EQ(old.radio, 133);
  // Three passes, each a single request to the one broadcast address.
  EXPECT_EQ(ReceivedCount("old", 1), 3);
}

TEST_F(DiscoveryE2eTest, UnicastSearchFindsOneClock) {
  auto link = NewLink();
  EXPECT_TRUE(link->SearchUnicast(kModern));
  ASSERT_EQ(link->Clocks().Count(), 1u);
  EXPECT_EQ(link->FindByIp(kModern)->label, "10.213.0.12 (NEW0005)");
  EXPECT_FALSE(link->SearchUnicast(0x0AD500FE));  // nobody there
}

TEST_F(DiscoveryE2eTest, EveryQueryLandsInTheRecord) {
  auto link = NewLink();
  link->SearchBroadcast();
  for (int code : {0x02, 0x03, 0x04, 0x05, 0x0A}) {
    const auto answer = link->Query(kOld, static_cast<std::uint8_t>(code));
    EXPECT_TRUE(answer && answer->stored) << code;
  }
  const ClockRecord& r = *link->FindByIp(kOld);
  EXPECT_EQ(r.zoneNegative, 1);
  EXPECT_EQ(r.zoneHours, 9);
  EXPECT_EQ(r.zoneMinuteCode, 1);
  EXPECT_EQ(r.brightness, 3);
  EXPECT_EQ(r.ipAddress, kOld);
  EXPECT_EQ(r.subnetMask, 0xFFFF0000u);
  EXPECT_EQ(r.dnsServer, 0x0AD50002u);
  EXPECT_EQ(r.dstStartMonth, 3);
  EXPECT_EQ(r.dstEndWeek, 6);
  EXPECT_EQ(r.energyFrom, 22);
  EXPECT_EQ(r.energyTo, 6);
  EXPECT_EQ(r.energyClose, 1);
  EXPECT_EQ(r.ntpMode, 0);
  EXPECT_EQ(Text(r.ntpServers[1].address.data(), 16), "10.213.0.2");
  EXPECT_EQ(Text(r.ntpServers[4].address.data(), 16), "0.0.0.0");
  EXPECT_EQ(r.bells[0], 0x00);
  EXPECT_EQ(r.bells[1], 7);
  EXPECT_EQ(r.bells[2], 30);
  EXPECT_EQ(r.bells[4], 0xBE);
  EXPECT_EQ(r.bells[5], 5);
  EXPECT_EQ(r.humiture.temperatureWhole, -5);
  EXPECT_EQ(r.humiture.humidityWhole, 45);
  EXPECT_EQ(r.displayTimes[0], 5);
  EXPECT_EQ(r.displayTimes[1], 3);
  EXPECT_EQ(Text(r.text.data(), 65), "HELLO");
  EXPECT_EQ(r.textLead, 12);
  EXPECT_EQ(r.textAlternateSeconds, 3);
  EXPECT_FALSE(r.longText);  // a firmware-1 clock with a 32-byte text

  EXPECT_TRUE(link->Query(kProbeOpen, 0x03));
  EXPECT_TRUE(link->Query(kProbeOpen, 0x10));
  EXPECT_TRUE(link->Query(kProbeOpen, 0x0A));
  const ClockRecord& n = *link->FindByIp(kProbeOpen);
  EXPECT_EQ(n.ntpMode, 1);
  EXPECT_EQ(Text(n.ntpServers[0].name.data(), 30), "pool.ntp.org");
  EXPECT_EQ(Text(n.ntpServers[1].name.data(), 30), "time.example");
  EXPECT_EQ(n.uptimeDays, 300);
  EXPECT_EQ(n.status16.bits, 5);
  EXPECT_EQ(n.status16.extra, 7);
  EXPECT_TRUE(n.longText);
}

TEST_F(DiscoveryE2eTest, ModifyOutcomesComeFromTheClockWritten) {
  auto link = NewLink();
  // Write back what the clock reported, with brightness changed to Bright.
  ASSERT_TRUE(link->Query(kOld, 0x02));
  std::vector<std::uint8_t> payload(27, 0);
  payload[0] = 0x06;
  payload[1] = 0xCA;           // UTC -9:30
  payload[2] = 4 << 3;         // brightness Brilliant, 12-hour, static
  WriteBe32(&payload[3], kOld);
  WriteBe32(&payload[7], 0xFFFF0000);
  EXPECT_EQ(link->SendModify(kOld, ClockFrame::Build(payload)), ModifyOutcome::Accepted);
  EXPECT_EQ(SimState("old", "c[\"basic\"][\"brightness\"]"), "4");
  EXPECT_EQ(SimState("old", "c[\"lastWrite\"][\"06\"][:6]"), "06ca20");

  ASSERT_EQ(Control("old", "faults refuse=true"), 0);
  payload[2] = 1 << 3;
  EXPECT_EQ(link->SendModify(kOld, ClockFrame::Build(payload)), ModifyOutcome::Refused);
  EXPECT_EQ(SimState("old", "c[\"basic\"][\"brightness\"]"), "4");
}

TEST_F(DiscoveryE2eTest, ClockThatDropsTwoDatagramsIsAnsweredOnTheThirdTry) {
  auto link = NewLink();
  link->SearchUnicast(kModern);
  ASSERT_EQ(Control("modern", "faults dropFirst=2"), 0);
  const int before = ReceivedCount("modern", 2);
  EXPECT_TRUE(link->Query(kModern, 0x02));
  EXPECT_EQ(ReceivedCount("modern", 2) - before, 3);
}

TEST_F(DiscoveryE2eTest, SilentAddressGivesNoResponse) {
  auto link = NewLink();
  EXPECT_EQ(link->SendModify(0x0AD500FE, ClockFrame::Query(0x06)), ModifyOutcome::NoResponse);
}

TEST_F(DiscoveryE2eTest, NameIsFoundAgainAfterTheClockMovedAddress) {
  {
    auto link = NewLink();
    link->SearchUnicast(kOld);
    ClockRecord* old = link->FindByIp(kOld);
    ASSERT_NE(old, nullptr);
    ASSERT_EQ(old->mac, SimulatedMac(kOld));
    ASSERT_EQ(names_.RenameEnd(old, "Hall clock"), std::optional<std::string>("Hall clock"));
  }
  ASSERT_EQ(TestLan("readdress old 10.213.0.99"), 0);
  auto link = NewLink();
  link->SearchBroadcast();
  const ClockRecord* moved = link->FindByIp(0x0AD50063);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(moved->label, "Hall clock");
  EXPECT_EQ(link->FindByIp(kOld), nullptr);
  ASSERT_EQ(TestLan("readdress old 10.213.0.10"), 0);
}

}  // namespace
}  // namespace marindo::e2e
