// marindo-cli serve through RunCli: what it refuses before anything is sent,
// and the exporter against a clock on loopback, scraped over HTTP.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/Cli.h"
#include "link/LinkTestFakes.h"
#include "link/LoopbackPeer.h"

namespace marindo {
namespace {

using testing::Bytes;
using testing::LoopbackPeer;
using testing::PeerDatagram;
using namespace std::chrono_literals;

constexpr std::uint32_t kClock = 0x7F000002;
constexpr const char* kTryServeHelp = "Try 'marindo-cli serve --help'.\n";

// A TCP port on 127.0.0.1 held open, as another server would hold it.
class HeldPort {
 public:
  HeldPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 1) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      ADD_FAILURE() << "cannot hold a loopback port";
    }
    port_ = ntohs(address.sin_port);
  }
  ~HeldPort() { ::close(fd_); }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;
  std::uint16_t Port() const { return port_; }

 private:
  int fd_;
  std::uint16_t port_ = 0;
};

// A port nobody listens on right now.
std::uint16_t FreePort() { return HeldPort().Port(); }

// The clock's display settings: 21.5 degrees Celsius and 45.6 % humidity.
Bytes DisplayReply() {
  std::vector<std::uint8_t> p(14, 0);
  p[0] = 0x05;
  p[7] = 1;
  p[8] = 21;
  p[9] = 5 << 4;
  p[10] = 45 << 1;
  p[11] = 6 << 4;
  return testing::FrameBytes(p);
}

class ServeTest : public ::testing::Test {
 protected:
  ServeTest() {
    std::filesystem::create_directories(folder_);
    clock_.Start([this](std::size_t, const PeerDatagram& datagram) -> std::vector<Bytes> {
      if (silent_ || datagram.bytes.size() < 5) return {};
      if (datagram.bytes[4] == 0x01) return {testing::SearchReplyFrame("LOOP1", 4, 2, 1765432100)};
      if (datagram.bytes[4] == 0x05) return {DisplayReply()};
      return {};
    });
  }
  ~ServeTest() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  int Run(std::vector<std::string> args, std::function<void()> whileServing = [] {}) {
    err_.str("");
    CliEnvironment env{.out = out_,
                       .err = err_,
                       .progress = stderr,
                       .passwords = passwords_,
                       .adapters = adapters_,
                       .neighbours = neighbours_,
                       .probe = probe_,
                       .settingsFile = folder_ / "Tessaly.ini",
                       .codePage = CodePage::Cp1252,
                       .now = [] { return std::int64_t{1765432200}; },
                       .waitForStop = std::move(whileServing)};
    env.linkTimings.bindIp = 0x7F000001;
    env.linkTimings.localPort = 0;
    env.linkTimings.clockPort = clock_.Port();
    env.linkTimings.replyWait = 100ms;
    env.linkTimings.searchQuiet = 50ms;
    return RunCli(args, env);
  }

  std::filesystem::path folder_ =
      std::filesystem::temp_directory_path() / ("marindo-serve-test-" + std::to_string(::getpid()));
  std::ostringstream out_;
  std::ostringstream err_;
  testing::NoAdapters adapters_;
  testing::NoNeighbours neighbours_;
  testing::ClosedPorts probe_;
  class NoPasswords : public PasswordSource {
   public:
    std::optional<std::string> AskPassword(const std::string&) override {
      ADD_FAILURE() << "serve asked for a password";
      return std::nullopt;
    }
  } passwords_;
  std::atomic<bool> silent_{false};
  LoopbackPeer clock_{kClock};
};

