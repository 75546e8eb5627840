#include "cli/ClockSession.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "link/CommandCodes.h"
#include "link/LinkTestFakes.h"
#include "link/LoopbackPeer.h"
#include "settings/ModifyMessages.h"

namespace marindo {
namespace {

using testing::Bytes;
using testing::LoopbackPeer;
using testing::PeerDatagram;
using namespace std::chrono_literals;

constexpr std::uint32_t kClock = 0x7F000002;
constexpr std::uint32_t kOtherClock = 0x7F000003;

using testing::ClosedPorts;
using testing::NoAdapters;
using testing::NoNeighbours;

Bytes Frame(const Bytes& payload) { return testing::FrameBytes(payload); }

Bytes SearchReply(const std::string& serial) { return testing::SearchReplyFrame(serial, 1); }

Bytes BasicReply(std::uint8_t zoneByte) { return testing::BasicReplyFrame(zoneByte); }

Bytes Result(std::uint8_t code, std::uint8_t verdict) { return Frame({code, verdict}); }

std::uint8_t CodeOf(const PeerDatagram& datagram) { return datagram.bytes.size() > 4 ? datagram.bytes[4] : 0; }

// One clock at 127.0.0.2 and, on the same port number, a second one at
// 127.0.0.3 whose datagrams arrive unasked in the middle of the exchanges.
class ClockSessionTest : public ::testing::Test {
 protected:
  ClockSessionTest() : other_(kOtherClock, clock_.Port()) {}

  LinkTimings Timings() const {
    LinkTimings timings;
    timings.bindIp = 0x7F000001;
    timings.localPort = 0;
    timings.clockPort = clock_.Port();
    timings.replyWait = 150ms;
    timings.searchQuiet = 100ms;
    return timings;
  }

  ClockSession& Session() {
    if (!session_) {
      session_ = std::make_unique<ClockSession>(LinkServices{adapters_, neighbours_, probe_, names_}, Timings());
    }
    return *session_;
  }

  void SendStray(const Bytes& bytes) { other_.SendTo(bytes, 0x7F000001, Session().Link().LocalPort()); }

  NoAdapters adapters_;
  NoNeighbours neighbours_;
  ClosedPorts probe_;
  ClockNames names_{std::filesystem::temp_directory_path() / "marindo-session-test-none.ini", CodePage::Cp1252};
  LoopbackPeer clock_{kClock};
  LoopbackPeer other_;
  std::unique_ptr<ClockSession> session_;
};

TEST_F(ClockSessionTest, AnAnswerCountsOnlyFromTheClockAsked) {
  // The other clock's reply of the same code comes first; the asked clock's
  // reply after it must still be waited for and stored.
  clock_.Start([this](std::size_t, const PeerDatagram& datagram) -> std::vector<Bytes> {
    if (CodeOf(datagram) == 0x01) return {SearchReply("A1")};
    if (CodeOf(datagram) == 0x02) {
      SendStray(BasicReply(0x11));
      std::this_thread::sleep_for(20ms);
      return {BasicReply(0x40)};
    }
    return {};
  });
  ASSERT_TRUE(Session().SearchOne(kClock));
  EXPECT_TRUE(Session().Ask(kClock, code::kQueryBasic));
  EXPECT_EQ(Session().Record(kClock)->zoneHours, 8);
  EXPECT_EQ(clock_.Received().size(), 2u) << "one search and one query, no resend";
}

TEST_F(ClockSessionTest, ASilentClockIsNotAnsweredByAStray) {
  clock_.Start([](std::size_t, const PeerDatagram& datagram) -> std::vector<Bytes> {
    if (CodeOf(datagram) == 0x01) return {SearchReply("A1")};
    return {};
  });
  ASSERT_TRUE(Session().SearchOne(kClock));
  SendStray(BasicReply(0x40));
  EXPECT_FALSE(Session().Ask(kClock, code::kQueryBasic));
  EXPECT_FALSE(Session().Ask(kClock, code::kQueryServers));
}

TEST_F(ClockSessionTest, WriteResultsComeFromTheClockWritten) {
  struct Case {
    std::uint8_t code;
    std::vector<Bytes> answers;  // the clock's answer to the modify
    Bytes strayFirst;            // sent by the other clock just before
    ModifyOutcome expected;
  };
  const Case cases[] = {
      {0x06, {Result(0x06, 1)}, {}, ModifyOutcome::Accepted},
      {0x06, {Result(0x06, 0)}, Result(0x06, 1), ModifyOutcome::Refused},
      {0x07, {}, Result(0x07, 1), ModifyOutcome::NoResponse},
      {0x09, {Result(0x09, 1)}, {}, ModifyOutcome::Answered},
      {0x0B, {Result(0x0B, 2)}, {}, ModifyOutcome::Refused},
  };
  std::size_t current = 0;
  clock_.Start([&](std::size_t, const PeerDatagram& datagram) -> std::vector<Bytes> {
    if (CodeOf(datagram) == 0x01) return {SearchReply("A1")};
    const Case& c = cases[current];
    if (!c.strayFirst.empty()) SendStray(c.strayFirst);
    std::this_thread::sleep_for(10ms);
    return c.answers;
  });
  ASSERT_TRUE(Session().SearchOne(kClock));
  for (current = 0; current < std::size(cases); ++current) {
    const Case& c = cases[current];
    Bytes payload(c.code == 0x06 ? 27 : 14, 0);
    payload[0] = c.code;
    EXPECT_EQ(Session().Write(kClock, ClockFrame::Build(payload)), c.expected) << "case " << current;
  }
}

TEST_F(ClockSessionTest, UnicastSearchOfASilentAddressFindsNothing) {
  clock_.Start([](std::size_t, const PeerDatagram&) -> std::vector<Bytes> { return {}; });
  SendStray(SearchReply("OTHER"));
  EXPECT_FALSE(Session().SearchOne(kClock));
  EXPECT_FALSE(Session().Record(kClock).has_value());
  EXPECT_EQ(clock_.Received().size(), 3u) << "three tries, as the windows";
}

// One lost reply costs a second try, not a false "No response".
TEST_F(ClockSessionTest, ALostReplyIsTriedAgain) {
  clock_.Start([this](std::size_t index, const PeerDatagram& datagram) -> std::vector<Bytes> {
    if (CodeOf(datagram) == 0x01) return {SearchReply("A1")};
    if (index == 1) {
      SendStray(BasicReply(0x11));  // the first query's reply is lost; a stray comes instead
      return {};
    }
    return {BasicReply(0x40)};
  });
  ASSERT_TRUE(Session().SearchOne(kClock));
  EXPECT_TRUE(Session().Ask(kClock, code::kQueryBasic));
  EXPECT_EQ(Session().Record(kClock)->zoneHours, 8);
  EXPECT_EQ(clock_.Received().size(), 3u) << "one search and two tries of the query";
}

TEST(ModifyOutcomeMessageTest, UsesTheWindowsMessages) {
  EXPECT_EQ(ModifyOutcomeMessage(ModifyOutcome::Accepted, kClock), "Modify success!");
  EXPECT_EQ(ModifyOutcomeMessage(ModifyOutcome::Refused, kClock), "Modify failed!");
  EXPECT_EQ(ModifyOutcomeMessage(ModifyOutcome::Answered, kClock), std::nullopt);
  EXPECT_EQ(ModifyOutcomeMessage(ModifyOutcome::NoResponse, kClock), "No response from 127.0.0.2!");
}

}  // namespace
}  // namespace marindo
