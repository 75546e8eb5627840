// Sections written to clocks on loopback: what each clock answered, the
// display settings judged by what the clock reports afterwards, and the
// sections that are never sent once the clock went silent or a stop came.

#include "site/SectionWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <mutex>

#include "link/CommandCodes.h"
#include "link/LinkTestFakes.h"
#include "link/LoopbackPeer.h"
#include "link/SiteEngine.h"
#include "settings/ModifyMessages.h"

namespace marindo {
namespace {

using testing::Bytes;
using testing::LoopbackPeer;
using testing::PeerDatagram;
using namespace std::chrono_literals;

constexpr std::uint32_t kClock = 0x7F000002;
constexpr std::uint32_t kOtherClock = 0x7F000003;

std::uint8_t CodeOf(const PeerDatagram& datagram) { return datagram.bytes.size() > 4 ? datagram.bytes[4] : 0; }

// A short-text clock without a sensor. It answers the search, the text and
// display queries and both modifies as its switches say; a display modify
// it applies shows in its later display reply and search reply (the radio
// byte), as a real clock's does.
class ScriptedClock {
 public:
  static constexpr int kSilent = -1;

  ScriptedClock(std::uint32_t ip, std::uint16_t port = 0) : peer_(ip, port) {
    peer_.Start([this](std::size_t, const PeerDatagram& datagram) { return Answer(datagram); });
  }

  std::uint16_t Port() const { return peer_.Port(); }

  std::vector<std::uint8_t> Codes() const {
    std::vector<std::uint8_t> codes;
    for (const PeerDatagram& datagram : peer_.Received()) codes.push_back(CodeOf(datagram));
    return codes;
  }
  bool Received(std::uint8_t code) const {
    const std::vector<std::uint8_t> codes = Codes();
    return std::ranges::find(codes, code) != codes.end();
  }

  std::atomic<int> textVerdict{1};  // the modify result, or kSilent
  std::atomic<bool> answersDisplay{true};
  std::atomic<bool> appliesDisplay{true};

 private:
  std::vector<Bytes> Answer(const PeerDatagram& datagram) {
    const std::uint8_t code = CodeOf(datagram);
    const std::lock_guard lock(mutex_);
    if (code == code::kSearch) return {testing::SearchReplyFrame("LOOP1", 1, 0, 0, radio_)};
    if (code == code::kQueryText) return {TextReply()};
    if (code == code::kModifyText) {
      if (textVerdict == kSilent) return {};
      return {testing::FrameBytes({code::kModifyResult, static_cast<std::uint8_t>(textVerdict)})};
    }
    if (code == code::kQueryDisplay && answersDisplay) return {DisplayReply()};
    if (code == code::kModifyDisplay && answersDisplay) {
      const std::size_t start = 4 + wire::display::kCountdownStart;
      if (appliesDisplay && datagram.bytes.size() > 4 + wire::display::kModifyRadio) {
        std::copy_n(datagram.bytes.begin() + static_cast<long>(start), countdown_.size(), countdown_.begin());
        radio_ = datagram.bytes[4 + wire::display::kModifyRadio];
      }
      // Its answer carries no verdict.
      return {DisplayReply()};
    }
    return {};
  }

  static Bytes TextReply() {
    Bytes p(3 + 33, 0);
    p[0] = code::kQueryText;
    p[3] = 'H';
    p[4] = 'I';
    return testing::FrameBytes(p);
  }

  Bytes DisplayReply() const {
    Bytes p(wire::display::kSize, 0);
    p[0] = code::kQueryDisplay;
    std::ranges::copy(countdown_, p.begin() + wire::display::kCountdownStart);
    return testing::FrameBytes(p);
  }

  std::mutex mutex_;
  std::array<std::uint8_t, 6> countdown_{};
  std::uint8_t radio_ = 0;
  LoopbackPeer peer_;
};

const Json kNewText = Json::parse(R"({"text": "BYE"})");
const Json kNewDisplay = Json::parse(R"({"countdownStart": {"hour": 7}, "radio": {"on": true}})");

class SectionWriterTest : public ::testing::Test {
 protected:
  LinkTimings Timings() const {
    LinkTimings timings;
    timings.bindIp = 0x7F000001;
    timings.localPort = 0;
    timings.clockPort = clock_.Port();
    timings.replyWait = 100ms;
    timings.searchQuiet = 100ms;
    return timings;
  }

  // The writer over a link that has heard the clock's search reply, as the
  // front ends' writers are.
  SectionWriter& Writer() {
    EXPECT_TRUE(writer_.SearchOne(kClock));
    return writer_;
  }

