// marindo-cli on a site of 18 simulated clocks in one namespace (site.json):
// healthy ones, two that refuse every change, a silent one, a late one and
// two that drop their first request. Many clocks in flight must give what
// one clock at a time gives, line for line, and every answer must land with
// the clock that sent it.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <nlohmann/json.hpp>

#include "E2eSupport.h"

namespace marindo::e2e {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr const char* kRange = "10.213.1.1-10.213.1.18";
constexpr int kClocks = 18;
constexpr int kRefusing[] = {13, 14};
constexpr int kSilent = 15;

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct CliOutcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::ostream& operator<<(std::ostream& stream, const CliOutcome& outcome) {
  return stream << "status " << outcome.status << "\n--- stdout\n" << outcome.out << "--- stderr\n" << outcome.err;
}

std::string Address(int clock) { return "10.213.1." + std::to_string(clock); }

class SiteE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    work_ = RunFolder() / "site" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(work_);
    fs::create_directories(work_);
    std::ofstream(work_ / "password.txt") << "Tulip@KVX\n";
    fs::permissions(work_ / "password.txt", fs::perms::owner_read | fs::perms::owner_write);
  }

  // Every clock back to the config: settings, and the faults that count down.
  void ResetSite() {
    const std::string command = Python() + " " + (ToolsFolder() / "clocksim" / "clocksimctl.py").string() +
                                " --socket " + (RunFolder() / "scale.ctl").string() + " reset >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  CliOutcome Cli(const std::string& arguments) const {
    const fs::path err = work_ / "stderr.txt";
    const std::string command = "MARINDO_SETTINGS=" + (work_ / "settings.ini").string() + " " + MARINDO_CLI +
                                " --password-file " + (work_ / "password.txt").string() + " " + arguments +
                                " </dev/null 2>" + err.string();
    const CommandOutcome run = RunCommand(command);
    CliOutcome outcome{run.status, run.out, FileText(err)};
    return outcome;
  }

  // The command at one clock at a time, then at the default width, each on
  // the clocks as the config has them.
  std::pair<CliOutcome, CliOutcome> OneThenMany(const std::string& arguments) {
    ResetSite();
    CliOutcome one = Cli("--parallel 1 " + arguments);
    ResetSite();
    CliOutcome many = Cli(arguments);
    return {one, many};
  }

  fs::path work_;
};

TEST_F(SiteE2eTest, BackupOfAMixedSiteIsTheSameAtAnyWidth) {
  const auto [one, many] = OneThenMany(std::string("backup ") + kRange);
  EXPECT_EQ(one.status, 1) << one;
  EXPECT_EQ(many.status, one.status) << many;
  EXPECT_EQ(many.out, one.out);
  EXPECT_EQ(many.err, one.err);

  // Each clock's own settings, in target order: no answer went to another clock.
  const Json site = Json::parse(many.out);
  ASSERT_EQ(site.at("clocks").size(), static_cast<std::size_t>(kClocks)) << many;
  for (int clock = 1; clock <= kClocks; ++clock) {
    const Json& saved = site.at("clocks").at(static_cast<std::size_t>(clock - 1));
    EXPECT_EQ(saved.at("address"), Address(clock));
    EXPECT_EQ(saved.at("serial"), "SITE" + std::string(clock < 10 ? "000" : "00") + std::to_string(clock));
    if (clock == kSilent) {
      EXPECT_FALSE(saved.contains("text")) << saved.dump();
      continue;
    }
    EXPECT_EQ(saved.at("text").at("text"), "CLOCK " + std::to_string(clock)) << Address(clock);
  }
}

