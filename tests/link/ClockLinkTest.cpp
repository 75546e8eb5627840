#include "link/ClockLink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "link/CommandCodes.h"
#include "link/LinkTestFakes.h"
#include "link/LoopbackPeer.h"
#include "platform/Ipv4.h"

namespace marindo {
namespace {

using testing::Bytes;
using testing::LoopbackPeer;
using testing::BasicReplyFrame;
using testing::PeerDatagram;
using testing::SearchReplyFrame;
using namespace std::chrono_literals;

constexpr std::uint32_t kLoopback = 0x7F000001;

// The link looks new clocks up on worker threads.
class FakeNeighbours : public NeighbourLookup {
 public:
  std::optional<MacAddress> LookupMac(std::uint32_t ip) override {
    {
      const std::lock_guard lock(mutex);
      asked.push_back(ip);
    }
    std::this_thread::sleep_for(delay);
    const std::lock_guard lock(mutex);
    const auto it = macs.find(ip);
    if (it == macs.end()) return std::nullopt;
    return it->second;
  }
  std::mutex mutex;
  std::map<std::uint32_t, MacAddress> macs;
  std::vector<std::uint32_t> asked;
  std::chrono::milliseconds delay{0};
};

class FakeProbe : public PortProbe {
 public:
  bool Accepts(std::uint32_t ip, std::uint16_t port, std::chrono::milliseconds wait) override {
    const std::lock_guard lock(mutex);
    probed.push_back(ip);
    lastPort = port;
    lastWait = wait;
    return accepting.count(ip) != 0;
  }
  std::mutex mutex;
  std::set<std::uint32_t> accepting;
  std::vector<std::uint32_t> probed;
  std::uint16_t lastPort = 0;
  std::chrono::milliseconds lastWait{0};
};

class FakeAdapters : public AdapterSource {
 public:
  std::vector<Adapter> Adapters() const override { return adapters; }
  std::vector<Adapter> adapters;
};

Bytes Wire(const ClockFrame& frame) { return Bytes(frame.Bytes().begin(), frame.Bytes().end()); }

Bytes Frame(const Bytes& payload) { return Wire(ClockFrame::Build(payload)); }

Bytes Query(std::uint8_t code) { return Wire(ClockFrame::Query(code)); }

std::string SerialOf(const ClockRecord& r) { return std::string(r.serial.data(), strnlen(r.serial.data(), 21)); }

class ClockLinkTest : public ::testing::Test {
 protected:
  ClockLinkTest()
      : settings_(std::filesystem::temp_directory_path() /
                  ("marindo-link-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini")),
        names_(settings_, CodePage::Cp1252) {
    std::filesystem::remove(settings_);
  }
  ~ClockLinkTest() override { std::filesystem::remove(settings_); }

  LinkTimings Timings(std::uint16_t clockPort) const {
    LinkTimings t;
    t.bindIp = kLoopback;
    t.localPort = 0;
    t.clockPort = clockPort;
    t.replyWait = 150ms;
    t.searchQuiet = 200ms;
    return t;
  }

  ClockLink& Link(std::uint16_t clockPort) {
    link_.emplace(LinkServices{adapters_, neighbours_, probe_, names_}, Timings(clockPort));
    return *link_;
  }

  ClockRecord& AddClock(ClockLink& link, std::uint32_t ip) {
    ClockRecord record;
    record.ip = ip;
    record.label = FormatIpv4(ip);
    link.Clocks().Append(record);
    return *link.FindByIp(ip);
  }

  std::filesystem::path settings_;
  ClockNames names_;
  FakeAdapters adapters_;
  FakeNeighbours neighbours_;
  FakeProbe probe_;
  std::optional<ClockLink> link_;
};

TEST_F(ClockLinkTest, QueryToAddressZeroSendsNothing) {
  LoopbackPeer peer;
  peer.Start(nullptr);
  ClockLink& link = Link(peer.Port());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link.Query(0, code::kQueryBasic));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(peer.Received().empty());
}

TEST_F(ClockLinkTest, QueryAnsweredOnlyOnTheThirdTry) {
  LoopbackPeer peer;
  peer.Start([](std::size_t index, const PeerDatagram&) {
    return index < 2 ? std::vector<Bytes>{} : std::vector<Bytes>{BasicReplyFrame(0x40)};
  });
  ClockLink& link = Link(peer.Port());
  AddClock(link, kLoopback);
  const auto answer = link.Query(kLoopback, code::kQueryBasic);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->code, 0x02);
  EXPECT_TRUE(answer->stored);
  const auto received = peer.Received();
  ASSERT_EQ(received.size(), 3u);
  for (const PeerDatagram& d : received) EXPECT_EQ(d.bytes, Query(0x02));
  EXPECT_EQ(link.FindByIp(kLoopback)->zoneHours, 8);
}

TEST_F(ClockLinkTest, SilentClockGetsThreeModifySendsThenNoResponse) {
  LoopbackPeer silent(0x7F000007);
  silent.Start(nullptr);
  ClockLink& link = Link(silent.Port());
  const auto frame = ClockFrame::Query(0x06);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link.SendModify(0x7F000007, frame), ModifyOutcome::NoResponse);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(silent.Received().size(), 3u);
  EXPECT_GE(elapsed, 3 * 150ms);
  EXPECT_LT(elapsed, 3 * 150ms + 300ms);
}

