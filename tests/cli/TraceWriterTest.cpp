#include "cli/TraceWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "link/ClockLink.h"
#include "link/CommandCodes.h"
#include "link/LinkTestFakes.h"
#include "link/LoopbackPeer.h"
#include "settings/SettingsJson.h"
#include "tftp/TftpPackets.h"

namespace marindo {
namespace {

using testing::BasicReplyFrame;
using testing::Bytes;
using testing::FrameBytes;
using testing::LoopbackPeer;
using testing::PeerDatagram;
using testing::SearchReplyFrame;
using namespace std::chrono_literals;

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::uint32_t kClock = 0x0AD5000B;  // 10.213.0.11
// 2026-12-11T09:01:02.345678Z
const std::chrono::system_clock::time_point kAt =
    std::chrono::system_clock::time_point(std::chrono::seconds(1796979662)) + std::chrono::microseconds(345678);

struct FrameCase {
  const char* what;
  FrameEvent event;
  Bytes bytes;
  std::string expected;
};

TEST(TraceWriterTest, OneLinePerFrameInTheDocumentedFormat) {
  ClockRecord record;
  record.ip = kClock;
  record.zoneHours = 1;
  record.hour24 = 1;
  Bytes badCrc = BasicReplyFrame(0x08);
  badCrc.back() ^= 0xFF;
  const Bytes query = FrameBytes({0x02});
  const auto received = [&](FrameFate fate) {
    FrameEvent event{.at = kAt, .ip = kClock, .port = 7000, .fate = fate, .clockPort = 7000};
    return event;
  };
  FrameEvent sent = received(FrameFate::Sent);
  sent.sent = true;
  sent.send = 2;
  sent.sends = 3;
  FrameEvent answer = received(FrameFate::Answer);
  answer.requestCode = 0x06;
  answer.accepted = true;
  FrameEvent stored = received(FrameFate::Handled);
  stored.stored = true;
  stored.record = &record;
  FrameEvent unknownSender = received(FrameFate::Handled);
  FrameEvent otherPort = received(FrameFate::Handled);
  otherPort.port = 40000;
  otherPort.stored = true;
  otherPort.record = &record;
  FrameEvent oversize = received(FrameFate::Oversize);
  oversize.size = 300;
  const std::string at = "2026-12-11T09:01:02.345678Z ";
  const FrameCase cases[] = {
      {"a query sent", sent, query, at + "send 10.213.0.11:7000 0x02 basic-settings len=7 crc=ok fields={} -> send 2/3"},
      {"a search reply that answers",
       [&] {
         FrameEvent e = received(FrameFate::Answer);
         e.requestCode = 0x01;
         return e;
       }(),
       SearchReplyFrame("HALL0001", 1, 5),
       at + "recv 10.213.0.11:7000 0x01 search len=43 crc=ok fields={\"serial\":\"HALL0001\",\"firmware\":\"1.05\"} "
            "-> answer to 0x01 from 10.213.0.11"},
      {"a modify result", answer, FrameBytes({0x0F, 1}),
       at + "recv 10.213.0.11:7000 0x0F modify-result len=8 crc=ok fields={\"applied\":true} "
            "-> answer to 0x06 from 10.213.0.11"},
      {"a stray settings reply, stored", stored, BasicReplyFrame(0x08),
       at + "recv 10.213.0.11:7000 0x02 basic-settings len=33 crc=ok fields=" +
           SectionToJson(record, Section::Basic, CodePage::Cp1252).dump() +
           " -> stray: stored into the record of 10.213.0.11"},
      {"a settings reply from a host without a record", unknownSender, BasicReplyFrame(0x08),
       at + "recv 10.213.0.11:7000 0x02 basic-settings len=33 crc=ok fields={} "
            "-> stray: not stored: no record of 10.213.0.11"},
      {"a reply from another port", otherPort, BasicReplyFrame(0x08),
       at + "recv 10.213.0.11:40000 0x02 basic-settings len=33 crc=ok fields=" +
           SectionToJson(record, Section::Basic, CodePage::Cp1252).dump() +
           " -> stray from port 40000, not 7000: stored into the record of 10.213.0.11"},
      {"a stale answer", received(FrameFate::Stale), FrameBytes({0x06, 1}),
       at + "recv 10.213.0.11:7000 0x06 modify-basic-settings len=8 crc=ok fields={} "
            "-> dropped: stale (waiting before the exchange began)"},
      {"a bad checksum", received(FrameFate::BadChecksum), badCrc,
       at + "recv 10.213.0.11:7000 0x02 basic-settings len=33 crc=bad fields={} -> dropped: bad checksum"},
      {"too short", received(FrameFate::TooShort), Bytes{0x51, 0x4B, 0x80},
       at + "recv 10.213.0.11:7000 - - len=3 crc=- fields={} -> dropped: too short"},
      {"an unknown code", received(FrameFate::UnknownCode), FrameBytes({0x12, 1}),
       at + "recv 10.213.0.11:7000 0x12 unknown len=8 crc=ok fields={} -> dropped: unknown code"},
      {"oversize", oversize, Bytes(256, 0x51),
       at + "recv 10.213.0.11:7000 0x51 unknown len=300 crc=- fields={} -> dropped: oversize"},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.what);
    FrameEvent event = c.event;
    event.bytes = c.bytes;
    if (event.size == 0) event.size = c.bytes.size();
    EXPECT_EQ(FrameTraceLine(event, CodePage::Cp1252), c.expected);
  }
}

// A modify frame sent shows the settings it writes, read from its own bytes.
TEST(TraceWriterTest, AModifyFrameSentShowsWhatItWrites) {
  Bytes basic(27, 0);
  basic[0] = code::kModifyBasic;
  basic[1] = 0x40;  // UTC +8
  basic[2] = 0x80;  // 24 hours
  Bytes text(3 + 33, 0);
  text[0] = code::kModifyText;
  for (std::size_t i = 0; i < 5; ++i) text[3 + i] = static_cast<std::uint8_t>("HELLO"[i]);
  Bytes display(14, 0);
  display[0] = code::kModifyDisplay;
  struct Case {
    Bytes payload;
    std::vector<std::string> shown;
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {basic, {"\"timeFormat\":24", "\"zone\":\"UTC +8"}, {}},
      {text, {"\"mode\":\"roll\"", "\"text\":\"HELLO\""}, {"limit"}},
      {display, {"fields={} "}, {}},
  };
  for (const Case& c : cases) {
    const Bytes frame = FrameBytes(c.payload);
    FrameEvent event{.at = kAt, .sent = true, .ip = kClock, .port = 7000, .send = 1, .sends = 3};
    event.bytes = frame;
    event.size = frame.size();
    const std::string line = FrameTraceLine(event, CodePage::Cp1252);
    for (const std::string& part : c.shown) EXPECT_NE(line.find(part), std::string::npos) << line;
    for (const std::string& part : c.absent) EXPECT_EQ(line.find(part), std::string::npos) << line;
  }
}

TEST(TraceWriterTest, OneLinePerTftpPacket) {
  struct Case {
    TftpEvent event;
    Bytes bytes;
    std::string expected;
  };
  const tftp::Bytes request = *tftp::BuildWriteRequest("fw\xDC.bin", 1536);
  const auto ack = tftp::BuildAck(3);
  const std::string at = "2026-12-11T09:01:02.345678Z ";
  const Case cases[] = {
      {{.at = kAt, .sent = true, .ip = kClock, .port = 69, .send = 1, .sends = 10}, request,
       at + "send 10.213.0.11:69 tftp WRQ len=39 fields={\"file\":\"fw\xC3\x9C.bin\",\"mode\":\"octet\","
            "\"blksize\":\"512\",\"tsize\":\"1536\"} -> send 1/10"},
      {{.at = kAt, .sent = true, .ip = kClock, .port = 3456}, tftp::BuildData(3, Bytes(100, 7)),
       at + "send 10.213.0.11:3456 tftp DATA len=104 fields={\"block\":3,\"data\":100} -> send"},
      {{.at = kAt, .ip = kClock, .port = 3456, .fate = TftpFate::Acknowledges}, Bytes(ack.begin(), ack.end()),
       at + "recv 10.213.0.11:3456 tftp ACK len=4 fields={\"block\":3} -> acknowledges the packet sent"},
      {{.at = kAt, .ip = kClock, .port = 3456, .fate = TftpFate::NotAnAnswer}, Bytes{0, 5, 0, 1, 'n', 'o', 0},
       at + "recv 10.213.0.11:3456 tftp ERROR len=7 fields={\"error\":1,\"message\":\"no\"} "
            "-> ignored: no answer to the packet sent"},
      {{.at = kAt, .ip = kClock, .port = 3456, .fate = TftpFate::NotFromPeer}, Bytes{0},
       at + "recv 10.213.0.11:3456 tftp - len=1 fields={} -> ignored: not from the transfer's address and port"},
  };
  for (const Case& c : cases) {
    TftpEvent event = c.event;
    event.bytes = c.bytes;
    event.size = c.bytes.size();
    EXPECT_EQ(TftpTraceLine(event, CodePage::Cp1252), c.expected);
  }
}

// Lines written from many threads at once come out whole.
TEST(TraceWriterTest, LinesFromManyThreadsNeverInterleave) {
  std::ostringstream out;
  TraceWriter writer(out, CodePage::Cp1252);
  const Bytes query = FrameBytes({0x02});
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      FrameEvent event{.at = kAt, .sent = true, .ip = kClock + static_cast<std::uint32_t>(t), .port = 7000};
      event.bytes = query;
      event.size = query.size();
      for (int i = 0; i < 200; ++i) writer.Frame(event);
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::istringstream lines(out.str());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_EQ(line.rfind("2026-12-11T09:01:02.345678Z send 10.213.0.", 0), 0u) << line;
    EXPECT_TRUE(line.ends_with(" -> send")) << line;
  }
  EXPECT_EQ(count, 8 * 200);
}