// Each mistake is told on one line, followed by where to read more; nothing
// reaches the clock and the exporter never starts.
TEST_F(ServeTest, BadInputIsRefusedBeforeAnythingIsSent) {
  const HeldPort held;
  const std::string heldListen = "127.0.0.1:" + std::to_string(held.Port());
  const std::string missing = (folder_ / "missing.conf").string();
  const std::string unknownKey = Write("unknown.conf", "[exporter]\nlisten = 127.0.0.1:9477\ncolour = red\n");
  const std::string badInterval = Write("interval.conf", "# the site\n[exporter]\ninterval = 0\n");
  const std::string badListen = Write("listen.conf", "[exporter]\nlisten = localhost:9477\n");
  const std::string badTargets = Write("targets.conf", "[exporter]\n\ntargets = 10.0.0.9-10.0.0.1\n");
  const std::string otherSection = Write("section.conf", "[exporter]\n[server]\nport = 1\n");
  const std::string outside = Write("outside.conf", "interval = 60\n[exporter]\n");
  const std::string twice = Write("twice.conf", "[exporter]\ninterval = 60\nInterval = 30\n");
  const std::string noValue = Write("line.conf", "[exporter]\ninterval\n");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"serve", "--listen", heldListen}, "cannot listen on " + heldListen + ": address already in use"},
      {{"serve", "--listen", "localhost:9477"}, "--listen: \"localhost:9477\" is not ADDR:PORT"},
      {{"serve", "--listen", "127.0.0.1"}, "--listen: \"127.0.0.1\" is not ADDR:PORT"},
      {{"serve", "--listen", "127.0.0.1:0"}, "--listen: \"127.0.0.1:0\" is not ADDR:PORT"},
      {{"serve", "--listen", "127.0.0.1:65536"}, "--listen: \"127.0.0.1:65536\" is not ADDR:PORT"},
      {{"serve", "--listen", ":9477"}, "--listen: \":9477\" is not ADDR:PORT"},
      {{"serve", "--listen", "127.0.0.1:94x7"}, "--listen: \"127.0.0.1:94x7\" is not ADDR:PORT"},
      {{"serve", "--listen", "[::1]:9477"}, "--listen: \"[::1]:9477\" is not ADDR:PORT"},
      {{"serve", "10.0.0.9-10.0.0.1"}, "range \"10.0.0.9-10.0.0.1\" ends before it starts"},
      {{"serve", "10.0.0.1/33"}, "\"10.0.0.1/33\" is not a network"},
      {{"serve", "10.0.0.1,,10.0.0.2"}, "is not an address"},
      {{"serve", "--config", missing}, missing + ": cannot be read: no such file or directory"},
      {{"serve", "--config", folder_.string()}, folder_.string() + ": cannot be read"},
      {{"serve", "--config", unknownKey}, unknownKey + ":3: unknown key \"colour\""},
      {{"serve", "--config", badInterval}, badInterval + ":3: interval takes a whole number from 1 to 86400"},
      {{"serve", "--config", badListen}, badListen + ":2: listen: \"localhost:9477\" is not ADDR:PORT"},
      {{"serve", "--config", badTargets}, badTargets + ":3: targets: range \"10.0.0.9-10.0.0.1\" ends before"},
      {{"serve", "--config", otherSection}, otherSection + ":2: unknown section [server]"},
      {{"serve", "--config", outside}, outside + ":1: \"interval\" comes before the [exporter] section"},
      {{"serve", "--config", twice}, twice + ":3: \"interval\" is given twice"},
      {{"serve", "--config", noValue}, noValue + ":2: not a \"key = value\" line"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    bool served = false;
    EXPECT_EQ(Run(c.args, [&] { served = true; }), kCliBadInput);
    EXPECT_FALSE(served);
    const std::string err = err_.str();
    EXPECT_TRUE(err.starts_with("marindo-cli: ")) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_TRUE(err.ends_with(kTryServeHelp)) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
  }
  EXPECT_TRUE(clock_.Received().empty());
}

// The command line refuses what serve does not take, as every command does.
TEST_F(ServeTest, OptionsOfServeBelongToServe) {
  EXPECT_EQ(Run({"serve", "--password-file", "/tmp/pw"}), kCliBadInput);
  EXPECT_NE(err_.str().find("serve reads no password"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"search", "--listen", "127.0.0.1:9477"}), kCliBadInput);
  EXPECT_NE(err_.str().find("belong to serve"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"serve", "--help"}), kCliDone);
  EXPECT_NE(out_.str().find("Usage: marindo-cli serve"), std::string::npos);
  EXPECT_TRUE(clock_.Received().empty());
}