// The frames a clock may answer a modify with, and what each stands for.
TEST_F(ClockLinkTest, ModifyOutcomesByTheAnswersCode) {
  struct Case {
    std::uint8_t request;
    Bytes answer;
    ModifyOutcome outcome;
  };
  const Case cases[] = {
      {0x06, Frame({0x06, 1}), ModifyOutcome::Accepted},
      {0x07, Frame({0x07, 0}), ModifyOutcome::Refused},
      {0x08, Frame({0x08, 2}), ModifyOutcome::Refused},
      {0x0B, Frame({0x0B, 1}), ModifyOutcome::Accepted},
      {0x06, Frame({0x0F, 1}), ModifyOutcome::Accepted},
      {0x0B, Frame({0x11, 0}), ModifyOutcome::Refused},
      {0x06, Frame({0x06}), ModifyOutcome::Refused},  // no result byte: not a success
      {0x09, Frame({0x09, 1}), ModifyOutcome::Answered},
      {0x09, Frame({0x0F, 0}), ModifyOutcome::Refused},
      {0x0C, Frame({0x0C, 1}), ModifyOutcome::Answered},
      // Frames that answer another request: the clock stays silent on this one.
      {0x06, Frame({0x07, 1}), ModifyOutcome::NoResponse},
      {0x06, BasicReplyFrame(0x40), ModifyOutcome::NoResponse},
      {0x06, Frame({0x0D, 1}), ModifyOutcome::NoResponse},
      {0x09, Frame({0x12, 1}), ModifyOutcome::NoResponse},
      {0x09, Frame({0x00, 1}), ModifyOutcome::NoResponse},
  };
  for (const Case& c : cases) {
    LoopbackPeer peer;
    peer.Start([&c](std::size_t, const PeerDatagram&) { return std::vector<Bytes>{c.answer}; });
    ClockLink& link = Link(peer.Port());
    const std::size_t sends = c.outcome == ModifyOutcome::NoResponse ? 3 : 1;
    EXPECT_EQ(link.SendModify(kLoopback, ClockFrame::Query(c.request)), c.outcome)
        << "request " << int(c.request) << " answered with " << int(c.answer[4]);
    EXPECT_EQ(peer.Received().size(), sends) << "request " << int(c.request) << " answered with " << int(c.answer[4]);
  }
}

// A clock that answered a retried modify twice leaves the second answer
// waiting; the next modify, which the clock refuses, must not be reported by it.
TEST_F(ClockLinkTest, LateRepeatedAnswerIsNotTakenForTheNextExchange) {
  LoopbackPeer peer;
  peer.Start([](std::size_t index, const PeerDatagram&) {
    if (index == 0) return std::vector<Bytes>{Frame({0x06, 1}), Frame({0x06, 1})};
    return std::vector<Bytes>{Frame({0x06, 0})};
  });
  ClockLink& link = Link(peer.Port());
  EXPECT_EQ(link.SendModify(kLoopback, ClockFrame::Query(0x06)), ModifyOutcome::Accepted);
  std::this_thread::sleep_for(50ms);  // the repeated answer is in by now
  EXPECT_EQ(link.SendModify(kLoopback, ClockFrame::Query(0x06)), ModifyOutcome::Refused);
  EXPECT_EQ(peer.Received().size(), 2u);
}

// Whatever comes before the clock's own answer is handled as it always was,
// but only that answer ends the exchange.
TEST_F(ClockLinkTest, OnlyTheClocksOwnAnswerEndsTheWait) {
  constexpr std::uint32_t kStranger = 0x7F000002;
  Bytes badChecksum = BasicReplyFrame(0x11);
  badChecksum.back() ^= 0xFF;
  Bytes display(14, 0);
  display[0] = 0x05;
  display[7] = 2;  // degrees F
  enum class From { Stranger, Clock, ClocksOtherPort };
  struct Case {
    const char* what;
    From from;
    Bytes datagram;
  };
  const Case cases[] = {
      {"a settings reply from another host", From::Stranger, BasicReplyFrame(0x11)},
      {"a modify result from another host", From::Stranger, Frame({0x0F, 1})},
      {"a frame of another code from the clock", From::Clock, Frame(display)},
      {"a bad checksum from the clock", From::Clock, badChecksum},
      {"the clock's reply from another port", From::ClocksOtherPort, BasicReplyFrame(0x11)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LoopbackPeer clock;
    LoopbackPeer stranger(kStranger);
    LoopbackPeer otherPort;
    LoopbackPeer& sender = c.from == From::Stranger ? stranger : c.from == From::Clock ? clock : otherPort;
    clock.Start([&](std::size_t, const PeerDatagram& query) {
      sender.SendTo(c.datagram, query.senderIp, query.senderPort);
      std::this_thread::sleep_for(40ms);
      return std::vector<Bytes>{BasicReplyFrame(0x40)};
    });
    ClockLink& link = Link(clock.Port());
    AddClock(link, kLoopback);
    AddClock(link, kStranger);
    const auto answer = link.Query(kLoopback, code::kQueryBasic);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->stored);
    EXPECT_EQ(link.FindByIp(kLoopback)->zoneHours, 8);
    EXPECT_EQ(clock.Received().size(), 1u) << "no second try";
    if (c.from == From::Stranger && c.datagram[4] == 0x02) {
      EXPECT_EQ(link.FindByIp(kStranger)->zoneHours, 2) << "the stranger's reply is still stored";
    }
    if (c.from == From::Clock && c.datagram[4] == 0x05) {
      EXPECT_EQ(link.FindByIp(kLoopback)->tempUnit, 2) << "the other reply is still stored";
    }
  }
}

