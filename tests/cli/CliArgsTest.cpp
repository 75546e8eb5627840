#include "cli/CliArgs.h"

#include <gtest/gtest.h>

#include <optional>
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
      {{"search", "--unicast", "10.0.0.1", "10.0.0.0/24"}, "search takes --unicast IP or TARGET, not both"},
      {{"--parallel", "0", "backup", "all"}, "--parallel takes a whole number from 1 to 1024"},
      {{"--parallel", "1025", "backup", "all"}, "--parallel takes a whole number from 1 to 1024"},
      {{"--transfers", "eight", "log", "all", "/tmp"}, "--transfers takes a whole number from 1 to 64"},
      {{"--rate", "-5", "search"}, "--rate takes a whole number from 1 to 1000000"},
      {{"--rate", "99999999999999999999", "search"}, "--rate takes a whole number from 1 to 1000000"},
      {{"serve", "all", "10.0.0.0/24"}, "serve: unexpected argument \"10.0.0.0/24\""},
      {{"serve", "--interval", "0"}, "--interval takes a whole number from 1 to 86400"},
      {{"serve", "--interval", "86401"}, "--interval takes a whole number from 1 to 86400"},
      {{"serve", "--forget-after", "-1"}, "--forget-after takes a whole number from 1 to 31536000"},
      {{"serve", "--listen"}, "--listen needs a value"},
      {{"serve", "--config", "a", "--config", "b"}, "--config is given twice"},
      {{"search", "--listen", "127.0.0.1:9477"}, "--listen, --interval, --forget-after and --config belong to serve"},
      {{"backup", "all", "--interval", "5"}, "--listen, --interval, --forget-after and --config belong to serve"},
      {{"serve", "--password-file", "pw"}, "serve reads no password: leave out --password-file"},
  };
  for (const Case& c : cases) {
    const auto parsed = Parse(c.args);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.expected;
    EXPECT_EQ(std::get<std::string>(parsed), c.expected);
  }
}

// How words become options, values and operands: "--name=value" as well as
// "--name value", "--" before operands that look like options, options after
// the operands, and operands passed on exactly as given.
TEST(CliArgsTest, ReadsEachWordAsOptionValueOrOperand) {
  struct Case {
    std::vector<std::string> args;
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> passwordFile;
    std::optional<std::string> unicast;
    bool json;
    std::size_t parallel;
    int rate;
  };
  const Case cases[] = {
      {{"--rate=500", "search", "10.0.0.0/24"}, "search", {"10.0.0.0/24"}, {}, {}, false, 64, 500},
      {{"search", "--unicast=10.0.0.1", "--json"}, "search", {}, {}, "10.0.0.1", true, 64, 10000},
      {{"backup", "all", "--parallel", "8", "--password-file=/tmp/pw"}, "backup", {"all"}, "/tmp/pw", {}, false, 8,
       10000},
      // A value option takes the next word, whatever it looks like.
      {{"--password-file", "--json", "backup", "all"}, "backup", {"all"}, "--json", {}, false, 64, 10000},
      {{"--password-file", "--", "backup", "all"}, "backup", {"all"}, "--", {}, false, 64, 10000},
      // After "--" every word is an operand, the command word included.
      {{"--", "show", "all", "--json"}, "show", {"all", "--json"}, {}, {}, false, 64, 10000},
      {{"show", "--", "-", "--"}, "show", {"-", "--"}, {}, {}, false, 64, 10000},
      // Given again, the last number counts; flags may come twice.
      {{"--parallel", "5", "--json", "backup", "all", "--parallel", "7", "--json"}, "backup", {"all"}, {}, {}, true, 7,
       10000},
      // Brackets, commas and empty words are operands as they stand.
      {{"show", "[10.0.0.1,10.0.0.2]", ""}, "show", {"[10.0.0.1,10.0.0.2]", ""}, {}, {}, false, 64, 10000},
      {{"--password-file", "", "apply", "all", "{}"}, "apply", {"all", "{}"}, "", {}, false, 64, 10000},
  };
  for (const Case& c : cases) {
    const std::string line = ::testing::PrintToString(c.args);
    const auto parsed = Parse(c.args);
    ASSERT_TRUE(std::holds_alternative<CliArgs>(parsed)) << line << ": " << std::get<std::string>(parsed);
    const CliArgs& args = std::get<CliArgs>(parsed);
    EXPECT_EQ(args.command, c.command) << line;
    EXPECT_EQ(args.operands, c.operands) << line;
    EXPECT_EQ(args.passwordFile, c.passwordFile) << line;
    EXPECT_EQ(args.unicast, c.unicast) << line;
    EXPECT_EQ(args.json, c.json) << line;
    EXPECT_FALSE(args.help) << line;
    EXPECT_EQ(args.parallel, c.parallel) << line;
    EXPECT_EQ(args.rate, c.rate) << line;
  }
}

