#include "cli/CliArgs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marindo {
namespace {

std::variant<CliArgs, std::string> Parse(std::vector<std::string> args) { return ParseCliArgs(args); }

TEST(CliArgsTest, ReadsCommandsOperandsAndOptionsInAnyOrder) {
  const auto parsed = Parse({"--json", "apply", "10.0.0.5,10.0.0.6", "--password-file", "/tmp/pw", "site.json"});
  ASSERT_TRUE(std::holds_alternative<CliArgs>(parsed)) << std::get<std::string>(parsed);
  const CliArgs& args = std::get<CliArgs>(parsed);
  EXPECT_EQ(args.command, "apply");
  EXPECT_TRUE(args.json);
  EXPECT_EQ(args.passwordFile, "/tmp/pw");
  EXPECT_EQ(args.operands, (std::vector<std::string>{"10.0.0.5,10.0.0.6", "site.json"}));
}

TEST(CliArgsTest, ACommandWordAfterTheCommandIsAnOperand) {
  const auto parsed = Parse({"show", "all", "log"});
  ASSERT_TRUE(std::holds_alternative<CliArgs>(parsed));
  EXPECT_EQ(std::get<CliArgs>(parsed).operands, (std::vector<std::string>{"all", "log"}));
}

TEST(CliArgsTest, HelpNeedsNoOperands) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"apply", "--help"}, {"-h", "restore"}}) {
    const auto parsed = Parse(args);
    ASSERT_TRUE(std::holds_alternative<CliArgs>(parsed)) << args.front();
    EXPECT_TRUE(std::get<CliArgs>(parsed).help);
  }
  EXPECT_NE(UsageText("apply"), UsageText(""));
  EXPECT_NE(UsageText("apply").find("apply TARGET FILE.json"), std::string::npos);
}

TEST(CliArgsTest, RefusesMalformedCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const Case cases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"show"}, "show: missing arguments"},
      {{"apply", "all"}, "apply: missing arguments"},
      {{"backup", "all", "extra"}, "backup: unexpected argument \"extra\""},
      {{"search", "--verbose"}, "unknown option \"--verbose\""},
      {{"search", "--unicast"}, "--unicast needs a value"},
      {{"show", "all", "--unicast", "10.0.0.1"}, "--unicast belongs to search"},
      {{"apply", "all", "f.json", "--to", "10.0.0.1"}, "--to and --clock belong to restore"},
      {{"--password-file", "a", "--password-file", "b", "search"}, "--password-file is given twice"},
  };
  for (const Case& c : cases) {
    const auto parsed = Parse(c.args);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.expected;
    EXPECT_EQ(std::get<std::string>(parsed), c.expected);
  }
}

TEST(CliArgsTest, TargetsAreAllOrAddressListsWithoutRepeats) {
  const auto all = ParseTargets("all");
  ASSERT_TRUE(std::holds_alternative<Targets>(all));
  EXPECT_TRUE(std::get<Targets>(all).all);

  const auto list = ParseTargets("10.0.0.5,10.0.0.6,10.0.0.5");
  ASSERT_TRUE(std::holds_alternative<Targets>(list));
  EXPECT_FALSE(std::get<Targets>(list).all);
  EXPECT_EQ(std::get<Targets>(list).addresses, (std::vector<std::uint32_t>{0x0A000005, 0x0A000006}));
}

TEST(CliArgsTest, RefusesTargetsThatAreNoClockAddress) {
  for (const char* text : {"", "ALL", "10.0.0", "10.0.0.5,", "10.0.0.256", "0.0.0.0", "255.255.255.255",
                           "10.0.0.5, 10.0.0.6", "hall"}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(ParseTargets(text))) << text;
  }
}

}  // namespace
}  // namespace marindo