// A host that sends every third of a wait neither ends a try nor stretches it.
TEST_F(ClockLinkTest, DatagramsFromElsewhereCannotStretchATry) {
  LoopbackPeer silent;
  silent.Start(nullptr);
  LoopbackPeer chatter(0x7F000002);
  chatter.Start(nullptr);
  ClockLink& link = Link(silent.Port());
  std::atomic<bool> chatting{true};
  std::thread noise([&] {
    while (chatting) {
      chatter.SendTo(Frame({0x0F, 1}), kLoopback, link.LocalPort());
      std::this_thread::sleep_for(45ms);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link.Query(kLoopback, code::kQueryBasic));
  EXPECT_EQ(link.SendModify(kLoopback, ClockFrame::Query(0x06)), ModifyOutcome::NoResponse);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  chatting = false;
  noise.join();
  EXPECT_EQ(silent.Received().size(), 6u);
  EXPECT_GE(elapsed, 6 * 150ms);
  EXPECT_LT(elapsed, 6 * 150ms + 250ms);
}

// A broadcast pass keeps collecting while datagrams come, but never past
// its limit.
TEST_F(ClockLinkTest, ABroadcastPassEndsAtItsLimitUnderEndlessDatagrams) {
  LoopbackPeer chatter(0x7F000002);
  chatter.Start(nullptr);
  adapters_.adapters = {{"veth-test", Adapter::Kind::Ethernet, {{0x7F000003, 0xFFFFFFFF}}}};
  LinkTimings timings = Timings(9);
  timings.searchPassLimit = 300ms;
  link_.emplace(LinkServices{adapters_, neighbours_, probe_, names_}, timings);
  std::atomic<bool> chatting{true};
  std::thread noise([&] {
    while (chatting) {
      chatter.SendTo(Frame({0x0D, 0}), kLoopback, link_->LocalPort());
      std::this_thread::sleep_for(50ms);
    }
  });
  const auto start = std::chrono::steady_clock::now();
  link_->SearchBroadcast();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  chatting = false;
  noise.join();
  EXPECT_GE(elapsed, 3 * 300ms);
  EXPECT_LT(elapsed, 3 * 300ms + 250ms);
}

TEST_F(ClockLinkTest, TheWindowPaintsWhileTheLinkWaits) {
  LoopbackPeer silent;
  silent.Start(nullptr);
  int paints = 0;
  LinkTimings timings = Timings(silent.Port());
  timings.paintInterval = 10ms;
  link_.emplace(LinkServices{adapters_, neighbours_, probe_, names_, nullptr, [&paints] { ++paints; }}, timings);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link_->Query(kLoopback, code::kQueryBasic));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(paints, 3 * 150 / 10 / 2) << "a paint at least every interval, give or take a busy machine";
  EXPECT_GE(elapsed, 3 * 150ms);
  EXPECT_LT(elapsed, 3 * 150ms + 200ms);
}

TEST_F(ClockLinkTest, BadChecksumAloneIsSilence) {
  LoopbackPeer peer;
  peer.Start([](std::size_t, const PeerDatagram&) {
    Bytes answer = BasicReplyFrame(0x40);
    answer.back() ^= 0xFF;
    return std::vector<Bytes>{answer};
  });
  ClockLink& link = Link(peer.Port());
  AddClock(link, kLoopback);
  EXPECT_FALSE(link.Query(kLoopback, code::kQueryBasic));
  EXPECT_EQ(peer.Received().size(), 3u);
  EXPECT_EQ(link.FindByIp(kLoopback)->zoneHours, 0);  // dropped, not stored
}

TEST_F(ClockLinkTest, ChecksumHighByteFirstIsStored) {
  LoopbackPeer peer;
  peer.Start([](std::size_t, const PeerDatagram&) {
    Bytes answer = BasicReplyFrame(0x40);
    std::swap(answer[answer.size() - 1], answer[answer.size() - 2]);
    return std::vector<Bytes>{answer};
  });
  ClockLink& link = Link(peer.Port());
  AddClock(link, kLoopback);
  EXPECT_TRUE(link.Query(kLoopback, code::kQueryBasic));
  EXPECT_EQ(link.FindByIp(kLoopback)->zoneHours, 8);
}

TEST_F(ClockLinkTest, OversizeDatagramIsDiscardedAndTheWaitGoesOn) {
  LoopbackPeer peer;
  peer.Start([](std::size_t, const PeerDatagram&) {
    return std::vector<Bytes>{Bytes(300, 0x51), BasicReplyFrame(0x40)};
  });
  ClockLink& link = Link(peer.Port());
  AddClock(link, kLoopback);
  EXPECT_TRUE(link.Query(kLoopback, code::kQueryBasic));
  EXPECT_EQ(peer.Received().size(), 1u);
}

TEST_F(ClockLinkTest, OnlyOversizeDatagramsCountAsSilence) {
  LoopbackPeer peer;
  peer.Start([](std::size_t, const PeerDatagram&) { return std::vector<Bytes>{Bytes(257, 0x00)}; });
  ClockLink& link = Link(peer.Port());
  EXPECT_FALSE(link.Query(kLoopback, code::kQueryBasic));
  EXPECT_EQ(peer.Received().size(), 3u);
}

TEST_F(ClockLinkTest, LargestDatagramThatFitsIsHandled) {
  LoopbackPeer peer;
  peer.Start([](std::size_t, const PeerDatagram&) {
    Bytes payload(250, 0x41);  // 256 bytes on the wire
    payload[0] = 0x0A;
    payload[1] = 3;
    payload[2] = 0;
    return std::vector<Bytes>{Frame(payload)};
  });
  ClockLink& link = Link(peer.Port());
  AddClock(link, kLoopback);
  EXPECT_TRUE(link.Query(kLoopback, code::kQueryText));
  const ClockRecord& record = *link.FindByIp(kLoopback);
  EXPECT_EQ(std::string(record.text.data(), 65), std::string(65, 'A'));
  EXPECT_TRUE(record.longText);
}

TEST_F(ClockLinkTest, PortInUseLeavesTheLinkUnbound) {
  UdpSocket occupier;
  ASSERT_TRUE(occupier.Bind(kLoopback, 0));
  LinkTimings timings = Timings(9);
  timings.localPort = occupier.LocalPort();
  ClockLink link(LinkServices{adapters_, neighbours_, probe_, names_}, timings);
  EXPECT_FALSE(link.Bound());
}

TEST_F(ClockLinkTest, StoredReplyFromUnknownSenderChangesNothing) {
  ClockLink& link = Link(9);
  ClockRecord& known = AddClock(link, 0x0A000007);
  const ClockRecord before = known;
  link.HandleFrame(BasicReplyFrame(0x40), 0x0A000008);
  EXPECT_EQ(*link.FindByIp(0x0A000007), before);
  EXPECT_EQ(link.Clocks().Count(), 1u);
}

class RecordingObserver : public FrameObserver {
 public:
  void FrameHandled(const HandledFrame& frame) override { frames.push_back(frame); }
  std::vector<HandledFrame> frames;
};

TEST_F(ClockLinkTest, TheObserverLearnsWhoAnsweredWhat) {
  RecordingObserver observer;
  link_.emplace(LinkServices{adapters_, neighbours_, probe_, names_, &observer}, Timings(9));
  ClockLink& link = *link_;
  AddClock(link, 0x0A000007);
  Bytes shortBasic = Frame({0x02, 0x40});
  Bytes badCrc = BasicReplyFrame(0x40);
  badCrc.back() ^= 0xFF;
  struct Case {
    Bytes datagram;
    std::uint32_t sender;
    bool handled;
    HandledFrame expected;
  };
  const Case cases[] = {
      {BasicReplyFrame(0x40), 0x0A000007, true, {0x02, 0x0A000007, true, false}},
      {BasicReplyFrame(0x40), 0x0A000008, true, {0x02, 0x0A000008, false, false}},  // no record
      {shortBasic, 0x0A000007, true, {0x02, 0x0A000007, false, false}},             // dropped as short
      {Frame({0x06, 0x01}), 0x0A000008, true, {0x06, 0x0A000008, false, true}},
      {Frame({0x0B, 0x00}), 0x0A000007, true, {0x0B, 0x0A000007, false, false}},
      {Frame({0x09, 0x01}), 0x0A000007, true, {0x09, 0x0A000007, false, false}},
      {Frame({0x12, 0x01}), 0x0A000007, false, {}},  // a code the clocks do not use
      {badCrc, 0x0A000007, false, {}},
  };
  for (const Case& c : cases) {
    observer.frames.clear();
    const auto returned = link.HandleFrame(c.datagram, c.sender);
    EXPECT_EQ(returned.has_value(), c.handled) << int(c.expected.code);
    ASSERT_EQ(observer.frames.size(), c.handled ? 1u : 0u) << int(c.expected.code);
    if (!c.handled) continue;
    const HandledFrame& got = observer.frames.front();
    EXPECT_EQ(got.code, c.expected.code);
    EXPECT_EQ(got.sender, c.expected.sender);
    EXPECT_EQ(got.stored, c.expected.stored) << int(got.code);
    EXPECT_EQ(got.accepted, c.expected.accepted) << int(got.code);
  }
}

TEST_F(ClockLinkTest, TooShortDatagramsAreDropped) {
  ClockLink& link = Link(9);
  AddClock(link, 0x0A000007);
  for (std::size_t size = 1; size < 7; ++size) {
    const Bytes datagram(size, 0x01);
    EXPECT_FALSE(link.HandleFrame(datagram, 0x0A000007));
  }
  EXPECT_EQ(link.Clocks().Count(), 1u);
}

TEST_F(ClockLinkTest, OwnSearchRequestEchoAddsNothing) {
  ClockLink& link = Link(9);
  link.HandleFrame(Wire(ClockFrame::SearchRequest()), kLoopback);
  EXPECT_EQ(link.Clocks().Count(), 0u);
}

// Search replies -----------------------------------------------------------

constexpr Adapter::Address kOffice{0xC0A80101, 0xFFFFFF00};  // 192.168.1.1/24

TEST_F(ClockLinkTest, NewClockGetsMacStoredNameAndLabel) {
  adapters_.adapters = {{"eth0", Adapter::Kind::Ethernet, {kOffice}}};
  ClockLink& link = Link(9);
  const MacAddress mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  neighbours_.macs[0xC0A80114] = mac;
  ClockRecord key;
  std::memcpy(key.serial.data(), "A1B2C3", 6);
  key.mac = mac;
  ASSERT_TRUE(names_.Store(key, "Hall clock"));

  link.HandleFrame(SearchReplyFrame("A1B2C3", 1, 5, 1000, 0x85), 0xC0A80114);
  ASSERT_EQ(link.Clocks().Count(), 1u);
  const ClockRecord& r = *link.FindByIp(0xC0A80114);
  EXPECT_EQ(SerialOf(r), "A1B2C3");
  EXPECT_EQ(r.mac, mac);
  EXPECT_EQ(r.label, "Hall clock");
  EXPECT_EQ(r.firmwareMajor, 1);
  EXPECT_EQ(r.firmwareMinor, 5);
  EXPECT_EQ(r.lastSyncTime, 1000u);
  EXPECT_EQ(r.syncServerIp, 0xC0A80101u);
  EXPECT_EQ(r.radio, 0x85);
  EXPECT_FALSE(r.newPlatform);
}

TEST_F(ClockLinkTest, ClockWithoutStoredNameShowsDefaultLabel) {
  adapters_.adapters = {{"eth0", Adapter::Kind::Ethernet, {kOffice}}};
  ClockLink& link = Link(9);
  neighbours_.macs[0xC0A80114] = {2, 0, 0, 0, 0, 1};
  link.HandleFrame(SearchReplyFrame("A1B2C3", 1), 0xC0A80114);
  EXPECT_EQ(link.FindByIp(0xC0A80114)->label, "192.168.1.20 (A1B2C3)");
}

TEST_F(ClockLinkTest, ArpFailureLeavesMacZeroAndShowsDefaultLabel) {
  adapters_.adapters = {{"eth0", Adapter::Kind::Ethernet, {kOffice}}};
  ClockLink& link = Link(9);
  link.HandleFrame(SearchReplyFrame("NEAR01", 1), 0xC0A80107);
  const ClockRecord& r = *link.FindByIp(0xC0A80107);
  EXPECT_EQ(r.mac, MacAddress{});
  EXPECT_EQ(r.label, "192.168.1.7 (NEAR01)");
  EXPECT_NE(link.Clocks().FindByLabel("192.168.1.7 (NEAR01)"), nullptr);
  EXPECT_EQ(neighbours_.asked, std::vector<std::uint32_t>{0xC0A80107});
}

TEST_F(ClockLinkTest, AClockBehindARouterGetsNoNeighbourWait) {
  // ARP cannot cross the router: asking would cost the whole wait for nothing.
  adapters_.adapters = {{"eth0", Adapter::Kind::Ethernet, {kOffice}}};
  neighbours_.delay = 1000ms;
  neighbours_.macs[0x0A000007] = {2, 0, 0, 0, 0, 7};
  ClockLink& link = Link(9);
  const auto start = std::chrono::steady_clock::now();
  link.HandleFrame(SearchReplyFrame("FAR01", 1), 0x0A000007);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
  const ClockRecord& r = *link.FindByIp(0x0A000007);
  EXPECT_EQ(r.mac, MacAddress{});
  EXPECT_EQ(r.label, "10.0.0.7 (FAR01)");
  EXPECT_TRUE(neighbours_.asked.empty());
}

TEST_F(ClockLinkTest, NewPlatformFollowsFirmwareAndPortProbe) {
  struct Case {
    std::uint8_t major;
    bool portOpen;
    bool probed;
    bool newPlatform;
  };
  const Case cases[] = {
      {0, true, false, false}, {1, true, false, false}, {2, true, true, true},  {2, false, true, false},
      {3, true, true, true},   {3, false, true, false}, {4, false, false, true}, {5, false, false, true},
  };
  ClockLink& link = Link(9);
  std::uint32_t ip = 0x0A000100;
  for (const Case& c : cases) {
    ++ip;
    probe_.probed.clear();
    if (c.portOpen) probe_.accepting.insert(ip);
    link.HandleFrame(SearchReplyFrame("S" + std::to_string(ip), c.major), ip);
    const ClockRecord* r = link.FindByIp(ip);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->newPlatform, c.newPlatform) << "firmware " << int(c.major) << " port " << c.portOpen;
    EXPECT_EQ(!probe_.probed.empty(), c.probed) << "firmware " << int(c.major);
  }
  EXPECT_EQ(probe_.lastPort, 22);
  EXPECT_EQ(probe_.lastWait, 500ms);
}