// One exchange on loopback, its trace read back: a stray reply from another
// clock, a bad checksum, a late answer taken on the second try, and the
// answer to that second try, found waiting when the next exchange begins.
TEST(TraceWriterTest, AnExchangesTraceTellsEachDatagramsFate) {
  constexpr std::uint32_t kStranger = 0x7F000002;
  LoopbackPeer clock;
  LoopbackPeer stranger(kStranger);
  testing::NoAdapters adapters;
  testing::NoNeighbours neighbours;
  testing::ClosedPorts probe;
  const std::filesystem::path settings =
      std::filesystem::temp_directory_path() / ("marindo-trace-" + std::to_string(::getpid()) + ".ini");
  ClockNames names(settings, CodePage::Cp1252);
  std::ostringstream out;
  TraceWriter writer(out, CodePage::Cp1252);
  LinkServices services{adapters, neighbours, probe, names};
  services.trace = &writer;
  LinkTimings timings;
  timings.bindIp = kLoopback;
  timings.localPort = 0;
  timings.clockPort = clock.Port();
  timings.replyWait = 300ms;
  ClockLink link(services, timings);
  for (std::uint32_t ip : {kLoopback, kStranger}) {
    ClockRecord record;
    record.ip = ip;
    link.Clocks().Append(record);
  }
  Bytes badCrc = BasicReplyFrame(0x48);
  badCrc.back() ^= 0xFF;
  Bytes display(14, 0);
  display[0] = 0x05;
  clock.Start([&](std::size_t index, const PeerDatagram& query) -> std::vector<Bytes> {
    if (index == 0) {
      stranger.SendTo(BasicReplyFrame(0x11), query.senderIp, query.senderPort);
      clock.SendTo(badCrc, query.senderIp, query.senderPort);
      // Past the first try's wait: this answer comes while the second waits.
      std::this_thread::sleep_for(450ms);
      return {BasicReplyFrame(0x40)};
    }
    if (index == 1) return {BasicReplyFrame(0x48)};
    return {testing::FrameBytes(display)};
  });
  ASSERT_TRUE(link.Query(kLoopback, code::kQueryBasic));
  EXPECT_EQ(link.FindByIp(kLoopback)->zoneHours, 8) << "the late answer was taken";
  std::this_thread::sleep_for(50ms);  // the second try's answer is in by now
  ASSERT_TRUE(link.Query(kLoopback, code::kQueryDisplay));

  const std::string clockAt = "127.0.0.1:" + std::to_string(clock.Port());
  const std::string strangerAt = "127.0.0.2:" + std::to_string(stranger.Port());
  const std::vector<std::string> expected = {
      "send " + clockAt + " 0x02 basic-settings len=7 crc=ok fields={} -> send 1/3",
      "recv " + strangerAt + " 0x02 basic-settings len=33 crc=ok -> stray from port " +
          std::to_string(stranger.Port()) + ", not " + std::to_string(clock.Port()) +
          ": stored into the record of 127.0.0.2",
      "recv " + clockAt + " 0x02 basic-settings len=33 crc=bad fields={} -> dropped: bad checksum",
      "send " + clockAt + " 0x02 basic-settings len=7 crc=ok fields={} -> send 2/3",
      "recv " + clockAt + " 0x02 basic-settings len=33 crc=ok -> answer to 0x02 from 127.0.0.1",
      "recv " + clockAt + " 0x02 basic-settings len=33 crc=ok fields={} -> dropped: stale (waiting before the "
                          "exchange began)",
      "send " + clockAt + " 0x05 display-settings len=7 crc=ok fields={} -> send 1/3",
      "recv " + clockAt + " 0x05 display-settings len=20 crc=ok -> answer to 0x05 from 127.0.0.1",
  };
  std::vector<std::string> lines;
  std::istringstream text(out.str());
  for (std::string line; std::getline(text, line);) {
    // The time goes; the decoded fields of a stored reply are checked below.
    line = line.substr(line.find(' ') + 1);
    const std::size_t fields = line.find(" fields={\"");
    if (fields != std::string::npos) line.erase(fields, line.find(" -> ") - fields);
    lines.push_back(line);
  }
  EXPECT_EQ(lines, expected) << out.str();
  EXPECT_NE(out.str().find("\"zone\":\"UTC +2"), std::string::npos) << "the stray's zone" << out.str();
  std::filesystem::remove(settings);
}

}  // namespace
}  // namespace marindo