// Forms a general option parser accepts but this command line does not, and a
// line with several mistakes: the first one from the left is told.
TEST(CliArgsTest, RefusesTheFirstMistakeFromTheLeft) {
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const Case cases[] = {
      {{"--password-file=a", "--password-file", "b", "search"}, "--password-file is given twice"},
      {{"restore", "f.json", "--clock", "A1", "--clock=B2"}, "--clock is given twice"},
      {{"--parallel", "5", "--parallel", "0", "backup", "all"}, "--parallel takes a whole number from 1 to 1024"},
      {{"--rate=0x10", "search"}, "--rate takes a whole number from 1 to 1000000"},
      // An empty value after "=" is none; the next word is not taken instead.
      {{"search", "--rate="}, "--rate needs a value"},
      {{"--password-file=", "apply", "all", "f.json"}, "--password-file needs a value"},
      {{"--json=no", "search"}, "unknown option \"--json=no\""},
      {{"--help=1"}, "unknown option \"--help=1\""},
      {{"search", "-x"}, "unknown option \"-x\""},
      {{"search", "-5"}, "unknown option \"-5\""},
      {{"search", "---unicast", "10.0.0.1"}, "unknown option \"---unicast\""},
      {{"--Json", "search"}, "unknown option \"--Json\""},
      {{"--jso", "search"}, "unknown option \"--jso\""},
      {{"--", "--help"}, "unknown command \"--help\""},
      {{"--verbose", "--rate", "0", "search"}, "unknown option \"--verbose\""},
      {{"--rate", "0", "--verbose", "search"}, "--rate takes a whole number from 1 to 1000000"},
      {{"--rate", "0", "search", "--unicast"}, "--rate takes a whole number from 1 to 1000000"},
      {{"search", "--verbose", "--unicast"}, "unknown option \"--verbose\""},
      {{"--to", "10.0.0.1", "search", "--unicast"}, "--unicast needs a value"},
      {{"backup", "--parallel", "0", "--transfers", "99"}, "--parallel takes a whole number from 1 to 1024"},
      {{"backup", "--transfers", "99", "--parallel", "0"}, "--transfers takes a whole number from 1 to 64"},
  };
  for (const Case& c : cases) {
    const auto parsed = Parse(c.args);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << ::testing::PrintToString(c.args);
    EXPECT_EQ(std::get<std::string>(parsed), c.expected) << ::testing::PrintToString(c.args);
  }
}

TEST(CliArgsTest, SiteOptionsHaveDefaultsAndTakeNumbers) {
  const auto defaults = Parse({"backup", "all"});
  ASSERT_TRUE(std::holds_alternative<CliArgs>(defaults));
  EXPECT_EQ(std::get<CliArgs>(defaults).parallel, 64u);
  EXPECT_EQ(std::get<CliArgs>(defaults).transfers, 8u);
  EXPECT_EQ(std::get<CliArgs>(defaults).rate, 10000);
  const auto given = Parse({"--parallel", "1", "--transfers", "2", "--rate", "500", "search", "10.0.0.0/24"});
  ASSERT_TRUE(std::holds_alternative<CliArgs>(given));
  EXPECT_EQ(std::get<CliArgs>(given).parallel, 1u);
  EXPECT_EQ(std::get<CliArgs>(given).transfers, 2u);
  EXPECT_EQ(std::get<CliArgs>(given).rate, 500);
  EXPECT_EQ(std::get<CliArgs>(given).operands, std::vector<std::string>{"10.0.0.0/24"});
}

// What serve is not given stays unset, so that its config file's value
// counts; what it is given overrides the file.
TEST(CliArgsTest, ServeOptionsAreKeptOnlyWhenGiven) {
  const auto defaults = Parse({"serve"});
  ASSERT_TRUE(std::holds_alternative<CliArgs>(defaults)) << std::get<std::string>(defaults);
  const CliArgs& none = std::get<CliArgs>(defaults);
  EXPECT_EQ(none.command, "serve");
  EXPECT_TRUE(none.operands.empty());
  EXPECT_FALSE(none.listen || none.config || none.interval || none.forgetAfter);

  const auto given = Parse({"serve", "10.20.0.0/22", "--listen=0.0.0.0:9100", "--interval", "30",
                            "--forget-after", "600", "--config", "/etc/marindo/exporter.conf", "--rate", "500"});
  ASSERT_TRUE(std::holds_alternative<CliArgs>(given)) << std::get<std::string>(given);
  const CliArgs& args = std::get<CliArgs>(given);
  EXPECT_EQ(args.operands, std::vector<std::string>{"10.20.0.0/22"});
  EXPECT_EQ(args.listen, "0.0.0.0:9100");
  EXPECT_EQ(args.interval, 30);
  EXPECT_EQ(args.forgetAfter, 600);
  EXPECT_EQ(args.config, "/etc/marindo/exporter.conf");
  EXPECT_EQ(args.rate, 500);
  EXPECT_NE(UsageText("serve").find("Usage: marindo-cli serve [TARGET]"), std::string::npos);
  EXPECT_NE(UsageText("").find("serve [TARGET]"), std::string::npos);
}

// "-" is a value of --trace (standard error), not an option.
TEST(CliArgsTest, TraceTakesAFileOrADash) {
  struct Case {
    std::vector<std::string> line;
    std::string trace;
  };
  const Case cases[] = {
      {{"--trace", "-", "search"}, "-"},
      {{"search", "--trace=-"}, "-"},
      {{"show", "all", "--trace", "/tmp/t.log"}, "/tmp/t.log"},
      {{"serve", "--trace", "t.log"}, "t.log"},
  };
  for (const Case& c : cases) {
    const auto parsed = Parse(c.line);
    ASSERT_TRUE(std::holds_alternative<CliArgs>(parsed)) << std::get<std::string>(parsed);
    EXPECT_EQ(std::get<CliArgs>(parsed).trace, c.trace);
  }
  EXPECT_EQ(std::get<std::string>(Parse({"search", "--trace"})), "--trace needs a value");
  EXPECT_EQ(std::get<std::string>(Parse({"--trace", "a", "--trace", "b", "search"})), "--trace is given twice");
}

}  // namespace
}  // namespace marindo