TEST_F(ClockLinkTest, KnownAddressRefreshesOnlyTheSearchFields) {
  adapters_.adapters = {{"eth0", Adapter::Kind::Ethernet, {kOffice}}};
  ClockLink& link = Link(9);
  neighbours_.macs[0xC0A80114] = {2, 0, 0, 0, 0, 1};
  probe_.accepting.insert(0xC0A80114);
  link.HandleFrame(SearchReplyFrame("A1B2C3", 2, 1, 1000, 0x05), 0xC0A80114);
  const ClockRecord first = *link.FindByIp(0xC0A80114);
  ASSERT_TRUE(first.newPlatform);

  probe_.accepting.clear();
  neighbours_.macs[0xC0A80114] = {2, 0, 0, 0, 0, 9};
  link.HandleFrame(SearchReplyFrame("NEWSERIAL", 3, 7, 2000, 0x86), 0xC0A80114);
  ASSERT_EQ(link.Clocks().Count(), 1u);
  const ClockRecord& r = *link.FindByIp(0xC0A80114);
  EXPECT_EQ(r.firmwareMajor, 3);
  EXPECT_EQ(r.firmwareMinor, 7);
  EXPECT_EQ(r.lastSyncTime, 2000u);
  EXPECT_EQ(r.radio, 0x86);
  EXPECT_EQ(SerialOf(r), "A1B2C3");
  EXPECT_EQ(r.label, first.label);
  EXPECT_EQ(r.mac, first.mac);
  EXPECT_TRUE(r.newPlatform);
  EXPECT_EQ(neighbours_.asked.size(), 1u);
}

