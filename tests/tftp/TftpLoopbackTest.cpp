// The transfers over real sockets and files: a small TFTP server thread on
// 127.0.0.1 plays the clock, on ports of its own choosing.

#include "tftp/TftpClient.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/UdpSocket.h"
#include "tftp/TftpPackets.h"

namespace marindo {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kLoopback = 0x7F000001;

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 1);
  // Line ends of both kinds, which must arrive unchanged.
  if (size > 4) {
    bytes[1] = '\n';
    bytes[2] = '\r';
    bytes[3] = '\n';
  }
  return bytes;
}

struct Received {
  Bytes bytes;
  std::uint16_t port = 0;
};

std::optional<Received> ReceiveOne(UdpSocket& socket, std::chrono::milliseconds wait) {
  std::vector<std::uint8_t> buffer(2048);
  if (!socket.WaitReadable(wait)) return std::nullopt;
  const auto got = socket.ReceiveFrom(buffer);
  if (!got) return std::nullopt;
  buffer.resize(std::min(got->size, buffer.size()));
  return Received{buffer, got->senderPort};
}

std::uint16_t Word(const Bytes& bytes, std::size_t offset) {
  if (bytes.size() < offset + 2) return 0xFFFF;
  return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

// Serves one request the way RFC 1350 servers do: the request reaches the
// listening port, the transfer runs from a second port.
class TinyTftpServer {
 public:
  TinyTftpServer() {
    listening_.Bind(kLoopback, 0);
    transfer_.Bind(kLoopback, 0);
  }
  ~TinyTftpServer() {
    if (thread_.joinable()) thread_.join();
  }

  std::uint16_t Port() const { return listening_.LocalPort(); }
  std::uint16_t TransferPort() const { return transfer_.LocalPort(); }

  void AcceptUpload() { thread_ = std::thread([this] { RunUpload(); }); }
  void ServeLog(Bytes content) { thread_ = std::thread([this, content = std::move(content)] { RunDownload(content); }); }
  void Join() { thread_.join(); }

  Bytes request;
  std::uint16_t clientPort = 0;
  Bytes stored;

 private:
  bool TakeRequest() {
    const auto got = ReceiveOne(listening_, 5000ms);
    if (!got) return false;
    request = got->bytes;
    clientPort = got->port;
    return true;
  }

  void RunUpload() {
    if (!TakeRequest()) return;
    std::uint16_t expected = 1;
    transfer_.SendTo(tftp::BuildAck(0), kLoopback, clientPort);
    while (const auto got = ReceiveOne(transfer_, 5000ms)) {
      if (got->port != clientPort || Word(got->bytes, 0) != 3) continue;
      const std::uint16_t block = Word(got->bytes, 2);
      if (block == expected) {
        stored.insert(stored.end(), got->bytes.begin() + 4, got->bytes.end());
        ++expected;
      }
      transfer_.SendTo(tftp::BuildAck(block), kLoopback, clientPort);
      if (block == expected - 1 && got->bytes.size() < 516) return;
    }
  }

  void RunDownload(const Bytes& content) {
    if (!TakeRequest()) return;
    for (std::size_t block = 1;; ++block) {
      const std::size_t from = (block - 1) * 512;
      const std::size_t count = std::min<std::size_t>(512, content.size() - from);
      const Bytes data = tftp::BuildData(static_cast<std::uint16_t>(block),
                                         std::span(content).subspan(from, count));
      if (!SendUntilAcknowledged(data, static_cast<std::uint16_t>(block))) return;
      if (count < 512) return;
    }
  }

  bool SendUntilAcknowledged(const Bytes& data, std::uint16_t block) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      transfer_.SendTo(data, kLoopback, clientPort);
      while (const auto got = ReceiveOne(transfer_, 500ms)) {
        if (Word(got->bytes, 0) == 4 && Word(got->bytes, 2) == block) return true;
      }
    }
    return false;
  }

  UdpSocket listening_;
  UdpSocket transfer_;
  std::thread thread_;
};

// A clock that never answers; it only counts what reaches it.
class SilentClock {
 public:
  SilentClock() { socket_.Bind(kLoopback, 0); }
  std::uint16_t Port() const { return socket_.LocalPort(); }
  std::vector<Bytes> Drain() {
    std::vector<Bytes> all;
    while (const auto got = ReceiveOne(socket_, 100ms)) all.push_back(got->bytes);
    return all;
  }

 private:
  UdpSocket socket_;
};

class NoProgress : public UploadProgress {
 public:
  void Start() override {}
  void Block(std::uint64_t, std::uint64_t) override {}
  void Finish(std::uint64_t k, std::uint64_t total) override { finished = {k, total}; }
  std::optional<std::pair<std::uint64_t, std::uint64_t>> finished;
};

class TftpLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "marindo-tftp-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // Loopback only, on ports the system picks; waits as given.
  static TftpTimings Timings(std::uint16_t serverPort, std::chrono::microseconds wait = 2s) {
    TftpTimings timings;
    timings.serverPort = serverPort;
    timings.uploadBindIp = kLoopback;
    timings.uploadLocalPort = 0;
    timings.wait = wait;
    return timings;
  }

  std::string WriteFile(const std::string& name, const Bytes& content) const {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                static_cast<std::streamsize>(content.size()));
    return path.string();
  }
  Bytes ReadFile(const std::string& name) const {
    std::ifstream in(folder_ / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path folder_;
};

TEST_F(TftpLoopbackTest, UploadReachesTheServer) {
  const Bytes content = Pattern(1300);
  const std::string path = WriteFile("fw.bin", content);
  TinyTftpServer server;
  server.AcceptUpload();
  TftpClient client(CodePage::Cp1252, Timings(server.Port()));
  NoProgress progress;

  EXPECT_EQ(client.UploadFile(kLoopback, path, progress), 0);
  server.Join();
  EXPECT_EQ(server.stored, content);
  EXPECT_EQ(server.request, *tftp::BuildWriteRequest("fw.bin", 1300));
  EXPECT_EQ(progress.finished, (std::pair<std::uint64_t, std::uint64_t>{3, 1300}));
  EXPECT_EQ(client.ServerPort(), server.TransferPort());
}

TEST_F(TftpLoopbackTest, UploadSendsFromItsPortOrAnyWhenThatIsTaken) {
  const std::string path = WriteFile("fw.bin", Pattern(100));
  UdpSocket occupant;
  ASSERT_TRUE(occupant.Bind(kLoopback, 0));
  std::uint16_t freePort = 0;
  {
    UdpSocket probe;
    ASSERT_TRUE(probe.Bind(kLoopback, 0));
    freePort = probe.LocalPort();
  }
  struct Case {
    const char* what;
    std::uint16_t localPort;
    bool expectThatPort;
  };
  const Case cases[] = {{"free port", freePort, true}, {"taken port", occupant.LocalPort(), false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TinyTftpServer server;
    server.AcceptUpload();
    TftpTimings timings = Timings(server.Port());
    timings.uploadLocalPort = c.localPort;
    TftpClient client(CodePage::Cp1252, timings);
    NoProgress progress;
    EXPECT_EQ(client.UploadFile(kLoopback, path, progress), 0);
    server.Join();
    EXPECT_EQ(server.clientPort == c.localPort, c.expectThatPort);
  }
}

TEST_F(TftpLoopbackTest, SilentClockGetsTenRequestsThenFailure) {
  const std::string path = WriteFile("fw.bin", Pattern(100));
  SilentClock clock;
  TftpClient client(CodePage::Cp1252, Timings(clock.Port(), 30ms));
  NoProgress progress;

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.UploadFile(kLoopback, path, progress), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 10 * 30ms);
  const auto received = clock.Drain();
  ASSERT_EQ(received.size(), 10U);
  for (const Bytes& request : received) EXPECT_EQ(Word(request, 0), 2);
}

TEST_F(TftpLoopbackTest, UnreadableFirmwareSendsNothing) {
  std::filesystem::create_directory(folder_ / "firmware.bin");
  SilentClock clock;
  TftpClient client(CodePage::Cp1252, Timings(clock.Port(), 30ms));
  NoProgress progress;
  for (const std::string name : {"firmware.bin", "missing.bin"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(client.UploadFile(kLoopback, (folder_ / name).string(), progress), -1);
  }
  EXPECT_TRUE(clock.Drain().empty());
}

TEST_F(TftpLoopbackTest, DownloadStoresTheLogByteForByte) {
  const Bytes content = Pattern(1200);
  TinyTftpServer server;
  server.ServeLog(content);
  TftpClient client(CodePage::Cp1252, Timings(server.Port()));

  const mode_t mask = ::umask(022);
  EXPECT_EQ(client.DownloadFile(kLoopback, "log.txt", folder_.string()), DownloadOutcome::Done);
  ::umask(mask);
  server.Join();
  EXPECT_EQ(server.request, *tftp::BuildReadRequest("/usr/tftpfile/log.txt"));
  EXPECT_EQ(ReadFile("127.0.0.1log.txt"), content);
  // The log alone, as an ordinary file of the user's.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), std::filesystem::directory_iterator()), 1);
  EXPECT_EQ(std::filesystem::status(folder_ / "127.0.0.1log.txt").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read | std::filesystem::perms::others_read);
}

// The clock falls silent after its first block: what came must not stay
// under the log's name, nor as a hidden half file beside it.
TEST_F(TftpLoopbackTest, ADownloadThatBreaksOffLeavesNothing) {
  UdpSocket clock;
  ASSERT_TRUE(clock.Bind(kLoopback, 0));
  std::thread serve([&] {
    const auto request = ReceiveOne(clock, 2000ms);
    if (!request) return;
    clock.SendTo(tftp::BuildData(1, Pattern(512)), kLoopback, request->port);
    ReceiveOne(clock, 2000ms);  // the acknowledgement; then silence
  });
  TftpClient client(CodePage::Cp1252, Timings(clock.LocalPort(), 100ms));
  EXPECT_EQ(client.DownloadFile(kLoopback, "log.txt", folder_.string()), DownloadOutcome::NoResponse);
  serve.join();
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

TEST_F(TftpLoopbackTest, ExistingLogFileIsLeftUntouched) {
  WriteFile("127.0.0.1log.txt", Text("earlier log\n"));
  SilentClock clock;
  TftpClient client(CodePage::Cp1252, Timings(clock.Port(), 30ms));

  EXPECT_EQ(client.DownloadFile(kLoopback, "log.txt", folder_.string()), DownloadOutcome::FileNotCreated);
  EXPECT_EQ(ReadFile("127.0.0.1log.txt"), Text("earlier log\n"));
  EXPECT_EQ(clock.Drain().size(), 1U);  // the read request had gone out already
}

TEST_F(TftpLoopbackTest, LinkInPlaceOfTheLogFileIsNotFollowed) {
  const std::string target = WriteFile("elsewhere.txt", Text("keep me"));
  std::filesystem::create_symlink(target, folder_ / "127.0.0.1log.txt");
  SilentClock clock;
  TftpClient client(CodePage::Cp1252, Timings(clock.Port(), 30ms));

  EXPECT_EQ(client.DownloadFile(kLoopback, "log.txt", folder_.string()), DownloadOutcome::FileNotCreated);
  EXPECT_EQ(ReadFile("elsewhere.txt"), Text("keep me"));
}

// A download that breaks off leaves nothing behind, neither under the log's
// name nor beside it: trying again finds the way free.
TEST_F(TftpLoopbackTest, SilentClockLeavesNoLogAfterOneWait) {
  SilentClock clock;
  TftpClient client(CodePage::Cp1252, Timings(clock.Port(), 30ms));
  EXPECT_EQ(client.DownloadFile(kLoopback, "sub/a.txt", folder_.string()), DownloadOutcome::NoResponse);
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
  const auto received = clock.Drain();
  ASSERT_EQ(received.size(), 1U);
  EXPECT_EQ(received.front(), *tftp::BuildReadRequest("/usr/tftpfile/sub/a.txt"));
}

// A host that sends every third of a wait, up to a limit, so that a wait it
// could stretch shows as a long one instead of hanging the test.
class Chatter {
 public:
  explicit Chatter(std::chrono::milliseconds every) : every_(every) { socket_.Bind(0x7F000002, 0); }
  ~Chatter() { Stop(); }
  void Start(std::uint16_t port) {
    thread_ = std::thread([this, port] {
      const auto end = std::chrono::steady_clock::now() + 3s;
      while (running_ && std::chrono::steady_clock::now() < end) {
        socket_.SendTo(tftp::BuildAck(1), kLoopback, port);
        std::this_thread::sleep_for(every_);
      }
    });
  }
  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::chrono::milliseconds every_;
  UdpSocket socket_;
  std::thread thread_;
  std::atomic<bool> running_{true};
};

TEST_F(TftpLoopbackTest, DatagramsFromElsewhereStretchNoUploadWait) {
  const std::string path = WriteFile("fw.bin", Pattern(100));
  SilentClock clock;
  std::uint16_t localPort = 0;
  {
    UdpSocket probe;
    ASSERT_TRUE(probe.Bind(kLoopback, 0));
    localPort = probe.LocalPort();
  }
  TftpTimings timings = Timings(clock.Port(), 90ms);
  timings.uploadLocalPort = localPort;
  TftpClient client(CodePage::Cp1252, timings);
  NoProgress progress;
  Chatter chatter(30ms);
  chatter.Start(localPort);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.UploadFile(kLoopback, path, progress), -1);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  chatter.Stop();
  EXPECT_LT(elapsed, 10 * 90ms + 300ms);
  EXPECT_EQ(clock.Drain().size(), 10U);
}

TEST_F(TftpLoopbackTest, DatagramsFromElsewhereStretchNoDownloadWait) {
  UdpSocket clock;
  ASSERT_TRUE(clock.Bind(kLoopback, 0));
  TftpClient client(CodePage::Cp1252, Timings(clock.LocalPort(), 150ms));
  Chatter chatter(45ms);
  // The chatter learns the download's port from the read request.
  std::thread learn([&] {
    if (const auto request = ReceiveOne(clock, 1000ms)) chatter.Start(request->port);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.DownloadFile(kLoopback, "log.txt", folder_.string()), DownloadOutcome::NoResponse);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  learn.join();
  chatter.Stop();
  EXPECT_LT(elapsed, 150ms + 250ms);
}

TEST_F(TftpLoopbackTest, AWindowPaintsWhileATransferWaits) {
  SilentClock clock;
  TftpTimings timings = Timings(clock.Port(), 100ms);
  timings.paintInterval = 10ms;
  TftpClient client(CodePage::Cp1252, timings);
  int paints = 0;
  client.SetWhileWaiting([&paints] { ++paints; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.DownloadFile(kLoopback, "log.txt", folder_.string()), DownloadOutcome::NoResponse);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(paints, 5);
  EXPECT_GE(elapsed, 100ms);
  EXPECT_LT(elapsed, 100ms + 200ms);
}

}  // namespace
}  // namespace marindo
