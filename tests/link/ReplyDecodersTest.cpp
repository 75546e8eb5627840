#include "link/ReplyDecoders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace marindo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Payload(std::uint8_t code, std::size_t size, std::initializer_list<std::pair<std::size_t, std::uint8_t>> set) {
  Bytes p(size, 0);
  p[0] = code;
  for (const auto& [index, value] : set) p[index] = value;
  return p;
}

std::string Text(const char* bytes, std::size_t max) { return std::string(bytes, strnlen(bytes, max)); }

struct DecodeCase {
  const char* name;
  Bytes payload;
  std::function<void(const ClockRecord&)> check;
};

class StoreReplyTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(StoreReplyTest, StoresFields) {
  const DecodeCase& c = GetParam();
  ClockRecord record;
  ASSERT_TRUE(StoreReply(c.payload, static_cast<std::uint8_t>(c.payload.size()), record));
  c.check(record);
}

const DecodeCase kDecodeCases[] = {
    {"BasicWorkedExample",
     // 24-hour, UTC +8, dynamic, brightness Normal, mask 255.255.255.0,
     // gateway and DNS 192.168.1.1.
     Payload(0x02, 27, {{1, 0x40}, {2, 0xD0}, {7, 0xFF}, {8, 0xFF}, {9, 0xFF}, {11, 0xC0}, {12, 0xA8}, {13, 0x01},
                        {14, 0x01}, {15, 0xC0}, {16, 0xA8}, {17, 0x01}, {18, 0x01}}),
     [](const ClockRecord& r) {
       EXPECT_EQ(r.zoneNegative, 0);
       EXPECT_EQ(r.zoneHours, 8);
       EXPECT_EQ(r.zoneMinuteCode, 0);
       EXPECT_EQ(r.hour24, 1);
       EXPECT_EQ(r.dynamicIp, 1);
       EXPECT_EQ(r.brightness, 2);
       EXPECT_EQ(r.ipAddress, 0u);
       EXPECT_EQ(r.subnetMask, 0xFFFFFF00u);
       EXPECT_EQ(r.gateway, 0xC0A80101u);
       EXPECT_EQ(r.dnsServer, 0xC0A80101u);
     }},
    {"BasicZoneDstAndEnergy",
     // UTC -9:30 (0xCA), brightness Auto, static 10.0.0.7, DST from the last
     // Sunday of March 2:00 to the last Sunday of October 3:00, energy saving
     // 22 to 6 with the display closed.
     Payload(0x02, 27, {{1, 0xCA}, {2, 0x28}, {3, 10}, {6, 7}, {19, 3}, {20, 0x67}, {21, 2}, {22, 10},
                        {23, 0x67}, {24, 3}, {25, 22}, {26, (6 << 3) | 0x04}}),
     [](const ClockRecord& r) {
       EXPECT_EQ(r.zoneNegative, 1);
       EXPECT_EQ(r.zoneHours, 9);
       EXPECT_EQ(r.zoneMinuteCode, 1);
       EXPECT_EQ(r.hour24, 0);
       EXPECT_EQ(r.dynamicIp, 0);
       EXPECT_EQ(r.brightness, 5);
       EXPECT_EQ(r.ipAddress, 0x0A000007u);
       EXPECT_EQ(r.dstStartMonth, 3);
       EXPECT_EQ(r.dstStartWeek, 6);
       EXPECT_EQ(r.dstStartWeekday, 7);
       EXPECT_EQ(r.dstStartHour, 2);
       EXPECT_EQ(r.dstEndMonth, 10);
       EXPECT_EQ(r.dstEndWeek, 6);
       EXPECT_EQ(r.dstEndWeekday, 7);
       EXPECT_EQ(r.dstEndHour, 3);
       EXPECT_EQ(r.energyFrom, 22);
       EXPECT_EQ(r.energyTo, 6);
       EXPECT_EQ(r.energyClose, 1);
     }},
    {"NtpAddressForm",
     Payload(0x03, 22, {{1, 0}, {2, 10}, {5, 1}, {6, 10}, {9, 2}}),
     [](const ClockRecord& r) {
       EXPECT_EQ(r.ntpMode, 0);
       EXPECT_EQ(Text(r.ntpServers[0].address.data(), 16), "10.0.0.1");
       EXPECT_EQ(Text(r.ntpServers[1].address.data(), 16), "10.0.0.2");
       EXPECT_EQ(Text(r.ntpServers[2].address.data(), 16), "0.0.0.0");
       EXPECT_EQ(Text(r.ntpServers[4].address.data(), 16), "0.0.0.0");
     }},
    {"BellTableCopiedWhole",
     [] {
       Bytes p(181, 0);
       p[0] = 0x04;
       for (std::size_t i = 1; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(i);
       return p;
     }(),
     [](const ClockRecord& r) {
       EXPECT_EQ(r.bells[0], 1);
       EXPECT_EQ(r.bells[179], 180);
     }},
    {"DisplayHumitureBelowZero",
     Payload(0x05, 14, {{1, 8}, {2, 30}, {3, 5}, {4, 1}, {5, 2}, {6, 3}, {7, 1}, {8, 0x85}, {9, 0x30},
                        {10, 0x5A}, {11, 0x60}, {12, 0x53}, {13, 0x30}}),
     [](const ClockRecord& r) {
       EXPECT_EQ(r.countdownStart, (std::array<std::uint8_t, 3>{8, 30, 5}));
       EXPECT_EQ(r.countdownDuration, (std::array<std::uint8_t, 3>{1, 2, 3}));
       EXPECT_EQ(r.tempUnit, 1);
       EXPECT_EQ(r.humiture.temperatureWhole, -5);
       EXPECT_EQ(r.humiture.temperatureTenths, 3);
       EXPECT_EQ(r.humiture.humidityWhole, 45);
       EXPECT_EQ(r.humiture.humidityTenths, 6);
       EXPECT_EQ(r.displayTimes, (std::array<std::uint8_t, 3>{5, 3, 3}));
     }},
    {"DisplayHumitureJustBelowZero",
     Payload(0x05, 14, {{7, 1}, {8, 0x80}, {9, 0x50}}),
     [](const ClockRecord& r) {
       EXPECT_EQ(r.humiture.temperatureWhole, 0);
       EXPECT_TRUE(r.humiture.temperatureBelowZero);
       EXPECT_EQ(r.humiture.temperatureTenths, 5);
     }},
    {"DisplayHumitureAboveZero",
     Payload(0x05, 14, {{7, 2}, {8, 0x7F}, {9, 0x90}}),
     [](const ClockRecord& r) {
       EXPECT_EQ(r.tempUnit, 2);
       EXPECT_EQ(r.humiture.temperatureWhole, 127);
       EXPECT_EQ(r.humiture.temperatureTenths, 9);
     }},
    {"StatusReport",
     Payload(0x0E, 18, {{1, 0x01}, {4, 0x02}, {5, 0xFF}, {16, 0x09}, {17, 0x77}}),
     [](const ClockRecord& r) {
       EXPECT_EQ(r.report14.values, (std::array<std::uint32_t, 4>{0x01000002, 0xFF000000, 0, 0x09}));
       EXPECT_EQ(r.report14.last, 0x77);
     }},
    {"SystemInfo",
     Payload(0x10, 5, {{1, 0xFF}, {2, 0xAB}, {3, 0x01}, {4, 0x02}}),
     [](const ClockRecord& r) {
       EXPECT_EQ(r.status16.bits, 0x7F);  // bit 7 keeps the record's 0
       EXPECT_EQ(r.status16.extra, 0xAB);
       EXPECT_EQ(r.uptimeDays, 0x0102);
     }},
};

INSTANTIATE_TEST_SUITE_P(Codes, StoreReplyTest, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& example) { return std::string(example.param.name); });