// Polls GET `path` until `wanted` says yes or `patience` runs out; the last
// body.
std::string ScrapeUntil(httplib::Client& client, const std::string& path,
                        const std::function<bool(const std::string&)>& wanted,
                        std::chrono::milliseconds patience = 5000ms) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  std::string body;
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto response = client.Get(path.c_str()); response && response->status == 200) {
      body = response->body;
      if (wanted(body)) break;
    }
    std::this_thread::sleep_for(20ms);
  }
  return body;
}

bool Has(const std::string& page, const std::string& line) { return page.find(line + "\n") != std::string::npos; }

// The exporter against one clock on loopback: the clock's lines appear after
// a refresh, and go to up 0 with their values kept when the clock falls
// silent; the server answers only its two pages; serve then ends cleanly.
TEST_F(ServeTest, ServesTheClocksOfEachRefresh) {
  const std::uint16_t port = FreePort();
  const std::string config = Write("exporter.conf",
                                   "# marindo-cli serve\n[exporter]\nlisten = 127.0.0.1:" + std::to_string(port) +
                                       "\ninterval = 1\nforget-after = 86400\ntargets = 127.0.0.2\n");
  const std::string up =
      R"(marindo_clock_up{ip="127.0.0.2",serial="LOOP1",mac="00-00-00-00-00-00",name="",model="new"})";
  std::string heard;
  std::string silent;
  int front = 0;
  int elsewhere = 0;
  std::string type;
  const int status = Run({"serve", "--config", config}, [&] {
    httplib::Client client("127.0.0.1", port);
    heard = ScrapeUntil(client, "/metrics", [&](const std::string& page) { return Has(page, up + " 1"); });
    silent_ = true;
    silent = ScrapeUntil(client, "/metrics", [&](const std::string& page) { return Has(page, up + " 0"); });
    if (auto response = client.Get("/metrics")) type = response->get_header_value("Content-Type");
    if (auto response = client.Get("/")) front = response->status;
    if (auto response = client.Get("/other")) elsewhere = response->status;
  });
  EXPECT_EQ(status, kCliDone) << err_.str();

  const std::string clock = R"({ip="127.0.0.2",serial="LOOP1"})";
  EXPECT_TRUE(Has(heard, up + " 1")) << heard;
  EXPECT_TRUE(Has(heard, "marindo_clock_last_sync_timestamp_seconds" + clock + " 1765432100")) << heard;
  EXPECT_TRUE(Has(heard, R"(marindo_clock_firmware_info{ip="127.0.0.2",serial="LOOP1",model="new",version="4.02"} 1)"))
      << heard;
  EXPECT_TRUE(Has(heard, "marindo_clock_temperature_celsius" + clock + " 21.5")) << heard;
  EXPECT_TRUE(Has(heard, "marindo_clock_humidity_ratio" + clock + " 0.456")) << heard;
  EXPECT_TRUE(Has(heard, "marindo_refresh_clocks 1")) << heard;

  EXPECT_TRUE(Has(silent, up + " 0")) << silent;
  EXPECT_TRUE(Has(silent, "marindo_clock_temperature_celsius" + clock + " 21.5")) << silent;
  EXPECT_TRUE(Has(silent, "marindo_refresh_silent_clocks 1")) << silent;
  EXPECT_EQ(type, "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_EQ(front, 200);
  EXPECT_EQ(elsewhere, 404);
  EXPECT_NE(err_.str().find("refresh: 1 clock, 0 silent, "), std::string::npos) << err_.str();
  EXPECT_NE(err_.str().find("refresh: 1 clock, 1 silent, "), std::string::npos) << err_.str();

  // Only the search and the display query reached the clock: no login, no change.
  for (const PeerDatagram& datagram : clock_.Received()) {
    EXPECT_TRUE(datagram.bytes[4] == 0x01 || datagram.bytes[4] == 0x05) << int{datagram.bytes[4]};
  }
}

}  // namespace
}  // namespace marindo