TEST_F(ClockLinkTest, SerialEdgeCases) {
  ClockLink& link = Link(9);
  link.HandleFrame(SearchReplyFrame("", 1), 0x0A000001);
  EXPECT_EQ(link.Clocks().Count(), 0u);

  link.HandleFrame(SearchReplyFrame("ABCDEFGHIJKLMNOPQRST", 1), 0x0A000002);
  ASSERT_EQ(link.Clocks().Count(), 1u);
  EXPECT_EQ(SerialOf(*link.FindByIp(0x0A000002)), "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(link.FindByIp(0x0A000002)->serial[20], '\0');

  // One serial at two addresses: two clocks.
  link.HandleFrame(SearchReplyFrame("TWIN", 1), 0x0A000003);
  link.HandleFrame(SearchReplyFrame("TWIN", 1), 0x0A000004);
  EXPECT_EQ(link.Clocks().Count(), 3u);
}

TEST_F(ClockLinkTest, SearchUnicastAddsTheClock) {
  LoopbackPeer peer;
  peer.Start([](std::size_t index, const PeerDatagram&) {
    return index == 0 ? std::vector<Bytes>{} : std::vector<Bytes>{SearchReplyFrame("UNI1", 4)};
  });
  ClockLink& link = Link(peer.Port());
  EXPECT_TRUE(link.SearchUnicast(kLoopback));
  ASSERT_NE(link.FindByIp(kLoopback), nullptr);
  EXPECT_TRUE(link.FindByIp(kLoopback)->newPlatform);
  const auto received = peer.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].bytes, Wire(ClockFrame::SearchRequest()));
}