TEST(StoreReplyTest, NtpNameFormKeepsAddressesAndStoresTwoNames) {
  ClockRecord record;
  std::memcpy(record.ntpServers[0].address.data(), "10.0.0.1", 8);
  Bytes p(62, 0);
  p[0] = 0x03;
  p[1] = 1;
  std::memcpy(&p[2], "pool.ntp.org", 12);
  std::memset(&p[32], 'x', 30);  // a full name has no terminator
  ASSERT_TRUE(StoreReply(p, 62, record));
  EXPECT_EQ(record.ntpMode, 1);
  EXPECT_EQ(Text(record.ntpServers[0].name.data(), 30), "pool.ntp.org");
  EXPECT_EQ(Text(record.ntpServers[1].name.data(), 30), std::string(30, 'x'));
  EXPECT_EQ(Text(record.ntpServers[0].address.data(), 16), "10.0.0.1");
}

TEST(StoreReplyTest, NtpAddressFormKeepsNames) {
  ClockRecord record;
  std::memcpy(record.ntpServers[0].name.data(), "time.example", 12);
  ASSERT_TRUE(StoreReply(Payload(0x03, 22, {{2, 192}, {3, 168}, {4, 1}, {5, 1}}), 22, record));
  EXPECT_EQ(Text(record.ntpServers[0].name.data(), 30), "time.example");
  EXPECT_EQ(Text(record.ntpServers[0].address.data(), 16), "192.168.1.1");
}

