// The transfer logic against a scripted clock and in-memory files: no sockets,
// no waiting, so the silent and the very long transfers run at once.

#include "tftp/TftpClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "tftp/TftpPackets.h"

namespace marindo {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kClock = 0xC0A80132;     // 192.168.1.50
constexpr std::uint32_t kStranger = 0xC0A80133;  // 192.168.1.51
constexpr std::uint16_t kTransferPort = 3456;    // the port the clock answers from

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Ack(std::uint16_t block) {
  const auto ack = tftp::BuildAck(block);
  return Bytes(ack.begin(), ack.end());
}

Bytes Data(std::uint16_t block, const Bytes& payload) { return tftp::BuildData(block, payload); }

Bytes Pattern(std::size_t size, std::uint8_t seed = 0) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return bytes;
}

// Each wait of a silent clock was one whole wait of the defaults, less only
// the moments spent between the send and the wait.
void ExpectWholeWaits(const std::vector<std::chrono::microseconds>& waits, std::size_t count) {
  ASSERT_EQ(waits.size(), count);
  for (const auto wait : waits) {
    EXPECT_LE(wait, 1s);
    EXPECT_GT(wait, 900ms);
  }
}

// A datagram in either direction: for a sent one ip/port is the destination,
// for a received one the source.
struct Datagram {
  Bytes bytes;
  std::uint32_t ip = kClock;
  std::uint16_t port = kTransferPort;
};

std::uint16_t Word(const Bytes& bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes.at(offset) << 8 | bytes.at(offset + 1));
}
std::uint16_t OpcodeOf(const Datagram& d) { return Word(d.bytes, 0); }
std::uint16_t BlockOf(const Datagram& d) { return Word(d.bytes, 2); }
Bytes PayloadOf(const Datagram& d) { return Bytes(d.bytes.begin() + 4, d.bytes.end()); }

// The clock's side of the seam: it records what the tool sends and queues
// what its script answers to each send. An empty queue is a silent wait.
struct ScriptedPeer {
  using Script = std::function<std::vector<Datagram>(const Datagram& sent)>;
  Script script;
  std::vector<Datagram> sent;
  std::deque<Datagram> queued;
  std::vector<std::chrono::microseconds> silentWaits;
  std::optional<std::pair<std::uint32_t, std::uint16_t>> boundTo;
  std::size_t keepBytes = SIZE_MAX;  // long transfers keep only the headers
};

class PeerSocket : public TftpSocket {
 public:
  explicit PeerSocket(ScriptedPeer& peer) : peer_(peer) {}

  bool Bind(std::uint32_t ip, std::uint16_t port) override {
    peer_.boundTo = {ip, port};
    return true;
  }

  bool SendTo(std::span<const std::uint8_t> bytes, std::uint32_t ip, std::uint16_t port) override {
    Datagram datagram{Bytes(bytes.begin(), bytes.end()), ip, port};
    if (peer_.script) {
      for (Datagram& answer : peer_.script(datagram)) peer_.queued.push_back(std::move(answer));
    }
    if (datagram.bytes.size() > peer_.keepBytes) datagram.bytes.resize(peer_.keepBytes);
    peer_.sent.push_back(std::move(datagram));
    return true;
  }

  std::optional<TftpDatagram> Receive(std::span<std::uint8_t> buffer, std::chrono::microseconds wait) override {
    if (peer_.queued.empty()) {
      peer_.silentWaits.push_back(wait);
      return std::nullopt;
    }
    const Datagram next = std::move(peer_.queued.front());
    peer_.queued.pop_front();
    const std::size_t copied = std::min(next.bytes.size(), buffer.size());
    std::copy_n(next.bytes.begin(), copied, buffer.begin());
    return TftpDatagram{next.bytes.size(), next.bytes.size() > buffer.size(), next.ip, next.port};
  }

 private:
  ScriptedPeer& peer_;
};

// A firmware file of any length without its bytes in memory.
struct FakeFile {
  std::uint64_t length = 0;
  std::function<std::uint8_t(std::uint64_t)> byteAt;
  std::optional<std::uint64_t> failFrom;  // reads at or after this position fail
  std::optional<std::uint64_t> shrunkTo;  // the file lost its bytes from here on
};

FakeFile FileOf(Bytes content) {
  auto shared = std::make_shared<Bytes>(std::move(content));
  return FakeFile{shared->size(), [shared](std::uint64_t p) { return (*shared)[static_cast<std::size_t>(p)]; }, {}, {}};
}

class FakeSource : public TftpFileSource {
 public:
  FakeSource(FakeFile file, std::vector<std::uint64_t>& positions) : file_(std::move(file)), positions_(positions) {}
  std::uint64_t Length() const override { return file_.length; }
  std::optional<std::size_t> ReadAt(std::uint64_t position, std::span<std::uint8_t> buffer) override {
    positions_.push_back(position);
    if (file_.failFrom && position >= *file_.failFrom) return std::nullopt;
    std::size_t count = 0;
    const std::uint64_t end = file_.shrunkTo.value_or(file_.length);
    for (; count < buffer.size() && position + count < end; ++count) {
      buffer[count] = file_.byteAt(position + count);
    }
    return count;
  }

 private:
  FakeFile file_;
  std::vector<std::uint64_t>& positions_;
};

// A file in memory that, like one on disk, is gone unless it was committed.
class FakeSink : public TftpFileSink {
 public:
  FakeSink(std::map<std::string, Bytes>& files, std::string path, const bool& appendFails, const bool& commitFails)
      : files_(files), path_(std::move(path)), appendFails_(appendFails), commitFails_(commitFails) {}
  ~FakeSink() override {
    if (!committed_) files_.erase(path_);
  }
  bool Append(std::span<const std::uint8_t> bytes) override {
    if (appendFails_) return false;
    Bytes& content = files_[path_];
    content.insert(content.end(), bytes.begin(), bytes.end());
    return true;
  }
  bool Commit() override {
    committed_ = !commitFails_;
    return committed_;
  }