TEST_F(ClockLinkTest, SearchUnicastToSilentAddressFindsNothing) {
  LoopbackPeer peer;
  peer.Start(nullptr);
  ClockLink& link = Link(peer.Port());
  EXPECT_FALSE(link.SearchUnicast(kLoopback));
  EXPECT_EQ(peer.Received().size(), 3u);
  EXPECT_EQ(link.Clocks().Count(), 0u);
}

TEST_F(ClockLinkTest, BroadcastSearchRunsThreePassesAndListsEachClockOnce) {
  LoopbackPeer peer;
  peer.Start([](std::size_t index, const PeerDatagram&) {
    return std::vector<Bytes>{SearchReplyFrame("PASS", 1, 0, static_cast<std::uint32_t>(100 + index))};
  });
  // A /32 "network" on loopback: its directed broadcast is the peer itself.
  adapters_.adapters = {{"veth-test", Adapter::Kind::Ethernet, {{kLoopback, 0xFFFFFFFF}}}};
  ClockLink& link = Link(peer.Port());
  ASSERT_EQ(link.BroadcastList(), (std::vector<std::uint32_t>{kLoopback}));
  const auto start = std::chrono::steady_clock::now();
  link.SearchBroadcast();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(peer.Received().size(), 3u);
  ASSERT_EQ(link.Clocks().Count(), 1u);
  EXPECT_EQ(link.FindByIp(kLoopback)->lastSyncTime, 102u);  // the last pass's reply
  EXPECT_GE(elapsed, 3 * 200ms);
  EXPECT_LT(elapsed, 3 * 200ms + 500ms);
}

