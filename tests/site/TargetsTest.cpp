#include "site/Targets.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace marindo {
namespace {

TEST(TargetsTest, TargetsAreAllOrAddressListsWithoutRepeats) {
  const auto all = ParseTargets("all");
  ASSERT_TRUE(std::holds_alternative<Targets>(all));
  EXPECT_TRUE(std::get<Targets>(all).all);

  const auto list = ParseTargets("10.0.0.5,10.0.0.6,10.0.0.5");
  ASSERT_TRUE(std::holds_alternative<Targets>(list));
  EXPECT_FALSE(std::get<Targets>(list).all);
  EXPECT_EQ(std::get<Targets>(list).addresses, (std::vector<std::uint32_t>{0x0A000005, 0x0A000006}));
}

TEST(TargetsTest, RangesListTheirAddressesInOrder) {
  struct Case {
    std::string text;
    std::size_t count;
    std::uint32_t first;
    std::uint32_t last;
    std::size_t required;
  };
  const Case cases[] = {
      {"10.20.0.0/22", 1022, 0x0A140001, 0x0A1403FE, 0},  // without network and broadcast address
      {"10.20.0.10-10.20.0.200", 191, 0x0A14000A, 0x0A1400C8, 0},
      {"10.20.0.7-10.20.0.7", 1, 0x0A140007, 0x0A140007, 0},
      {"10.20.0.4/31", 2, 0x0A140004, 0x0A140005, 0},
      {"10.20.0.4/32", 1, 0x0A140004, 0x0A140004, 0},
      {"10.0.0.0/16", 65534, 0x0A000001, 0x0A00FFFE, 0},
      // An address given alone must answer, also when a range holds it too.
      {"10.20.0.9,10.20.0.8/30,10.20.0.1", 3, 0x0A140009, 0x0A140001, 2},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseTargets(c.text);
    ASSERT_TRUE(std::holds_alternative<Targets>(parsed)) << c.text << ": " << std::get<std::string>(parsed);
    const Targets& targets = std::get<Targets>(parsed);
    ASSERT_EQ(targets.addresses.size(), c.count) << c.text;
    EXPECT_EQ(targets.addresses.front(), c.first) << c.text;
    EXPECT_EQ(targets.addresses.back(), c.last) << c.text;
    EXPECT_EQ(targets.required.size(), c.required) << c.text;
  }
}

TEST(TargetsTest, RefusesMalformedAndOversizedRanges) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"10.20.0.5/22", "\"10.20.0.5/22\" is not a network address: did you mean 10.20.0.0/22?"},
      {"10.20.0.0/33", "\"10.20.0.0/33\" is not a network (an address, / and a prefix length 0-32, like 10.20.0.0/22)"},
      {"10.20.0.0/", "\"10.20.0.0/\" is not a network (an address, / and a prefix length 0-32, like 10.20.0.0/22)"},
      {"10.20/16", "\"10.20/16\" is not a network (an address, / and a prefix length 0-32, like 10.20.0.0/22)"},
      {"10.20.0.9-10.20.0.1", "range \"10.20.0.9-10.20.0.1\" ends before it starts"},
      {"10.20.0.9-", "range \"\" is not an address (four numbers 0-255, like 10.0.0.5)"},
      {"10.0.0.0/15", "range \"10.0.0.0/15\" holds 131070 addresses; at most 65536 can be searched at once"},
      {"10.0.0.0-10.1.0.0", "range \"10.0.0.0-10.1.0.0\" holds 65537 addresses; at most 65536 can be searched at once"},
      {"10.0.0.0/16,10.1.0.0/16", "the targets hold more than 65536 addresses; search at most that many at once"},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseTargets(c.text);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
    EXPECT_EQ(std::get<std::string>(parsed), c.expected);
  }
}

TEST(TargetsTest, RefusesTargetsThatAreNoClockAddress) {
  for (const char* text : {"", "ALL", "10.0.0", "10.0.0.5,", "10.0.0.256", "0.0.0.0", "255.255.255.255",
                           "10.0.0.5, 10.0.0.6", "hall"}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(ParseTargets(text))) << text;
  }
}

}  // namespace
}  // namespace marindo