 private:
  std::map<std::string, Bytes>& files_;
  std::string path_;
  const bool& appendFails_;
  const bool& commitFails_;
  bool committed_ = false;
};

class FakeIo : public TftpIo {
 public:
  std::unique_ptr<TftpSocket> OpenSocket() override {
    ++socketsOpened;
    if (!socketsAvailable) return nullptr;
    return std::make_unique<PeerSocket>(peer);
  }
  std::unique_ptr<TftpFileSource> OpenForReading(const std::string& path) override {
    const auto it = sources.find(path);
    if (it == sources.end()) return nullptr;
    return std::make_unique<FakeSource>(it->second, readPositions);
  }
  std::unique_ptr<TftpFileSink> CreateNew(const std::string& path) override {
    createAttempts.push_back(path);
    if (existing.count(path) != 0 || created.count(path) != 0) return nullptr;
    created[path];
    return std::make_unique<FakeSink>(created, path, appendFails, commitFails);
  }

  ScriptedPeer peer;
  bool socketsAvailable = true;
  int socketsOpened = 0;
  std::map<std::string, FakeFile> sources;
  std::vector<std::uint64_t> readPositions;
  std::set<std::string> existing;
  std::map<std::string, Bytes> created;
  std::vector<std::string> createAttempts;
  bool appendFails = false;
  bool commitFails = false;
};

class ProgressLog : public UploadProgress {
 public:
  void Start() override { events.push_back("start"); }
  void Block(std::uint64_t k, std::uint64_t length) override {
    events.push_back("block " + std::to_string(k) + " " + std::to_string(length));
  }
  void Finish(std::uint64_t k, std::uint64_t total) override {
    events.push_back("finish " + std::to_string(k) + " " + std::to_string(total));
  }
  std::vector<std::string> events;
};

// A clock that acknowledges every packet from its transfer port: block 0 for
// the write request, the packet's own block for data.
std::vector<Datagram> AckAll(const Datagram& sent) {
  const std::uint16_t block = OpcodeOf(sent) == 2 ? 0 : BlockOf(sent);
  return {Datagram{Ack(block)}};
}

// ---------------------------------------------------------------- upload

class TftpUploadTest : public ::testing::Test {
 protected:
  static constexpr const char* kPath = "/home/op/firmware/fw.bin";

  void SetUp() override { io.peer.script = AckAll; }

  void AddFile(Bytes content, const std::string& path = kPath) { io.sources[path] = FileOf(std::move(content)); }
  int Upload(const std::string& path = kPath) { return client.UploadFile(kClock, path, progress); }

  std::vector<Datagram> Sent(std::uint16_t opcode) const {
    std::vector<Datagram> matching;
    for (const Datagram& d : io.peer.sent) {
      if (OpcodeOf(d) == opcode) matching.push_back(d);
    }
    return matching;
  }
  std::vector<Datagram> DataSent() const { return Sent(3); }
  Bytes Delivered() const {
    Bytes all;
    for (const Datagram& d : DataSent()) {
      const Bytes payload = PayloadOf(d);
      all.insert(all.end(), payload.begin(), payload.end());
    }
    return all;
  }

  FakeIo io;
  TftpClient client{CodePage::Cp1252, TftpTimings{}, io};
  ProgressLog progress;
};

TEST_F(TftpUploadTest, WriteRequestCarriesNameOctetBlockSizeAndLength) {
  AddFile(Pattern(1536), "/srv/images/fw.tar");
  ASSERT_EQ(Upload("/srv/images/fw.tar"), 0);

  const Bytes expected = {0x00, 0x02, 0x66, 0x77, 0x2E, 0x74, 0x61, 0x72, 0x00, 0x6F, 0x63, 0x74, 0x65,
                          0x74, 0x00, 0x62, 0x6C, 0x6B, 0x73, 0x69, 0x7A, 0x65, 0x00, 0x35, 0x31, 0x32,
                          0x00, 0x74, 0x73, 0x69, 0x7A, 0x65, 0x00, 0x31, 0x35, 0x33, 0x36, 0x00};
  ASSERT_FALSE(io.peer.sent.empty());
  const Datagram& request = io.peer.sent.front();
  EXPECT_EQ(request.bytes, expected);
  EXPECT_EQ(request.ip, kClock);
  EXPECT_EQ(request.port, 69);
  ASSERT_TRUE(io.peer.boundTo);
  EXPECT_EQ(io.peer.boundTo->first, 0U);
  EXPECT_EQ(io.peer.boundTo->second, 10000);
}

TEST_F(TftpUploadTest, RemoteNameIsLastPathPartInTheCodePage) {
  struct Case {
    std::string path;
    Bytes name;
  };
  const Case cases[] = {
      {"/a/b/fw.bin", Text("fw.bin")},
      {"fw.bin", Text("fw.bin")},
      {"dir\\fw.bin", Text("dir\\fw.bin")},  // a backslash is part of a Linux file name
      {"/a/\xC3\x9C" "bung.bin", Bytes{0xDC, 'b', 'u', 'n', 'g', '.', 'b', 'i', 'n'}},  // Ü in CP1252
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    io.peer.sent.clear();
    AddFile(Pattern(10), c.path);
    ASSERT_EQ(Upload(c.path), 0);
    const Bytes expected = Concat({{0, 2}, c.name, {0}, Text("octet"), {0}, Text("blksize"), {0}, Text("512"), {0},
                                   Text("tsize"), {0}, Text("10"), {0}});
    EXPECT_EQ(io.peer.sent.front().bytes, expected);
  }
}

