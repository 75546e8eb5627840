#include "platform/Ipv4.h"

#include <gtest/gtest.h>

namespace marindo {
namespace {

TEST(Ipv4Test, FormatsDottedDecimal) {
  EXPECT_EQ(FormatIpv4(0xC0A80114), "192.168.1.20");
  EXPECT_EQ(FormatIpv4(0), "0.0.0.0");
  EXPECT_EQ(FormatIpv4(0xFFFFFFFF), "255.255.255.255");
  EXPECT_EQ(FormatIpv4(0x0A000007), "10.0.0.7");
}

TEST(Ipv4Test, ParsesByInetAddrRules) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> value;
  };
  const Case cases[] = {
      {"192.168.1.20", 0xC0A80114},
      {"0.0.0.0", 0},
      {"255.255.255.255", 0xFFFFFFFF},
      {"10.1", 0x0A000001},        // last part fills the remaining bytes
      {"0x7f.1", 0x7F000001},      // hex part
      {"010.0.0.1", 0x08000001},   // octal part
      {"", std::nullopt},
      {"256.1.1.1", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"clock", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseIpv4(c.text), c.value) << c.text;
  }
}

TEST(Ipv4Test, DottedQuadTakesOnlyFourDecimalParts) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> value;
  };
  const Case cases[] = {
      {"192.168.1.20", 0xC0A80114}, {"0.0.0.0", 0},           {"255.255.255.255", 0xFFFFFFFF},
      {"10.1", std::nullopt},       {"0x7f.0.0.1", std::nullopt}, {"256.1.1.1", std::nullopt},
      {"1.2.3.4 ", std::nullopt},   {"", std::nullopt},       {"all", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDottedQuad(c.text), c.value) << c.text;
  }
}

TEST(Ipv4Test, BigEndianRoundTrip) {
  std::uint8_t bytes[4]{};
  WriteBe32(bytes, 0xC0A80101);
  EXPECT_EQ(bytes[0], 0xC0);
  EXPECT_EQ(bytes[3], 0x01);
  EXPECT_EQ(ReadBe32(bytes), 0xC0A80101u);
}

}  // namespace
}  // namespace marindo