TEST(StoreReplyTest, SystemInfoKeepsBitSevenOfStatus) {
  ClockRecord record;
  record.status16.bits = 0x80;
  ASSERT_TRUE(StoreReply(Payload(0x10, 5, {{1, 0x05}}), 5, record));
  EXPECT_EQ(record.status16.bits, 0x85);
}

Bytes TextReply(std::size_t textBytes, char fill, std::uint8_t lead = 12, std::uint8_t mode = 0x83) {
  Bytes p(3 + textBytes, static_cast<std::uint8_t>(fill));
  p[0] = 0x0A;
  p[1] = lead;
  p[2] = mode;
  return p;
}

TEST(StoreReplyTest, TextReplyAndLongTextRule) {
  struct Case {
    std::uint8_t firmwareMajor;
    std::size_t textBytes;
    bool longText;
  };
  const Case cases[] = {{1, 32, false}, {2, 32, true}, {1, 64, true}, {1, 63, false}, {3, 0, true}};
  for (const Case& c : cases) {
    ClockRecord record;
    record.firmwareMajor = c.firmwareMajor;
    record.longText = !c.longText;
    record.text.fill('z');
    const Bytes p = TextReply(c.textBytes, 'A');
    ASSERT_TRUE(StoreReply(p, static_cast<std::uint8_t>(p.size()), record));
    EXPECT_EQ(record.longText, c.longText) << "firmware " << int(c.firmwareMajor) << ", " << c.textBytes;
    EXPECT_EQ(Text(record.text.data(), 65), std::string(c.textBytes, 'A'));
    EXPECT_EQ(record.textLead, 12);
    EXPECT_EQ(record.textRoll, 1);
    EXPECT_EQ(record.textAlternateSeconds, 3);
  }
}

TEST(StoreReplyTest, TextLongerThanTheRecordIsCutAt65Bytes) {
  ClockRecord record;
  const Bytes p = TextReply(200, 'B');
  ASSERT_TRUE(StoreReply(p, 203, record));
  EXPECT_EQ(std::string(record.text.data(), 65), std::string(65, 'B'));
  EXPECT_TRUE(record.longText);
}

