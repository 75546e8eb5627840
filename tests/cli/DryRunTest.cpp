// apply and restore --dry-run against a clock on loopback: the plan is read
// from the clock's answers, nothing but queries reaches it, and the frame the
// plan names is the one a real run then sends.

#include "cli/Cli.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "link/ClockFrame.h"
#include "link/CommandCodes.h"
#include "link/LinkTestFakes.h"
#include "link/LoopbackPeer.h"
#include "settings/SectionPlan.h"

namespace marindo {
namespace {

using testing::Bytes;
using testing::LoopbackPeer;
using testing::PeerDatagram;
using namespace std::chrono_literals;

constexpr std::uint32_t kClock = 0x7F000002;

// The text reply of a short-text clock: lead byte, mode byte (roll), text.
Bytes TextReply(const std::string& text) {
  Bytes p(3 + 33, 0);
  p[0] = code::kQueryText;
  std::copy(text.begin(), text.end(), p.begin() + 3);
  return testing::FrameBytes(p);
}

class NoPasswords : public PasswordSource {
 public:
  std::optional<std::string> AskPassword(const std::string&) override { return std::nullopt; }
};

// One clock showing "HI" that answers the search, the text query (unless
// told to stay silent) and the text modify.
class DryRunTest : public ::testing::Test {
 protected:
  DryRunTest() {
    std::filesystem::create_directories(folder_);
    password_ = Write("pw", "Tulip@KVX\n");
    std::filesystem::permissions(password_, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    clock_.Start([this](std::size_t, const PeerDatagram& datagram) -> std::vector<Bytes> {
      const std::uint8_t code = datagram.bytes.size() > 4 ? datagram.bytes[4] : 0;
      if (code == code::kSearch) return {testing::SearchReplyFrame("LOOP1", 1)};
      if (code == code::kQueryText && answersText_) return {TextReply("HI")};
      if (code == code::kModifyText) return {testing::FrameBytes({code::kModifyResult, 1})};
      return {};
    });
  }
  ~DryRunTest() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    args.insert(args.end(), {"--password-file", password_});
    CliEnvironment env{.out = out_,
                       .err = err_,
                       .progress = stderr,
                       .passwords = passwords_,
                       .adapters = adapters_,
                       .neighbours = neighbours_,
                       .probe = probe_,
                       .settingsFile = folder_ / "Tessaly.ini",
                       .codePage = CodePage::Cp1252,
                       .now = [] { return std::int64_t{1700000000}; }};
    env.linkTimings.bindIp = 0x7F000001;
    env.linkTimings.localPort = 0;
    env.linkTimings.clockPort = clock_.Port();
    env.linkTimings.replyWait = 100ms;
    return RunCli(args, env);
  }

  std::vector<Bytes> Modifies() const {
    std::vector<Bytes> modifies;
    for (const PeerDatagram& datagram : clock_.Received()) {
      if (datagram.bytes.size() > 4 && datagram.bytes[4] == code::kModifyText) modifies.push_back(datagram.bytes);
    }
    return modifies;
  }

  std::filesystem::path folder_ =
      std::filesystem::temp_directory_path() / ("marindo-dry-run-test-" + std::to_string(::getpid()));
  std::string password_;
  std::ostringstream out_;
  std::ostringstream err_;
  NoPasswords passwords_;
  testing::NoAdapters adapters_;
  testing::NoNeighbours neighbours_;
  testing::ClosedPorts probe_;
  std::atomic<bool> answersText_{true};
  LoopbackPeer clock_{kClock};
};

TEST_F(DryRunTest, PrintsEachChangeAndSendsOnlyQueries) {
  struct Case {
    const char* file;
    int status;
    const char* line;  // on the clock's row of the plan
  };
  const Case cases[] = {
      {R"({"text": {"text": "BYE"}})", kCliDone, R"(text.text: "HI" → "BYE")"},
      {R"({"text": {"text": "HI"}})", kCliDone, "text: no change"},
      {R"({"text": {"mode": "alternate"}})", kCliDone, R"(text.mode: "roll" → "alternate")"},
      // A refusal of the file's values is reported as the real run reports it.
      {R"({"text": {"text": "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"}})", kCliClockFailed, "text: text.text"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run({"apply", "127.0.0.2", Write("settings.json", c.file), "--dry-run"}), c.status) << c.file;
    EXPECT_NE(out_.str().find("127.0.0.2  LOOP1   " + std::string(c.line)), std::string::npos) << out_.str();
  }
  EXPECT_TRUE(Modifies().empty());
}

TEST_F(DryRunTest, ASilentClockIsStillAFailure) {
  answersText_ = false;
  EXPECT_EQ(Run({"apply", "127.0.0.2", Write("settings.json", R"({"text": {"text": "BYE"}})"), "--dry-run"}),
            kCliClockFailed);
  EXPECT_NE(out_.str().find("text: No response from 127.0.0.2!"), std::string::npos) << out_.str();
  EXPECT_TRUE(Modifies().empty());
}

TEST_F(DryRunTest, RestoreFindsItsClockAndPlans) {
  const std::string site = Write("site.json", R"({"format": "marindo-site", "version": 1, "clocks": [
      {"serial": "LOOP1", "mac": "00-00-00-00-00-00", "text": {"text": "SAVED"}}]})");
  EXPECT_EQ(Run({"restore", site, "--to", "127.0.0.2", "--clock", "LOOP1", "--dry-run"}), kCliDone) << err_.str();
  EXPECT_NE(out_.str().find(R"(text.text: "HI" → "SAVED")"), std::string::npos) << out_.str();
  EXPECT_TRUE(Modifies().empty());
}

// The plan's frame is what the real run sends, byte for byte.
TEST_F(DryRunTest, TheRealRunSendsThePlannedFrame) {
  const std::string file = Write("settings.json", R"({"text": {"text": "BYE", "mode": "alternate"}})");
  ASSERT_EQ(Run({"apply", "127.0.0.2", file, "--dry-run", "--json"}), kCliDone) << err_.str();
  const nlohmann::json plan = nlohmann::json::parse(out_.str());
  const nlohmann::json& clock = plan.at("plan").at(0);
  EXPECT_EQ(clock.at("address"), "127.0.0.2");
  EXPECT_EQ(clock.at("ok"), true);
  const nlohmann::json& text = clock.at("sections").at("text");
  EXPECT_EQ(text.at("changes"), nlohmann::json::parse(R"([
      {"field": "text.mode", "old": "roll", "new": "alternate"},
      {"field": "text.alternateSeconds", "new": 2},
      {"field": "text.text", "old": "HI", "new": "BYE"}])"));
  ASSERT_TRUE(Modifies().empty());

  ASSERT_EQ(Run({"apply", "127.0.0.2", file}), kCliDone) << out_.str() << err_.str();
  const std::vector<Bytes> sent = Modifies();
  ASSERT_EQ(sent.size(), 1U);
  std::string hex;
  for (std::uint8_t byte : sent[0]) {
    static constexpr const char* kDigits = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  EXPECT_EQ(text.at("frame"), hex);
}

TEST_F(DryRunTest, BelongsToApplyAndRestoreOnly) {
  for (const char* command : {"show", "backup"}) {
    EXPECT_EQ(Run({command, "127.0.0.2", "--dry-run"}), kCliBadInput) << command;
    EXPECT_NE(err_.str().find("--dry-run belongs to apply and restore"), std::string::npos) << err_.str();
  }
  EXPECT_TRUE(clock_.Received().empty());
}

}  // namespace
}  // namespace marindo