  testing::NoAdapters adapters_;
  testing::NoNeighbours neighbours_;
  testing::ClosedPorts probe_;
  ClockNames names_{std::filesystem::temp_directory_path() / "marindo-section-writer-test-none.ini",
                    CodePage::Cp1252};
  ScriptedClock clock_{kClock};
  ClockLink link_{LinkServices{adapters_, neighbours_, probe_, names_}, Timings()};
  SectionWriter writer_{link_, CodePage::Cp1252};
};

TEST_F(SectionWriterTest, TheClocksVerdictIsTheOutcome) {
  struct Case {
    int verdict;
    const char* text;
    bool ok;
    bool silent;
  };
  const Case cases[] = {
      {1, kModifySuccess, true, false},
      {0, kModifyFailed, false, false},
      {ScriptedClock::kSilent, "No response from 127.0.0.2!", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.verdict);
    clock_.textVerdict = c.verdict;
    const SectionOutcome outcome = Writer().Write(kClock, Section::Text, kNewText);
    EXPECT_EQ(outcome.section, Section::Text);
    EXPECT_EQ(outcome.text, c.text);
    EXPECT_EQ(outcome.ok, c.ok);
    EXPECT_EQ(outcome.silent, c.silent);
  }
}

// The display modify's answer says nothing; the settings the clock reports
// afterwards, read back by search and query, say whether it took them.
TEST_F(SectionWriterTest, TheDisplaySettingsAreJudgedByWhatTheClockReportsAfterwards) {
  // The refusal first: a clock that already shows the new values would pass.
  for (const bool applies : {false, true}) {
    SCOPED_TRACE(applies);
    clock_.appliesDisplay = applies;
    const std::size_t before = clock_.Codes().size();
    const SectionOutcome outcome = Writer().Write(kClock, Section::Display, kNewDisplay);
    EXPECT_EQ(outcome.text, applies ? kModifySuccess : kModifyFailed);
    EXPECT_EQ(outcome.ok, applies);
    EXPECT_FALSE(outcome.silent);
    std::vector<std::uint8_t> codes = clock_.Codes();
    codes.erase(codes.begin(), codes.begin() + static_cast<long>(before));
    EXPECT_EQ(codes, (std::vector<std::uint8_t>{code::kSearch, code::kQueryDisplay, code::kModifyDisplay,
                                                code::kSearch, code::kQueryDisplay}));
  }
}

// Once the stop is asked for, the section under way ends and no further one
// starts: nothing of them reaches the clock.
TEST_F(SectionWriterTest, AStopLeavesTheRestNotSent) {
  const Json clock = {{"display", kNewDisplay}, {"text", kNewText}, {"basic", {{"brightness", "Dim"}}}};
  int asked = 0;
  const std::vector<SectionOutcome> outcomes =
      Writer().WriteAll(kClock, clock, nullptr, [&asked] { return ++asked > 1; });
  ASSERT_EQ(outcomes.size(), 3U);
  EXPECT_EQ(outcomes[0].section, Section::Display);
  EXPECT_EQ(outcomes[0].text, kModifySuccess);
  for (std::size_t i : {1U, 2U}) {
    EXPECT_EQ(outcomes[i].text, kNotSent);
    EXPECT_FALSE(outcomes[i].ok);
    EXPECT_FALSE(outcomes[i].silent);
  }
  EXPECT_EQ(outcomes[1].section, Section::Text);
  EXPECT_EQ(outcomes[2].section, Section::Basic);
  for (std::uint8_t code : {code::kQueryText, code::kModifyText, code::kQueryBasic, code::kModifyBasic}) {
    EXPECT_FALSE(clock_.Received(code)) << int{code};
  }
}

// A clock that let a section go unanswered would cost each further section
// the whole budget again for the same answer.
TEST_F(SectionWriterTest, AfterASilentSectionTheRestAreNotSent) {
  clock_.answersDisplay = false;
  const Json clock = {{"text", kNewText}, {"display", kNewDisplay}};
  const std::vector<SectionOutcome> outcomes = Writer().WriteAll(kClock, clock);
  ASSERT_EQ(outcomes.size(), 2U);
  EXPECT_EQ(outcomes[0].section, Section::Display) << "written in write order, not the file's";
  EXPECT_EQ(outcomes[1].section, Section::Text);
  for (const SectionOutcome& outcome : outcomes) {
    EXPECT_EQ(outcome.text, "No response from 127.0.0.2!");
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.silent);
  }
  EXPECT_FALSE(clock_.Received(code::kQueryText));
  EXPECT_FALSE(clock_.Received(code::kModifyText));
}

// Each clock's outcome comes from that clock while both are written at once.
TEST_F(SectionWriterTest, ClocksWrittenAtOnceEachGetTheirOwnVerdict) {
  ScriptedClock other(kOtherClock, clock_.Port());
  other.textVerdict = 0;
  const std::array<std::uint32_t, 2> ips{kClock, kOtherClock};
  for (std::uint32_t ip : ips) ASSERT_TRUE(writer_.SearchOne(ip));
  std::array<std::vector<SectionOutcome>, 2> outcomes;
  const Json clock = {{"text", kNewText}};
  SiteEngine(link_, 2).Run(ips.size(), [&](std::size_t i) { outcomes[i] = writer_.WriteAll(ips[i], clock); });
  ASSERT_EQ(outcomes[0].size(), 1U);
  ASSERT_EQ(outcomes[1].size(), 1U);
  EXPECT_EQ(outcomes[0][0].text, kModifySuccess);
  EXPECT_EQ(outcomes[1][0].text, kModifyFailed);
}

}  // namespace
}  // namespace marindo