TEST_F(SiteE2eTest, BackupOfAllIsTheSameAtAnyWidth) {
  // Clocks are worked while the broadcast search still finds them; the result
  // is still the whole site in the order found.
  const auto [one, many] = OneThenMany("backup all");
  EXPECT_EQ(one.status, 1) << one;
  EXPECT_EQ(many.status, one.status) << many;
  EXPECT_EQ(many.out, one.out);
  EXPECT_EQ(many.err, one.err);
  EXPECT_EQ(Json::parse(many.out).at("clocks").size(), static_cast<std::size_t>(kClocks)) << many;

  // Its restore: each clock written as the search finds it, the same lines.
  std::ofstream(work_ / "site.json") << many.out;
  const auto [restoreOne, restoreMany] = OneThenMany("--json restore " + (work_ / "site.json").string());
  EXPECT_EQ(restoreOne.status, 1) << restoreOne;
  EXPECT_EQ(restoreMany.status, restoreOne.status) << restoreMany;
  EXPECT_EQ(restoreMany.out, restoreOne.out);
  const Json results = Json::parse(restoreMany.out).at("results");
  ASSERT_EQ(results.size(), static_cast<std::size_t>(kClocks)) << restoreMany;
  for (int clock = 1; clock <= kClocks; ++clock) {
    const Json& result = results.at(static_cast<std::size_t>(clock - 1));
    EXPECT_EQ(result.at("address"), Address(clock));
    // The silent clock's backup holds no settings: nothing to write.
    const bool refusing = clock == kRefusing[0] || clock == kRefusing[1];
    EXPECT_EQ(result.at("ok"), !refusing) << result.dump();
    EXPECT_EQ(result.contains("sections"), clock != kSilent) << result.dump();
  }
}

TEST_F(SiteE2eTest, ApplyToAMixedSiteIsTheSameAtAnyWidth) {
  std::ofstream(work_ / "text.json") << R"({"text": {"text": "SITE WIDE"}})";
  const auto [one, many] = OneThenMany(std::string("--json apply ") + kRange + " " + (work_ / "text.json").string());
  EXPECT_EQ(one.status, 1) << one;
  EXPECT_EQ(many.status, one.status) << many;
  EXPECT_EQ(many.out, one.out);

  const Json results = Json::parse(many.out).at("results");
  ASSERT_EQ(results.size(), static_cast<std::size_t>(kClocks)) << many;
  for (int clock = 1; clock <= kClocks; ++clock) {
    const Json& result = results.at(static_cast<std::size_t>(clock - 1));
    EXPECT_EQ(result.at("address"), Address(clock));
    const bool refusing = clock == kRefusing[0] || clock == kRefusing[1];
    const std::string text = result.at("sections").at("text");
    if (clock == kSilent) {
      EXPECT_NE(text.find("No response"), std::string::npos) << text;
    } else {
      EXPECT_EQ(text, refusing ? "Modify failed!" : "Modify success!") << Address(clock);
    }
  }
}

TEST_F(SiteE2eTest, ARangeSearchFindsExactlyTheClocksInTheRange) {
  ResetSite();
  // 10.213.1.20-30 holds no clock; 10.213.1.10-17 holds eight, the silent
  // one included (it answers the search).
  const CliOutcome outcome = Cli("--json search 10.213.1.10-10.213.1.17,10.213.1.20-10.213.1.30");
  ASSERT_EQ(outcome.status, 0) << outcome;
  const Json listed = Json::parse(outcome.out);
  std::vector<std::string> found;
  for (const Json& clock : listed.at("clocks")) found.push_back(clock.at("address"));
  std::vector<std::string> expected;
  for (int clock = 10; clock <= 17; ++clock) expected.push_back(Address(clock));
  EXPECT_EQ(found, expected) << outcome;
}

TEST_F(SiteE2eTest, AMalformedRangeSendsNothing) {
  ResetSite();
  const int searchesBefore = ReceivedCount("scale", 0x01);
  const CliOutcome outcome = Cli("backup 10.212.0.0/15");
  EXPECT_EQ(outcome.status, 2) << outcome;
  EXPECT_NE(outcome.err.find("at most 65536"), std::string::npos) << outcome;
  EXPECT_EQ(ReceivedCount("scale", 0x01), searchesBefore);
}

}  // namespace
}  // namespace marindo::e2e