TEST_F(ClockLinkTest, BroadcastSearchWithoutAdaptersSendsNothing) {
  ClockLink& link = Link(9);
  link.SearchBroadcast();
  EXPECT_EQ(link.Clocks().Count(), 0u);
}

TEST_F(ClockLinkTest, SlowWorkOnNewClocksLosesNoReplies) {
  // Many clocks answer each pass at once while every new record costs a slow
  // ARP lookup; the replies that pile up meanwhile must all be handled.
  constexpr int kClocks = 60;
  std::vector<std::unique_ptr<LoopbackPeer>> peers;
  peers.push_back(std::make_unique<LoopbackPeer>(0x7F010001));
  const std::uint16_t port = peers.front()->Port();
  for (int i = 1; i < kClocks; ++i) {
    peers.push_back(std::make_unique<LoopbackPeer>(0x7F010001 + static_cast<std::uint32_t>(i), port));
  }
  for (int i = 0; i < kClocks; ++i) {
    const std::uint32_t ip = 0x7F010001 + static_cast<std::uint32_t>(i);
    adapters_.adapters.push_back({"eth" + std::to_string(i), Adapter::Kind::Ethernet, {{ip, 0xFFFFFFFF}}});
    peers[static_cast<std::size_t>(i)]->Start([i](std::size_t, const PeerDatagram&) {
      return std::vector<Bytes>{SearchReplyFrame("MANY" + std::to_string(i), 1)};
    });
  }
  // One after another the lookups would take 18 s; side by side they take
  // one lookup's time.
  neighbours_.delay = 300ms;
  ClockLink& link = Link(port);
  const auto start = std::chrono::steady_clock::now();
  link.SearchBroadcast();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3 * 200ms + 1500ms);
  EXPECT_EQ(link.Clocks().Count(), static_cast<std::size_t>(kClocks));
  for (const auto& peer : peers) EXPECT_EQ(peer->Received().size(), 3u);
  for (const ClockRecord& record : link.Clocks()) EXPECT_EQ(record.label, link.Snapshot(record.ip)->label);
}

TEST_F(ClockLinkTest, WhileExchangesRunOnlySearchRepliesKeepAPassOpen) {
  // Other clocks' answers keep coming while a search runs beside their
  // exchanges; they must not hold the search open.
  LoopbackPeer clock;
  clock.Start([](std::size_t, const PeerDatagram&) { return std::vector<Bytes>{SearchReplyFrame("FOUND", 4)}; });
  adapters_.adapters = {{"veth-test", Adapter::Kind::Ethernet, {{kLoopback, 0xFFFFFFFF}}}};
  ClockLink& link = Link(clock.Port());
  LoopbackPeer chatty(0x7F000002, 0);
  std::atomic<bool> chatting{true};
  std::thread chatter([&] {
    while (chatting) {
      chatty.SendTo(BasicReplyFrame(0x08), kLoopback, link.LocalPort());
      std::this_thread::sleep_for(50ms);
    }
  });
  link.StartConcurrent();
  const auto start = std::chrono::steady_clock::now();
  link.SearchBroadcast();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  link.StopConcurrent();
  chatting = false;
  chatter.join();
  EXPECT_EQ(link.ClockCount(), 1u);
  EXPECT_EQ(link.ClockIpAt(0), kLoopback);
  EXPECT_GE(elapsed, 3 * 200ms);
  EXPECT_LT(elapsed, 3 * 200ms + 500ms);
}

// Many clocks in flight ------------------------------------------------------

// Clocks on 127.2.0.x, one socket each on a shared port. Clock i answers a
// basic query with zone hours i (up to 15) after `delay`, so that replies of different
// clocks arrive interleaved; `silent` clocks never answer, `dropFirst` ones
// ignore their first datagram.
class LoopbackSite {
 public:
  static constexpr std::uint32_t kFirst = 0x7F020001;

  struct Behaviour {
    bool silent = false;
    bool dropFirst = false;
    std::chrono::milliseconds delay{0};
  };

  explicit LoopbackSite(const std::vector<Behaviour>& behaviours) {
    peers_.push_back(std::make_unique<LoopbackPeer>(kFirst));
    port_ = peers_.front()->Port();
    for (std::size_t i = 1; i < behaviours.size(); ++i) {
      peers_.push_back(std::make_unique<LoopbackPeer>(kFirst + static_cast<std::uint32_t>(i), port_));
    }
    for (std::size_t i = 0; i < behaviours.size(); ++i) {
      const Behaviour b = behaviours[i];
      peers_[i]->Start([b, i](std::size_t index, const PeerDatagram& got) {
        if (b.silent || (b.dropFirst && index == 0)) return std::vector<Bytes>{};
        std::this_thread::sleep_for(b.delay);
        if (got.bytes.size() > 4 && got.bytes[4] == 0x01) {  // the search request
          return std::vector<Bytes>{SearchReplyFrame("SITE" + std::to_string(i), 4)};
        }
        return std::vector<Bytes>{BasicReplyFrame(static_cast<std::uint8_t>((i % 16) << 3))};
      });
    }
  }

