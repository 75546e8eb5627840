#include "cli/Cli.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/ClockFrame.h"
#include "link/LinkTestFakes.h"
#include "link/LoopbackPeer.h"

namespace marindo {
namespace {

using testing::Bytes;
using testing::LoopbackPeer;
using testing::PeerDatagram;
using namespace std::chrono_literals;

constexpr std::uint32_t kClock = 0x7F000002;

using testing::ClosedPorts;
using testing::NoAdapters;
using testing::NoNeighbours;

class ScriptedPasswords : public PasswordSource {
 public:
  std::optional<std::string> AskPassword(const std::string&) override {
    ++asked;
    if (typed.empty()) return std::nullopt;
    std::string next = typed.front();
    typed.erase(typed.begin());
    return next;
  }
  std::vector<std::string> typed;
  int asked = 0;
};


// A clock on loopback that answers the search and nothing else, and records
// what reached it: what bad input must never reach.
class CliRunTest : public ::testing::Test {
 protected:
  CliRunTest() {
    std::filesystem::create_directories(folder_);
    clock_.Start([](std::size_t, const PeerDatagram& datagram) -> std::vector<Bytes> {
      if (datagram.bytes.size() < 5 || datagram.bytes[4] != 0x01) return {};
      return {testing::SearchReplyFrame("LOOP1", 1)};
    });
  }
  ~CliRunTest() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  int Run(std::vector<std::string> args) {
    CliEnvironment env{.out = *output_,
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

  std::vector<std::uint8_t> CodesReceived() const {
    std::vector<std::uint8_t> codes;
    for (const PeerDatagram& datagram : clock_.Received()) codes.push_back(datagram.bytes.at(4));
    return codes;
  }

  // A password file as its owner keeps it: nobody else may read it.
  std::string PasswordFile(const std::string& password) {
    const std::string path = Write("pw", password + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return path;
  }

  std::filesystem::path folder_ =
      std::filesystem::temp_directory_path() / ("marindo-cli-test-" + std::to_string(::getpid()));
  std::ostringstream out_;
  std::ostream* output_ = &out_;
  std::ostringstream err_;
  ScriptedPasswords passwords_;
  NoAdapters adapters_;
  NoNeighbours neighbours_;
  ClosedPorts probe_;
  LoopbackPeer clock_{kClock};
};

TEST_F(CliRunTest, BadSettingsFilesSendNothing) {
  struct Case {
    std::string file;
    std::string message;
  };
  const Case cases[] = {
      {R"({"basic": {"colour": 1}})", "basic.colour"},
      {R"({"basic": {"zone": "UTC +15"}})", "basic.zone"},
      {R"({"bells": [{"bell": 1, "time": "25:00:00"}]})", "bells[0].time"},
      {R"({"basic": {"hour24": true)", "malformed JSON"},
      {R"({"lights": {}})", "lights: unknown field"},
      {R"({"serial": "A1"})", "no section to write"},
      {R"([1, 2])", "must hold a JSON object"},
  };
  const std::string password = PasswordFile("Tulip@KVX");
  for (const Case& c : cases) {
    err_.str("");
    const std::string file = Write("settings.json", c.file);
    EXPECT_EQ(Run({"apply", "127.0.0.2", file, "--password-file", password}), kCliBadInput) << c.file;
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
  }
  EXPECT_TRUE(CodesReceived().empty());
}

TEST_F(CliRunTest, AnUnknownAddressInTheListStopsBeforeAnyChange) {
  const std::string file = Write("settings.json", R"({"basic": {"brightness": "Dim"}})");
  EXPECT_EQ(Run({"apply", "127.0.0.2,127.0.0.9", file, "--password-file", PasswordFile("Tulip@KVX")}),
            kCliBadInput);
  EXPECT_NE(err_.str().find("unknown address: no clock answers at 127.0.0.9"), std::string::npos) << err_.str();
  EXPECT_EQ(CodesReceived(), std::vector<std::uint8_t>{0x01}) << "only the search reached the known clock";
}

TEST_F(CliRunTest, TheLoginIsTheWindowsLogin) {
  const std::string file = Write("settings.json", R"({"basic": {"brightness": "Dim"}})");
  EXPECT_EQ(Run({"apply", "127.0.0.2", file, "--password-file", PasswordFile("tulip@kvx")}), kCliWrongPassword);
  EXPECT_NE(err_.str().find("Wrong password!"), std::string::npos);

  passwords_.typed = {"nope", "also wrong", "still wrong"};
  EXPECT_EQ(Run({"search", "--unicast", "127.0.0.2"}), kCliWrongPassword);
  EXPECT_EQ(passwords_.asked, 3);

  passwords_.typed.clear();
  EXPECT_EQ(Run({"search", "--unicast", "127.0.0.2"}), kCliBadInput) << "no terminal, no password file";
  EXPECT_TRUE(CodesReceived().empty());

  passwords_.typed = {"wrong", "Tulip@KVX"};
  EXPECT_EQ(Run({"search", "--unicast", "127.0.0.2"}), kCliDone);
  EXPECT_NE(out_.str().find("LOOP1"), std::string::npos) << out_.str();
}

TEST_F(CliRunTest, AStoredPasswordReplacesTheDefault) {
  Write("Tessaly.ini", "[LOGIN_PSW]\npwd=Harbour7\n");
  EXPECT_EQ(Run({"search", "--unicast", "127.0.0.2", "--password-file", PasswordFile("Tulip@KVX")}),
            kCliWrongPassword);
  EXPECT_EQ(Run({"search", "--unicast", "127.0.0.2", "--password-file", PasswordFile("Harbour7")}), kCliDone);
}

// As ssh refuses a key file others can read, a password file open to others
// is refused before anything is sent.
TEST_F(CliRunTest, APasswordFileOthersMayReadOrChangeIsRefused) {
  namespace fs = std::filesystem;
  const std::string password = PasswordFile("Tulip@KVX");
  struct Case {
    const char* what;
    fs::perms mode;
    int status;
  };
  const Case cases[] = {
      {"owner only", fs::perms::owner_read | fs::perms::owner_write, kCliDone},
      {"group may read", fs::perms::owner_read | fs::perms::group_read, kCliBadInput},
      {"others may read", fs::perms::owner_read | fs::perms::others_read, kCliBadInput},
      {"group may write", fs::perms::owner_read | fs::perms::group_write, kCliBadInput},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    err_.str("");
    fs::permissions(password, c.mode);
    EXPECT_EQ(Run({"search", "--unicast", "127.0.0.2", "--password-file", password}), c.status);
    if (c.status == kCliBadInput) {
      EXPECT_NE(err_.str().find("chmod 600"), std::string::npos) << err_.str();
    }
  }
  fs::permissions(password, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Run({"search", "--unicast", "127.0.0.2", "--password-file", folder_.string()}), kCliBadInput);
  EXPECT_NE(err_.str().find("is not a file"), std::string::npos) << err_.str();
}

// A link planted in place of the settings file in a shared folder is not
// followed: the command says so and sends nothing, rather than calling the
// password wrong.
TEST_F(CliRunTest, ARefusedSettingsFileIsNamed) {
  namespace fs = std::filesystem;
  const std::string password = PasswordFile("Tulip@KVX");
  const std::string elsewhere = Write("elsewhere.ini", "[LOGIN_PSW]\npwd=Tulip@KVX\n");
  fs::create_symlink(elsewhere, folder_ / "Tessaly.ini");
  fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_all);
  EXPECT_EQ(Run({"search", "--unicast", "127.0.0.2", "--password-file", password}), kCliBadInput);
  EXPECT_NE(err_.str().find("symbolic link"), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().find("Wrong password!"), std::string::npos) << err_.str();
  EXPECT_TRUE(CodesReceived().empty());
}

// `show A --json > f; apply all f` would hand every clock A's address.
TEST_F(CliRunTest, AClocksOwnAddressGoesToOneClockOnly) {
  const std::string password = PasswordFile("Tulip@KVX");
  const std::string own = Write("own.json", R"({"basic": {"ipAddress": "127.0.0.2", "brightness": "Dim"}})");
  for (const char* targets : {"all", "127.0.0.2,127.0.0.3"}) {
    SCOPED_TRACE(targets);
    err_.str("");
    EXPECT_EQ(Run({"apply", targets, own, "--password-file", password}), kCliBadInput);
    EXPECT_NE(err_.str().find("basic.ipAddress"), std::string::npos) << err_.str();
  }
  EXPECT_TRUE(CodesReceived().empty());
  // A site-wide change without the address goes to any number of clocks.
  const std::string shared = Write("shared.json", R"({"basic": {"addressing": "dynamic", "ipAddress": "0.0.0.0"}})");
  err_.str("");
  Run({"apply", "127.0.0.2,127.0.0.3", shared, "--password-file", password});
  EXPECT_EQ(err_.str().find("basic.ipAddress"), std::string::npos) << err_.str();
}

// Output that never reached its file is a failure with a message, not a
// silent success.
TEST_F(CliRunTest, OutputThatCannotBeWrittenIsAFailure) {
  struct Full : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } full;
  std::ostream unwritable(&full);
  output_ = &unwritable;
  EXPECT_EQ(Run({"search", "--unicast", "127.0.0.2", "--password-file", PasswordFile("Tulip@KVX")}),
            kCliClockFailed);
  EXPECT_NE(err_.str().find("could not be written"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"--help"}), kCliClockFailed);
}

TEST_F(CliRunTest, HelpAndUsageErrorsNeedNoPassword) {
  EXPECT_EQ(Run({"--help"}), kCliDone);
  EXPECT_NE(out_.str().find("Usage: marindo-cli"), std::string::npos);
  EXPECT_EQ(Run({"restore", "--help"}), kCliDone);
  EXPECT_EQ(Run({"show"}), kCliBadInput);
  EXPECT_EQ(Run({"show", "10.0.0.300"}), kCliBadInput);
  EXPECT_EQ(passwords_.asked, 0);
  EXPECT_TRUE(CodesReceived().empty());
}

// A trace that cannot be written ends the command before the password is
// asked and before anything is sent.
TEST_F(CliRunTest, AnUnwritableTraceFileStopsTheCommandBeforeAnythingIsSent) {
  const std::string settings = Write("settings.json", R"({"basic": {"brightness": "Dim"}})");
  const std::string cases[] = {(folder_ / "missing" / "trace.txt").string(), folder_.string()};
  for (const std::string& trace : cases) {
    SCOPED_TRACE(trace);
    err_.str("");
    EXPECT_EQ(Run({"apply", "127.0.0.2", settings, "--trace", trace}), kCliBadInput);
    EXPECT_NE(err_.str().find(trace + ": the trace file cannot be written; nothing was sent"), std::string::npos)
        << err_.str();
  }
  EXPECT_EQ(passwords_.asked, 0);
  EXPECT_TRUE(CodesReceived().empty());
}

TEST_F(CliRunTest, TheTraceHoldsEveryFrameToAFileOrStandardError) {
  const std::string password = PasswordFile("Tulip@KVX");
  const std::string port = std::to_string(clock_.Port());
  const std::string sent = "send 127.0.0.2:" + port + " 0x01 search len=27 crc=ok fields={} -> send 1/3\n";
  const std::string answer = "recv 127.0.0.2:" + port +
                             " 0x01 search len=43 crc=ok fields={\"serial\":\"LOOP1\",\"firmware\":\"1.00\"} "
                             "-> answer to 0x01 from 127.0.0.2\n";
  // An old trace of the same name is replaced, not added to.
  const std::string file = Write("trace.txt", "an old trace\n");
  ASSERT_EQ(Run({"search", "--unicast", "127.0.0.2", "--password-file", password, "--trace", file}), kCliDone);
  std::ifstream in(file);
  std::ostringstream traced;
  traced << in.rdbuf();
  ASSERT_EQ(traced.str().find("an old trace"), std::string::npos);
  // Each line starts with its time: "2026-12-11T09:01:02.345678Z ".
  std::vector<std::string> lines;
  std::istringstream text(traced.str());
  for (std::string line; std::getline(text, line);) {
    ASSERT_GT(line.size(), 28u);
    EXPECT_EQ(line[10], 'T');
    EXPECT_EQ(line.substr(26, 2), "Z ");
    lines.push_back(line.substr(28) + "\n");
  }
  EXPECT_EQ(lines, (std::vector<std::string>{sent, answer}));

  err_.str("");
  ASSERT_EQ(Run({"--trace", "-", "search", "--unicast", "127.0.0.2", "--password-file", password}), kCliDone);
  EXPECT_NE(err_.str().find(answer), std::string::npos) << err_.str();
}

}  // namespace
}  // namespace marindo
