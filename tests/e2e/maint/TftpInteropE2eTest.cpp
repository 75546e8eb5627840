// The TFTP client against a server no one here wrote: Debian's tftpd-hpa,
// run inside a clock namespace of the test LAN on a second address of that
// clock, once refusing the write request's options (a plain ACK answers it,
// as the clocks do) and once accepting them (an option acknowledgement).

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "E2eSupport.h"
#include "tftp/TftpClient.h"

namespace marindo::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kServer = 0x0AD50029;  // 10.213.0.41, beside clock "peer" at .40
constexpr const char* kServerAddress = "10.213.0.41";

struct Mode {
  const char* name;
  const char* options;  // extra arguments of in.tftpd
};

std::string Pattern(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 29 + static_cast<std::size_t>(seed)) & 0xFF);
  return bytes;
}

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class CountingProgress : public UploadProgress {
 public:
  void Start() override { ++starts; }
  void Block(std::uint64_t, std::uint64_t) override { ++blocks; }
  void Finish(std::uint64_t, std::uint64_t bytes) override { finishedBytes = bytes; }
  int starts = 0;
  int blocks = 0;
  std::uint64_t finishedBytes = 0;
};

class TftpInteropE2eTest : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    if (Shell("command -v in.tftpd").empty()) GTEST_SKIP() << "in.tftpd (tftpd-hpa) is not installed";
    root_ = RunFolder() / (std::string("tftpd-") + GetParam().name);
    fs::remove_all(root_);
    fs::create_directories(root_ / "usr" / "tftpfile");
    // The server drops to an unprivileged user: it must create files here.
    fs::permissions(root_, fs::perms::all);
    local_ = RunFolder() / (std::string("tftp-local-") + GetParam().name);
    fs::remove_all(local_);
    fs::create_directories(local_);
    ASSERT_EQ(TestLan(std::string("clock-exec peer ip addr replace ") + kServerAddress + "/16 dev eth0"), 0);
    StartServer();
  }

  void TearDown() override {
    const std::string pid = Shell("cat '" + PidFile().string() + "' 2>/dev/null");
    if (!pid.empty()) Shell("kill " + pid);
  }

  fs::path PidFile() const { return RunFolder() / (std::string("tftpd-") + GetParam().name + ".pid"); }

  void StartServer() {
    fs::remove(PidFile());
    const std::string command = "bash " + (ToolsFolder() / "testlan.sh").string() +
                                " clock-exec peer in.tftpd --foreground --listen --address " + kServerAddress +
                                ":69 --secure --create --pidfile '" + PidFile().string() + "' " +
                                GetParam().options + " '" + root_.string() + "' </dev/null >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string listening = "bash " + (ToolsFolder() / "testlan.sh").string() +
                                  " clock-exec peer ss -Hlun 'sport = :69' | grep -c " + kServerAddress;
    for (int i = 0; i < 50; ++i) {
      if (Shell(listening) != "0" && fs::exists(PidFile())) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    FAIL() << "in.tftpd did not start";
  }

  fs::path root_;
  fs::path local_;
};

TEST_P(TftpInteropE2eTest, UploadsArriveWhole) {
  // Short, one block short of a multiple, and a multiple of 512 (ends with an empty block).
  for (std::size_t size : {std::size_t{100}, std::size_t{3000}, std::size_t{1024}}) {
    SCOPED_TRACE(size);
    const std::string name = "fw-" + std::to_string(size) + ".tar";
    const std::string bytes = Pattern(size, static_cast<char>(size));
    WriteFile(local_ / name, bytes);
    TftpClient client(CodePage::Cp1252);
    CountingProgress progress;
    ASSERT_EQ(client.UploadFile(kServer, (local_ / name).string(), progress), 0);
    EXPECT_EQ(progress.starts, 1);
    EXPECT_EQ(progress.blocks, static_cast<int>(size / 512));
    EXPECT_EQ(progress.finishedBytes, size);
    EXPECT_EQ(FileBytes(root_ / name), bytes);
  }
}

TEST_P(TftpInteropE2eTest, DownloadsArriveByteForByte) {
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"log.txt", std::string(40, 'x') + "\nline two\r\n" + Pattern(1300, 3)},
      {"exact.txt", Pattern(1024, 9)},  // ends with an empty data packet
      {"empty.txt", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path served = root_ / "usr" / "tftpfile" / c.name;
    WriteFile(served, c.bytes);
    fs::permissions(served, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::others_read);
    TftpClient client(CodePage::Cp1252);
    EXPECT_EQ(client.DownloadFile(kServer, c.name, local_.string()), DownloadOutcome::Done);
    EXPECT_EQ(FileBytes(local_ / (std::string(kServerAddress) + c.name)), c.bytes);
  }
  TftpClient client(CodePage::Cp1252);
  EXPECT_EQ(client.DownloadFile(kServer, "missing.txt", local_.string()), DownloadOutcome::NoResponse);
}

INSTANTIATE_TEST_SUITE_P(TftpdHpa, TftpInteropE2eTest,
                         ::testing::Values(Mode{"plainAck", "--refuse blksize --refuse tsize"},
                                           Mode{"optionAck", ""}),
                         [](const ::testing::TestParamInfo<Mode>& mode) { return std::string(mode.param.name); });

}  // namespace
}  // namespace marindo::e2e