TEST(StoreReplyTest, TextLengthComesFromTheLengthByte) {
  ClockRecord record;
  const Bytes p = TextReply(10, 'C');
  // Three bytes announced: the rest of the datagram is not text.
  ASSERT_TRUE(StoreReply(p, 6, record));
  EXPECT_EQ(Text(record.text.data(), 65), "CCC");
}

TEST(StoreReplyTest, RepliesShorterThanTheirLayoutChangeNothing) {
  struct Case {
    std::uint8_t code;
    std::size_t size;
    std::uint8_t lengthByte;
    std::uint8_t p1 = 0;
  };
  const Case cases[] = {
      {0x02, 26, 27}, {0x03, 21, 22, 0}, {0x03, 61, 62, 1}, {0x04, 180, 181}, {0x05, 13, 14},
      {0x0A, 2, 3},   {0x0A, 10, 20},    {0x0A, 5, 2},      {0x0E, 17, 18},   {0x10, 4, 5},
      {0x02, 1, 27},
  };
  for (const Case& c : cases) {
    ClockRecord record;
    record.firmwareMajor = 7;
    record.text.fill('k');
    const ClockRecord before = record;
    Bytes p(c.size, 0x5A);
    p[0] = c.code;
    if (c.size > 1) p[1] = c.p1;
    EXPECT_FALSE(StoreReply(p, c.lengthByte, record)) << int(c.code) << " size " << c.size;
    EXPECT_EQ(record, before) << int(c.code) << " size " << c.size;
  }
}

TEST(ReadSearchReplyTest, ReadsEveryField) {
  Bytes p(37, 0);
  p[0] = 0x01;
  std::memcpy(&p[1], "A1B2C3", 6);
  p[21] = 2;
  p[22] = 5;
  p[23] = 0xDE;
  p[26] = 0xEF;
  p[27] = 0x65;
  p[28] = 0xEC;
  p[29] = 0x6A;
  p[30] = 0xDC;
  p[31] = 192;
  p[32] = 168;
  p[33] = 1;
  p[34] = 1;
  p[35] = 0xEE;  // not read
  p[36] = 0x85;
  const auto reply = ReadSearchReply(p);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(Text(reply->serial.data(), 20), "A1B2C3");
  EXPECT_EQ(reply->firmwareMajor, 2);
  EXPECT_EQ(reply->firmwareMinor, 5);
  EXPECT_EQ(reply->searchWord, 0xDE0000EFu);
  EXPECT_EQ(reply->lastSyncTime, 0x65EC6ADCu);
  EXPECT_EQ(reply->syncServerIp, 0xC0A80101u);
  EXPECT_EQ(reply->radio, 0x85);
  p.pop_back();
  EXPECT_FALSE(ReadSearchReply(p).has_value());
}

TEST(HandlingTest, EveryCodeHasItsHandling) {
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<std::uint8_t>(code);
    ReplyHandling expected = ReplyHandling::Dropped;
    if (c == 0x01) expected = ReplyHandling::Search;
    if (c == 0x02 || c == 0x03 || c == 0x04 || c == 0x05 || c == 0x0A || c == 0x0E || c == 0x10)
      expected = ReplyHandling::Stored;
    if (c == 0x06 || c == 0x07 || c == 0x08 || c == 0x0B || c == 0x0F || c == 0x11)
      expected = ReplyHandling::ModifyResult;
    if (c == 0x09 || c == 0x0C || c == 0x0D) expected = ReplyHandling::Ignored;
    EXPECT_EQ(HandlingOf(c), expected) << code;
  }
}

TEST(ModifyAcceptedTest, OnlyResultOneIsSuccess) {
  EXPECT_TRUE(ModifyAccepted(Bytes{0x06, 1}));
  EXPECT_FALSE(ModifyAccepted(Bytes{0x06, 0}));
  EXPECT_FALSE(ModifyAccepted(Bytes{0x06, 2}));
  EXPECT_FALSE(ModifyAccepted(Bytes{0x06}));  // no result byte
}

}  // namespace
}  // namespace marindo