  std::uint16_t Port() const { return port_; }
  static std::uint32_t Ip(std::size_t i) { return kFirst + static_cast<std::uint32_t>(i); }
  const LoopbackPeer& Peer(std::size_t i) const { return *peers_[i]; }

 private:
  std::vector<std::unique_ptr<LoopbackPeer>> peers_;
  std::uint16_t port_ = 0;
};

TEST_F(ClockLinkTest, InterleavedAnswersAreCreditedToTheirOwnClock) {
  constexpr std::size_t kClocks = 16;
  std::vector<LoopbackSite::Behaviour> behaviours(kClocks);
  // Later clocks answer sooner: replies cross each other on the way back.
  for (std::size_t i = 0; i < kClocks; ++i) behaviours[i].delay = std::chrono::milliseconds(2 * (kClocks - i));
  LoopbackSite site(behaviours);
  ClockLink& link = Link(site.Port());
  for (std::size_t i = 0; i < kClocks; ++i) AddClock(link, LoopbackSite::Ip(i));
  link.StartConcurrent();
  std::vector<std::thread> threads;
  std::vector<int> zones(kClocks, -1);
  for (std::size_t i = 0; i < kClocks; ++i) {
    threads.emplace_back([&, i] {
      if (link.Query(LoopbackSite::Ip(i), 0x02)) zones[i] = link.Snapshot(LoopbackSite::Ip(i))->zoneHours;
    });
  }
  for (std::thread& thread : threads) thread.join();
  link.StopConcurrent();
  for (std::size_t i = 0; i < kClocks; ++i) {
    EXPECT_EQ(zones[i], static_cast<int>(i)) << "clock " << i;
    EXPECT_EQ(site.Peer(i).Received().size(), 1u) << "clock " << i;
  }
}

TEST_F(ClockLinkTest, ASilentClockCostsOnlyItsOwnBudget) {
  std::vector<LoopbackSite::Behaviour> behaviours(4);
  behaviours[0].silent = true;
  behaviours[1].dropFirst = true;
  LoopbackSite site(behaviours);
  ClockLink& link = Link(site.Port());
  for (std::size_t i = 0; i < 4; ++i) AddClock(link, LoopbackSite::Ip(i));
  link.StartConcurrent();
  std::vector<std::chrono::steady_clock::duration> took(4);
  std::vector<bool> answered(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      const auto start = std::chrono::steady_clock::now();
      answered[i] = link.Query(LoopbackSite::Ip(i), 0x02).has_value();
      took[i] = std::chrono::steady_clock::now() - start;
    });
  }
  for (std::thread& thread : threads) thread.join();
  link.StopConcurrent();
  EXPECT_EQ(answered, (std::vector<bool>{false, true, true, true}));
  EXPECT_GE(took[0], 3 * 150ms);
  EXPECT_EQ(site.Peer(0).Received().size(), 3u);
  EXPECT_GE(took[1], 150ms);  // its second try
  EXPECT_LT(took[1], 2 * 150ms + 100ms);
  EXPECT_LT(took[2], 100ms);
  EXPECT_LT(took[3], 100ms);
}

TEST_F(ClockLinkTest, ASweepFindsExactlyTheClocksInItsRange) {
  std::vector<LoopbackSite::Behaviour> behaviours(6);
  behaviours[2].silent = true;
  behaviours[4].dropFirst = true;
  LoopbackSite site(behaviours);
  ClockLink& link = Link(site.Port());
  // Addresses 1..4 of the site; 0 and 5 answer too, but are not asked.
  std::vector<std::uint32_t> range;
  for (std::size_t i = 1; i <= 4; ++i) range.push_back(LoopbackSite::Ip(i));
  const auto start = std::chrono::steady_clock::now();
  const std::vector<std::uint32_t> found = link.Sweep(range, 1000);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(found, (std::vector<std::uint32_t>{LoopbackSite::Ip(1), LoopbackSite::Ip(3), LoopbackSite::Ip(4)}));
  EXPECT_EQ(link.Clocks().Count(), 3u);
  EXPECT_EQ(link.Snapshot(LoopbackSite::Ip(4))->label, "127.2.0.5 (SITE4)");
  // Only the silent addresses are asked again.
  const std::vector<std::size_t> expectedSends{0, 1, 3, 1, 2, 0};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(site.Peer(i).Received().size(), expectedSends[i]) << "clock " << i;
  EXPECT_LT(elapsed, 3 * 150ms + 300ms);
}

TEST_F(ClockLinkTest, ASweepKeepsToItsRate) {
  LoopbackPeer nobody;
  nobody.Start(nullptr);
  ClockLink& link = Link(nobody.Port());
  const std::vector<std::uint32_t> range(40, kLoopback);
  const auto start = std::chrono::steady_clock::now();
  link.Sweep(range, 200);  // 40 sends a pass at 200 per second, three passes
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 3 * (190ms + link.Timings().replyWait));
  EXPECT_EQ(nobody.Received().size(), 120u);
}

}  // namespace
}  // namespace marindo