TEST_F(TftpUploadTest, BlocksAndProgressFollowTheFileLength) {
  struct Case {
    std::size_t length;
    std::vector<std::size_t> blockSizes;  // data bytes of blocks 1, 2, ...
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {0, {0}, {"start", "finish 1 0"}},
      {1000, {512, 488}, {"start", "block 1 1000", "finish 2 1000"}},
      {1024, {512, 512, 0}, {"start", "block 1 1024", "block 2 1024", "finish 3 1024"}},
      {2560,
       {512, 512, 512, 512, 512, 0},
       {"start", "block 1 2560", "block 2 2560", "block 3 2560", "block 4 2560", "block 5 2560", "finish 6 2560"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    io.peer.sent.clear();
    progress.events.clear();
    const Bytes content = Pattern(c.length, 3);
    AddFile(content);
    ASSERT_EQ(Upload(), 0);

    EXPECT_EQ(progress.events, c.events);
    const Bytes request = io.peer.sent.front().bytes;
    const std::string tsize = std::to_string(c.length);
    EXPECT_EQ(Bytes(request.end() - static_cast<long>(tsize.size()) - 1, request.end()), Concat({Text(tsize), {0}}));
    const auto data = DataSent();
    ASSERT_EQ(data.size(), c.blockSizes.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
      EXPECT_EQ(BlockOf(data[i]), i + 1);
      EXPECT_EQ(PayloadOf(data[i]).size(), c.blockSizes[i]);
      EXPECT_EQ(data[i].port, kTransferPort);
    }
    EXPECT_EQ(Delivered(), content);
  }
}

TEST_F(TftpUploadTest, AcknowledgementOfAnEarlierBlockResendsTheFollowingOne) {
  const Bytes content = Pattern(3000);
  AddFile(content);
  bool answeredWrongly = false;
  io.peer.script = [&](const Datagram& sent) {
    if (OpcodeOf(sent) == 3 && BlockOf(sent) == 5 && !answeredWrongly) {
      answeredWrongly = true;
      return std::vector<Datagram>{{Ack(4)}};
    }
    return AckAll(sent);
  };
  ASSERT_EQ(Upload(), 0);

  std::vector<std::uint16_t> blocks;
  for (const Datagram& d : DataSent()) blocks.push_back(BlockOf(d));
  EXPECT_EQ(blocks, (std::vector<std::uint16_t>{1, 2, 3, 4, 5, 5, 6}));
  const Bytes fifth(content.begin() + 2048, content.begin() + 2560);
  EXPECT_EQ(PayloadOf(DataSent()[5]), fifth);
  EXPECT_EQ(std::count(io.readPositions.begin(), io.readPositions.end(), 2048U), 2);
  EXPECT_EQ(progress.events.back(), "finish 6 3000");
}

// Acknowledgements of blocks not sent yet, even from the clock's own transfer
// port, must not carry the upload past data the clock never got.
TEST_F(TftpUploadTest, AcknowledgementsOfBlocksNotSentYetAreIgnored) {
  struct Case {
    const char* what;
    std::uint16_t answeredOpcode;  // the packet that gets the stray numbers first
    std::uint16_t answeredBlock;
    std::vector<std::uint16_t> strays;
  };
  const Case cases[] = {
      {"the write request", 2, 0, {1, 5}},
      {"the first data block", 3, 1, {60000, 60001}},
      {"the last data block", 3, 6, {7, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeIo fresh;
    TftpClient uploader{CodePage::Cp1252, TftpTimings{}, fresh};
    const Bytes content = Pattern(3000);
    fresh.sources[kPath] = FileOf(content);
    bool strayed = false;
    fresh.peer.script = [&](const Datagram& sent) {
      const bool target =
          OpcodeOf(sent) == c.answeredOpcode && (OpcodeOf(sent) == 2 || BlockOf(sent) == c.answeredBlock);
      if (!target || strayed) return AckAll(sent);
      strayed = true;
      std::vector<Datagram> answers;
      for (std::uint16_t stray : c.strays) answers.push_back({Ack(stray)});
      const std::vector<Datagram> proper = AckAll(sent);
      answers.insert(answers.end(), proper.begin(), proper.end());
      return answers;
    };
    ProgressLog log;
    ASSERT_EQ(uploader.UploadFile(kClock, kPath, log), 0);
    Bytes delivered;
    std::vector<std::uint16_t> blocks;
    for (const Datagram& d : fresh.peer.sent) {
      if (OpcodeOf(d) != 3) continue;
      blocks.push_back(BlockOf(d));
      const Bytes payload = PayloadOf(d);
      delivered.insert(delivered.end(), payload.begin(), payload.end());
    }
    EXPECT_EQ(blocks, (std::vector<std::uint16_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(delivered, content);
    EXPECT_EQ(log.events.back(), "finish 6 3000");
  }
}

TEST_F(TftpUploadTest, LastBlockCountsOnlyWhenItIsAcknowledged) {
  // A late second acknowledgement of block 1 answers the short last block:
  // that block has not been confirmed, so it goes again.
  const Bytes content = Pattern(700);
  AddFile(content);
  int lastBlockSends = 0;
  io.peer.script = [&](const Datagram& sent) {
    if (OpcodeOf(sent) == 3 && BlockOf(sent) == 2 && ++lastBlockSends == 1) return std::vector<Datagram>{{Ack(1)}};
    return AckAll(sent);
  };
  ASSERT_EQ(Upload(), 0);
  EXPECT_EQ(lastBlockSends, 2);
  EXPECT_EQ(progress.events, (std::vector<std::string>{"start", "block 1 700", "finish 2 700"}));
  EXPECT_EQ(PayloadOf(DataSent().back()), Bytes(content.begin() + 512, content.end()));
}

TEST_F(TftpUploadTest, SilentClockGetsTenRequestsOneWaitApart) {
  AddFile(Pattern(100));
  io.peer.script = nullptr;
  EXPECT_EQ(Upload(), -1);

  ASSERT_EQ(io.peer.sent.size(), 10U);
  for (const Datagram& d : io.peer.sent) {
    EXPECT_EQ(OpcodeOf(d), 2);
    EXPECT_EQ(d.port, 69);
  }
  ExpectWholeWaits(io.peer.silentWaits, 10);
  EXPECT_EQ(progress.events, std::vector<std::string>{"start"});
}

TEST_F(TftpUploadTest, ClockFallingSilentMidwayFailsAfterTenSendsOfTheBlock) {
  AddFile(Pattern(1500));
  io.peer.script = [](const Datagram& sent) {
    if (OpcodeOf(sent) == 3 && BlockOf(sent) == 2) return std::vector<Datagram>{};
    return AckAll(sent);
  };
  EXPECT_EQ(Upload(), -1);
  EXPECT_EQ(DataSent().size(), 11U);  // block 1, then block 2 ten times
  EXPECT_EQ(progress.events, (std::vector<std::string>{"start", "block 1 1500"}));
}

TEST_F(TftpUploadTest, DataGoesToThePortThatAnsweredAndTheNextUploadStartsAt69) {
  AddFile(Pattern(600));
  ASSERT_EQ(Upload(), 0);
  for (const Datagram& d : DataSent()) EXPECT_EQ(d.port, kTransferPort);
  EXPECT_EQ(client.ServerPort(), kTransferPort);

  io.peer.sent.clear();
  io.peer.script = nullptr;
  EXPECT_EQ(Upload(), -1);
  EXPECT_EQ(io.peer.sent.front().port, 69);
}

TEST_F(TftpUploadTest, OptionAcknowledgementAnswersTheWriteRequest) {
  const Bytes content = Pattern(1200);
  AddFile(content);
  constexpr std::uint16_t kOackPort = 4001;
  io.peer.script = [](const Datagram& sent) {
    if (OpcodeOf(sent) == 2) {
      return std::vector<Datagram>{{Concat({{0, 6}, Text("blksize"), {0}, Text("512"), {0}, Text("tsize"), {0},
                                            Text("1200"), {0}}),
                                    kClock, kOackPort}};
    }
    return std::vector<Datagram>{{Ack(BlockOf(sent)), kClock, kOackPort}};
  };
  ASSERT_EQ(Upload(), 0);
  const auto data = DataSent();
  ASSERT_EQ(data.size(), 3U);
  for (const Datagram& d : data) EXPECT_EQ(d.port, kOackPort);
  EXPECT_EQ(PayloadOf(data[0]).size(), 512U);
  EXPECT_EQ(Delivered(), content);
}

TEST_F(TftpUploadTest, ForeignAndMalformedAnswersAreIgnored) {
  // Each junk datagram arrives just before the clock's real answer to every
  // data block; the transfer must go on as if it had never come.
  struct Case {
    const char* what;
    Datagram junk;
  };
  const Case cases[] = {
      {"acknowledgement from another host", {Ack(9), kStranger, kTransferPort}},
      {"acknowledgement from another port of the clock", {Ack(9), kClock, 69}},
      {"option acknowledgement after the request", {Bytes{0, 6}, kClock, kTransferPort}},
      {"error packet", {Concat({{0, 5, 0, 1}, Text("nope"), {0}})}},
      {"acknowledgement cut to its opcode", {Bytes{0, 4}}},
      {"acknowledgement cut inside its block number", {Bytes{0, 4, 0}}},
      {"empty datagram", {Bytes{}}},
      {"data packet", {Data(1, Pattern(8))}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeIo fresh;
    TftpClient uploader{CodePage::Cp1252, TftpTimings{}, fresh};
    const Bytes content = Pattern(1000);
    fresh.sources[kPath] = FileOf(content);
    fresh.peer.script = [&c](const Datagram& sent) {
      std::vector<Datagram> answers = AckAll(sent);
      if (OpcodeOf(sent) == 3) answers.insert(answers.begin(), c.junk);
      return answers;
    };
    ASSERT_EQ(uploader.UploadFile(kClock, kPath, progress), 0);
    std::vector<std::uint16_t> blocks;
    for (const Datagram& d : fresh.peer.sent) {
      EXPECT_EQ(d.ip, kClock);
      if (OpcodeOf(d) == 3) {
        blocks.push_back(BlockOf(d));
        EXPECT_EQ(d.port, kTransferPort);
      }
    }
    EXPECT_EQ(blocks, (std::vector<std::uint16_t>{1, 2}));
    EXPECT_TRUE(fresh.peer.silentWaits.empty());
  }
}

TEST_F(TftpUploadTest, AcknowledgementWithExtraBytesStillCounts) {
  AddFile(Pattern(100));
  io.peer.script = [](const Datagram& sent) {
    Bytes ack = Ack(OpcodeOf(sent) == 2 ? 0 : BlockOf(sent));
    ack.resize(80, 0xEE);  // longer than the receive buffer: read cut
    return std::vector<Datagram>{{ack}};
  };
  EXPECT_EQ(Upload(), 0);
}

TEST_F(TftpUploadTest, AnotherHostCannotAcknowledgeForASilentClock) {
  AddFile(Pattern(700));
  io.peer.script = [](const Datagram& sent) {
    return std::vector<Datagram>{{Ack(OpcodeOf(sent) == 2 ? 0 : BlockOf(sent)), kStranger, 69}};
  };
  EXPECT_EQ(Upload(), -1);
  EXPECT_TRUE(DataSent().empty());
  EXPECT_EQ(io.peer.sent.size(), 10U);
  for (const Datagram& d : io.peer.sent) EXPECT_EQ(d.port, 69);
}

TEST_F(TftpUploadTest, UnreadableFirmwareFailsBeforeAnythingIsSent) {
  struct Case {
    const char* what;
    std::optional<FakeFile> file;
    std::size_t packetsSent;
  };
  FakeFile unreadable = FileOf(Pattern(1500));
  unreadable.failFrom = 0;
  FakeFile failsAtBlock3 = FileOf(Pattern(1500));
  failsAtBlock3.failFrom = 1024;
  const Case cases[] = {
      {"missing file", std::nullopt, 0},
      {"unreadable file", unreadable, 0},
      {"read failing at block 3", failsAtBlock3, 3},  // request, blocks 1 and 2
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    io.peer.sent.clear();
    progress.events.clear();
    io.sources.clear();
    if (c.file) io.sources[kPath] = *c.file;
    EXPECT_EQ(Upload(), -1);
    EXPECT_EQ(io.peer.sent.size(), c.packetsSent);
    for (const std::string& event : progress.events) EXPECT_EQ(event.find("finish"), std::string::npos);
  }
}

TEST_F(TftpUploadTest, FileShorterThanItsLengthFailsInsteadOfSendingACutFirmware) {
  FakeFile shrunk = FileOf(Pattern(1100));
  shrunk.shrunkTo = 600;  // the file lost bytes after it was measured
  io.sources[kPath] = shrunk;
  EXPECT_EQ(Upload(), -1);
  EXPECT_EQ(DataSent().size(), 1U);
}

TEST_F(TftpUploadTest, NoSocketFailsWithoutSending) {
  AddFile(Pattern(100));
  io.socketsAvailable = false;
  EXPECT_EQ(Upload(), -1);
  EXPECT_TRUE(io.peer.sent.empty());
}

TEST_F(TftpUploadTest, BlockNumbersRollOverAfter65535) {
  // 65536 full blocks and a last one of 100 bytes: blocks 65536 and 65537 go
  // out as 0 and 1. Each of them is first answered with an acknowledgement
  // of the block before it and must go again from the matching position.
  constexpr std::uint64_t kFullBlocks = 65536;
  constexpr std::uint64_t kLength = kFullBlocks * 512 + 100;
  io.sources[kPath] = FakeFile{kLength, [](std::uint64_t p) { return static_cast<std::uint8_t>(p >> 9); }, {}, {}};
  io.peer.keepBytes = 5;
  std::set<std::uint16_t> answeredEarlier;
  std::uint64_t dataPackets = 0;
  io.peer.script = [&](const Datagram& sent) {
    if (OpcodeOf(sent) != 3) return AckAll(sent);
    // A transfer that has lost its place would run on for ever: go silent.
    if (++dataPackets > kFullBlocks + 10) return std::vector<Datagram>{};
    const std::uint16_t block = BlockOf(sent);
    if (dataPackets > 65000 && block <= 1 && answeredEarlier.insert(block).second) {
      return std::vector<Datagram>{{Ack(static_cast<std::uint16_t>(block - 1))}};
    }
    return AckAll(sent);
  };
  ASSERT_EQ(Upload(), 0);

  const auto data = DataSent();
  ASSERT_EQ(data.size(), kFullBlocks + 1 + 2);
  std::vector<std::uint16_t> tail;
  std::vector<std::uint8_t> tailFirstBytes;
  for (auto it = data.end() - 6; it != data.end(); ++it) {
    tail.push_back(BlockOf(*it));
    tailFirstBytes.push_back(it->bytes.at(4));
  }
  EXPECT_EQ(tail, (std::vector<std::uint16_t>{65534, 65535, 0, 0, 1, 1}));
  // The first data byte is the low byte of the block's file position / 512.
  EXPECT_EQ(tailFirstBytes, (std::vector<std::uint8_t>{0xFD, 0xFE, 0xFF, 0xFF, 0x00, 0x00}));
  const std::vector<std::uint64_t> lastReads(io.readPositions.end() - 4, io.readPositions.end());
  EXPECT_EQ(lastReads, (std::vector<std::uint64_t>{65535ULL * 512, 65535ULL * 512, 65536ULL * 512, 65536ULL * 512}));

  const std::vector<std::string> lastEvents(progress.events.end() - 4, progress.events.end());
  const std::string length = std::to_string(kLength);
  EXPECT_EQ(lastEvents, (std::vector<std::string>{"block 65535 " + length, "block 65535 " + length,
                                                 "block 65536 " + length, "finish 65537 " + length}));
}

// ---------------------------------------------------------------- download

Datagram FromClock(Bytes bytes) { return Datagram{std::move(bytes)}; }

// A clock serving a log: data block 1 answers the read request, block k + 1
// the acknowledgement of block k. `payloads` are the data bytes of each block.
ScriptedPeer::Script ServingClock(std::vector<Bytes> payloads) {
  return [payloads = std::move(payloads)](const Datagram& sent) -> std::vector<Datagram> {
    std::size_t next = 0;
    if (OpcodeOf(sent) == 4) next = BlockOf(sent);
    if (OpcodeOf(sent) != 1 && OpcodeOf(sent) != 4) return {};
    if (next >= payloads.size()) return {};
    return {FromClock(Data(static_cast<std::uint16_t>(next + 1), payloads[next]))};
  };
}

class TftpDownloadTest : public ::testing::Test {
 protected:
  static constexpr const char* kLocalPath = "/tmp/logs/192.168.1.50log.txt";

  DownloadOutcome Download(std::string_view name = "log.txt", std::string_view folder = "/tmp/logs") {
    return client.DownloadFile(kClock, name, folder);
  }
  const Bytes& Stored() const { return io.created.at(kLocalPath); }
  std::vector<Datagram> AcksSent() const {
    std::vector<Datagram> acks;
    for (const Datagram& d : io.peer.sent) {
      if (OpcodeOf(d) == 4) acks.push_back(d);
    }
    return acks;
  }
  std::vector<std::uint16_t> AckedBlocks() const {
    std::vector<std::uint16_t> blocks;
    for (const Datagram& d : AcksSent()) blocks.push_back(BlockOf(d));
    return blocks;
  }

  FakeIo io;
  TftpClient client{CodePage::Cp1252, TftpTimings{}, io};
};

TEST_F(TftpDownloadTest, ReadRequestAndLocalName) {
  struct Case {
    std::string name;
    std::string folder;
    Bytes remotePath;
    std::string localPath;
  };
  const Case cases[] = {
      {"log.txt", "/tmp/logs", Text("/usr/tftpfile/log.txt"), "/tmp/logs/192.168.1.50log.txt"},
      {"log.txt", "/tmp/logs/", Text("/usr/tftpfile/log.txt"), "/tmp/logs/192.168.1.50log.txt"},
      {"sub/a.txt", "/tmp/logs", Text("/usr/tftpfile/sub/a.txt"), "/tmp/logs/192.168.1.50a.txt"},
      // The clock gets the code page; the local name stays in the system's UTF-8.
      {"\xC3\xA9.txt", "/tmp/logs", Concat({Text("/usr/tftpfile/"), {0xE9}, Text(".txt")}),
       "/tmp/logs/192.168.1.50\xC3\xA9.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " in " + c.folder);
    FakeIo fresh;
    TftpClient downloader{CodePage::Cp1252, TftpTimings{}, fresh};
    downloader.DownloadFile(kClock, c.name, c.folder);
    ASSERT_FALSE(fresh.peer.sent.empty());
    const Datagram& request = fresh.peer.sent.front();
    EXPECT_EQ(request.bytes, Concat({{0, 1}, c.remotePath, {0}, Text("octet"), {0}}));
    EXPECT_EQ(request.ip, kClock);
    EXPECT_EQ(request.port, 69);
    EXPECT_EQ(fresh.createAttempts, std::vector<std::string>{c.localPath});
    EXPECT_FALSE(fresh.peer.boundTo);  // the system picks the download's port
  }
}

TEST_F(TftpDownloadTest, ReadRequestForLogTxtIs30Bytes) {
  Download();
  const Bytes expected = {0x00, 0x01, '/', 'u', 's', 'r', '/', 't', 'f', 't', 'p', 'f', 'i', 'l', 'e',
                          '/',  'l',  'o', 'g', '.', 't', 'x', 't', 0x00, 'o', 'c', 't', 'e', 't', 0x00};
  ASSERT_EQ(io.peer.sent.front().bytes.size(), 30U);
  EXPECT_EQ(io.peer.sent.front().bytes, expected);
}

TEST_F(TftpDownloadTest, DataSizesDecideTheEnd) {
  struct Case {
    const char* what;
    std::vector<std::size_t> payloadSizes;
  };
  const Case cases[] = {
      {"516 then 100 bytes", {512, 96}},
      {"exact multiple of 512 ends with 4 bytes", {512, 512, 0}},
      {"one short block", {96}},
      {"empty log", {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeIo fresh;
    TftpClient downloader{CodePage::Cp1252, TftpTimings{}, fresh};
    std::vector<Bytes> payloads;
    Bytes whole;
    for (std::size_t i = 0; i < c.payloadSizes.size(); ++i) {
      // Line feeds and carriage returns among the bytes: stored as they came.
      payloads.push_back(Pattern(c.payloadSizes[i], static_cast<std::uint8_t>(i)));
      if (!payloads.back().empty()) payloads.back()[0] = '\n';
      whole.insert(whole.end(), payloads.back().begin(), payloads.back().end());
    }
    fresh.peer.script = ServingClock(payloads);
    EXPECT_EQ(downloader.DownloadFile(kClock, "log.txt", "/tmp/logs"), DownloadOutcome::Done);
    EXPECT_EQ(fresh.created.at(kLocalPath), whole);
    std::vector<std::uint16_t> acked;
    for (const Datagram& d : fresh.peer.sent) {
      if (OpcodeOf(d) != 4) continue;
      acked.push_back(BlockOf(d));
      EXPECT_EQ(d.bytes.size(), 4U);
      EXPECT_EQ(d.port, kTransferPort);
    }
    std::vector<std::uint16_t> expectedAcks(c.payloadSizes.size());
    std::iota(expectedAcks.begin(), expectedAcks.end(), std::uint16_t{1});
    EXPECT_EQ(acked, expectedAcks);
    EXPECT_TRUE(fresh.peer.silentWaits.empty());  // ended by the short block, not by waiting
  }
}

TEST_F(TftpDownloadTest, OptionAcknowledgementIsAnsweredWithAckOfBlockZero) {
  constexpr std::uint16_t kOackPort = 4002;
  io.peer.script = [](const Datagram& sent) -> std::vector<Datagram> {
    if (OpcodeOf(sent) == 1) return {{Concat({{0, 6}, Text("tsize"), {0}, Text("532"), {0}}), kClock, kOackPort}};
    if (BlockOf(sent) == 0) return {{Data(1, Pattern(512)), kClock, kOackPort}};
    if (BlockOf(sent) == 1) return {{Data(2, Pattern(20)), kClock, kOackPort}};
    return {};
  };
  EXPECT_EQ(Download(), DownloadOutcome::Done);
  const auto acks = AcksSent();
  ASSERT_FALSE(acks.empty());
  EXPECT_EQ(acks.front().bytes, (Bytes{0x00, 0x04, 0x00, 0x00}));
  EXPECT_EQ(acks.front().port, kOackPort);
  EXPECT_EQ(AckedBlocks(), (std::vector<std::uint16_t>{0, 1, 2}));
  EXPECT_EQ(Stored().size(), 532U);
}

TEST_F(TftpDownloadTest, RepeatedBlockIsAcknowledgedAgainButStoredOnce) {
  const Bytes first = Pattern(512, 1);
  const Bytes second = Pattern(30, 2);
  int acksOfBlock1 = 0;
  io.peer.script = [&](const Datagram& sent) -> std::vector<Datagram> {
    if (OpcodeOf(sent) == 1) return {FromClock(Data(1, first))};
    // The first acknowledgement "gets lost": the clock sends block 1 again.
    if (BlockOf(sent) == 1 && ++acksOfBlock1 == 1) return {FromClock(Data(1, first))};
    if (BlockOf(sent) == 1) return {FromClock(Data(2, second))};
    return {};
  };
  EXPECT_EQ(Download(), DownloadOutcome::Done);
  EXPECT_EQ(Stored(), Concat({first, second}));
  EXPECT_EQ(AckedBlocks(), (std::vector<std::uint16_t>{1, 1, 2}));
}

TEST_F(TftpDownloadTest, ForeignAndMalformedDatagramsAreIgnored) {
  // Each junk datagram arrives just before the clock's data blocks 2 and 3,
  // after block 1 fixed the clock's transfer port.
  struct Case {
    const char* what;
    Datagram junk;
  };
  const Case cases[] = {
      {"data from another host", {Data(2, Text("evil")), kStranger, kTransferPort}},
      {"data from another port of the clock", {Data(2, Text("evil")), kClock, 69}},
      {"datagram longer than 516 bytes", {Data(2, Pattern(600))}},
      {"data cut inside its block number", {Bytes{0, 3, 0}}},
      {"opcode only", {Bytes{0, 3}}},
      {"a single byte", {Bytes{0}}},
      {"empty datagram", {Bytes{}}},
      {"first byte not zero", {Bytes{1, 3, 0, 2, 'x'}}},
      {"error packet", {Concat({{0, 5, 0, 1}, Text("nope"), {0}})}},
      {"a block from the future", {Data(7, Text("gap"))}},
  };
  const std::vector<Bytes> payloads = {Pattern(512, 1), Pattern(512, 2), Pattern(77, 3)};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeIo fresh;
    TftpClient downloader{CodePage::Cp1252, TftpTimings{}, fresh};
    const auto serve = ServingClock(payloads);
    fresh.peer.script = [&](const Datagram& sent) {
      std::vector<Datagram> answers = serve(sent);
      if (OpcodeOf(sent) == 4) answers.insert(answers.begin(), c.junk);
      return answers;
    };
    EXPECT_EQ(downloader.DownloadFile(kClock, "log.txt", "/tmp/logs"), DownloadOutcome::Done);
    EXPECT_EQ(fresh.created.at(kLocalPath), Concat({payloads[0], payloads[1], payloads[2]}));
    ASSERT_EQ(fresh.peer.sent.size(), 4U);  // the request and three acknowledgements
    for (const Datagram& d : fresh.peer.sent) EXPECT_EQ(d.ip, kClock);
  }
}

TEST_F(TftpDownloadTest, AnotherHostCannotTakeOverBeforeTheFirstBlock) {
  io.peer.script = [](const Datagram& sent) -> std::vector<Datagram> {
    if (OpcodeOf(sent) != 1) return {};
    return {{Data(1, Text("evil")), kStranger, 69}, FromClock(Data(1, Text("good")))};
  };
  EXPECT_EQ(Download(), DownloadOutcome::Done);
  EXPECT_EQ(Stored(), Text("good"));
  ASSERT_EQ(AcksSent().size(), 1U);
  EXPECT_EQ(AcksSent().front().ip, kClock);
}

TEST_F(TftpDownloadTest, SilenceEndsWithNoResponseAndNoFile) {
  struct Case {
    const char* what;
    std::vector<Datagram> answers;  // to the read request
  };
  const Case cases[] = {
      {"silent clock", {}},
      {"one full block, then silence", {FromClock(Data(1, Pattern(512)))}},
      {"error packet, then silence", {FromClock(Concat({{0, 5, 0, 1}, Text("File not found"), {0}}))}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeIo fresh;
    TftpClient downloader{CodePage::Cp1252, TftpTimings{}, fresh};
    fresh.peer.script = [&c](const Datagram& sent) {
      return OpcodeOf(sent) == 1 ? c.answers : std::vector<Datagram>{};
    };
    EXPECT_EQ(downloader.DownloadFile(kClock, "log.txt", "/tmp/logs"), DownloadOutcome::NoResponse);
    EXPECT_EQ(fresh.created.count(kLocalPath), 0u) << "a broken download leaves no file";
    ExpectWholeWaits(fresh.peer.silentWaits, 1);
  }
}

TEST_F(TftpDownloadTest, ExistingLocalFileIsNotCreatedAfterTheRequest) {
  io.existing.insert(kLocalPath);
  io.peer.script = ServingClock({Pattern(10)});
  EXPECT_EQ(Download(), DownloadOutcome::FileNotCreated);
  ASSERT_EQ(io.peer.sent.size(), 1U);
  EXPECT_EQ(OpcodeOf(io.peer.sent.front()), 1);  // the request has gone; nothing follows it
  EXPECT_TRUE(io.created.empty());
}

TEST_F(TftpDownloadTest, NamesTooLongForTheRequestAreRefusedUnsent) {
  struct Case {
    const char* what;
    std::string name;
    CodePage codePage;
    bool fits;
  };
  // The remote path may have 90 bytes in the code page: 14 of the folder and 76 of the name.
  std::string hanzi76;  // 38 characters: 114 bytes of UTF-8, 76 of CP936
  for (int i = 0; i < 38; ++i) hanzi76 += "\xE4\xB8\xAD";
  const Case cases[] = {
      {"76 bytes", std::string(76, 'a'), CodePage::Cp1252, true},
      {"77 bytes", std::string(77, 'a'), CodePage::Cp1252, false},
      {"76 bytes of double-byte text", hanzi76, CodePage::Cp936, true},
      {"78 bytes of double-byte text", hanzi76 + "\xE4\xB8\xAD", CodePage::Cp936, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeIo fresh;
    TftpClient downloader{c.codePage, TftpTimings{}, fresh};
    const DownloadOutcome outcome = downloader.DownloadFile(kClock, c.name, "/tmp/logs");
    if (c.fits) {
      EXPECT_EQ(outcome, DownloadOutcome::NoResponse);
      ASSERT_EQ(fresh.peer.sent.size(), 1U);
      EXPECT_EQ(fresh.peer.sent.front().bytes.size(), 99U);
    } else {
      EXPECT_EQ(outcome, DownloadOutcome::NameTooLong);
      EXPECT_TRUE(fresh.peer.sent.empty());
      EXPECT_EQ(fresh.socketsOpened, 0);
      EXPECT_TRUE(fresh.createAttempts.empty());
    }
  }
}

TEST_F(TftpDownloadTest, NoSocketIsAnOutcomeNotAnEnd) {
  io.socketsAvailable = false;
  EXPECT_EQ(Download(), DownloadOutcome::NoSocket);
  EXPECT_TRUE(io.createAttempts.empty());
}

TEST_F(TftpDownloadTest, FailedWriteEndsTheDownloadAsAFailure) {
  io.appendFails = true;
  io.peer.script = ServingClock({Pattern(512), Pattern(5)});
  EXPECT_EQ(Download(), DownloadOutcome::FileNotWritten);
  // The first block was acknowledged before it was stored; nothing after it.
  EXPECT_EQ(AcksSent().size(), 1u);
  EXPECT_EQ(io.created.count(kLocalPath), 0u);
}

// A whole log that cannot be put on disk under its name is no success.
TEST_F(TftpDownloadTest, FailedCommitIsAFailure) {
  io.commitFails = true;
  io.peer.script = ServingClock({Pattern(512), Pattern(5)});
  EXPECT_EQ(Download(), DownloadOutcome::FileNotWritten);
  EXPECT_EQ(io.created.count(kLocalPath), 0u);
}

// ---------------------------------------------------------------- trace

class RecordingTrace : public TftpTrace {
 public:
  void Packet(const TftpEvent& event) override {
    lines.push_back(std::string(event.sent ? "send " : "recv ") + std::to_string(event.port) + " op" +
                    std::to_string(event.bytes.size() >= 2 ? event.bytes[1] : 0) + " len" +
                    std::to_string(event.size) + " " + FateName(event));
  }
  static std::string FateName(const TftpEvent& event) {
    switch (event.fate) {
      case TftpFate::Sent:
        return "sent " + std::to_string(event.send) + "/" + std::to_string(event.sends);
      case TftpFate::Acknowledges:
        return "acknowledges";
      case TftpFate::Stored:
        return "stored";
      case TftpFate::Repeated:
        return "repeated";
      case TftpFate::OptionsTaken:
        return "options";
      case TftpFate::NotFromPeer:
        return "not-from-peer";
      case TftpFate::NotAnAnswer:
        return "not-an-answer";
      case TftpFate::Oversize:
        return "oversize";
    }
    return "?";
  }
  std::vector<std::string> lines;
};

// Every packet of an upload, each with what became of it: a stranger's
// acknowledgement, a silent wait and a send again, an acknowledgement of an
// earlier block.
TEST_F(TftpUploadTest, TheTraceTellsWhatBecameOfEveryPacket) {
  RecordingTrace trace;
  client.SetTrace(&trace);
  AddFile(Pattern(600));
  int dataSends = 0;
  io.peer.script = [&](const Datagram& sent) -> std::vector<Datagram> {
    if (OpcodeOf(sent) == 2) return {{Ack(0), kStranger, kTransferPort}, {Ack(0)}};
    if (BlockOf(sent) == 1 && ++dataSends == 1) return {};
    if (BlockOf(sent) == 2) return {{Ack(5)}, {Ack(2)}};  // 5 is not sent yet
    return AckAll(sent);
  };
  ASSERT_EQ(Upload(), 0);
  const std::vector<std::string> expected = {
      "send 69 op2 len37 sent 1/10",
      "recv 3456 op4 len4 not-from-peer",
      "recv 3456 op4 len4 acknowledges",
      "send 3456 op3 len516 sent 1/10",
      "send 3456 op3 len516 sent 2/10",
      "recv 3456 op4 len4 acknowledges",
      "send 3456 op3 len92 sent 1/10",
      "recv 3456 op4 len4 not-an-answer",
      "recv 3456 op4 len4 acknowledges",
  };
  EXPECT_EQ(trace.lines, expected);
}

TEST_F(TftpDownloadTest, TheTraceTellsWhatBecameOfEveryPacket) {
  RecordingTrace trace;
  client.SetTrace(&trace);
  int acksOfBlock1 = 0;
  io.peer.script = [&](const Datagram& sent) -> std::vector<Datagram> {
    if (OpcodeOf(sent) == 1) return {{Concat({{0, 6}, Text("tsize"), {0}, Text("532"), {0}})}};
    if (BlockOf(sent) == 0) return {{Data(1, Pattern(512)), kStranger, kTransferPort}, FromClock(Data(1, Pattern(512)))};
    if (BlockOf(sent) == 1 && ++acksOfBlock1 == 1) return {FromClock(Data(1, Pattern(512))), FromClock(Data(3, {}))};
    if (BlockOf(sent) == 1) return {FromClock(Data(2, Pattern(20)))};
    return {};
  };
  ASSERT_EQ(Download(), DownloadOutcome::Done);
  const std::vector<std::string> expected = {
      "send 69 op1 len30 sent 0/0",
      "recv 3456 op6 len12 options",
      "send 3456 op4 len4 sent 0/0",
      "recv 3456 op3 len516 not-from-peer",
      "recv 3456 op3 len516 stored",
      "send 3456 op4 len4 sent 0/0",
      "recv 3456 op3 len516 repeated",
      "send 3456 op4 len4 sent 0/0",
      "recv 3456 op3 len4 not-an-answer",
      "recv 3456 op3 len24 stored",
      "send 3456 op4 len4 sent 0/0",
  };
  EXPECT_EQ(trace.lines, expected);
}

}  // namespace
}  // namespace marindo
