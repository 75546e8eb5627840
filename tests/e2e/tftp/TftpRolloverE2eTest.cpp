// A firmware upload of more than 65535 blocks to Debian's tftpd-hpa on the
// test LAN: the block numbers roll over to 0 and the file arrives whole.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "E2eSupport.h"
#include "tftp/TftpClient.h"

namespace marindo::e2e {
namespace {

namespace fs = std::filesystem;

class CountingProgress : public UploadProgress {
 public:
  void Start() override {}
  void Block(std::uint64_t, std::uint64_t) override { ++blocks; }
  void Finish(std::uint64_t block, std::uint64_t bytes) override {
    finishBlock = block;
    finishBytes = bytes;
  }
  std::uint64_t blocks = 0, finishBlock = 0, finishBytes = 0;
};

std::string Bytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// One tftpd-hpa on an address of its own in the simulated clock's namespace.
class TftpdHpa {
 public:
  TftpdHpa(const std::string& address, bool refuseOptions, const fs::path& root) : root_(root) {
    fs::create_directories(root_ / "usr/tftpfile");
    fs::permissions(root_, fs::perms::all);
    const std::string ns = std::string(std::getenv("TESTLAN_PREFIX")) + "-c-tftphost";
    Shell("ip -n " + ns + " addr add " + address + "/16 dev eth0");
    pid_ = ::fork();
    if (pid_ == 0) {
      const std::string listen = address + ":69";
      if (refuseOptions) {
        ::execlp("ip", "ip", "netns", "exec", ns.c_str(), "in.tftpd", "--foreground", "--listen", "--address",
                 listen.c_str(), "--secure", "--create", "--user", "root", "--umask", "000", "-r", "blksize", "-r",
                 "tsize", root_.c_str(), nullptr);
      } else {
        ::execlp("ip", "ip", "netns", "exec", ns.c_str(), "in.tftpd", "--foreground", "--listen", "--address",
                 listen.c_str(), "--secure", "--create", "--user", "root", "--umask", "000", root_.c_str(), nullptr);
      }
      ::_exit(127);
    }
    ::usleep(500000);
  }
  ~TftpdHpa() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
  pid_t pid_ = -1;
};

// More than 65535 blocks: the block numbers roll over to 0 and the file
// arrives whole.
TEST(TftpRolloverTest, LargeUploadRollsOverAndArrivesIdentical) {
  if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
  const fs::path work = RunFolder() / "tftp-rollover";
  fs::remove_all(work);
  fs::create_directories(work / "local");
  TftpdHpa tftpd("10.213.0.63", true, work / "root");
  const std::string bytes = Bytes(33554432, 3);
  const fs::path local = work / "local" / "big.tar";
  WriteFile(local, bytes);
  TftpClient client(CodePage::Cp1252);
  CountingProgress progress;
  ASSERT_EQ(client.UploadFile(0x0AD5003F, local.string(), progress), 0);
  EXPECT_EQ(progress.finishBytes, bytes.size());
  EXPECT_EQ(progress.finishBlock, 65537u);
  EXPECT_TRUE(ReadFile(tftpd.Root() / "big.tar") == bytes);
  fs::remove_all(work);
  Shell(std::string("ip -n ") + std::getenv("TESTLAN_PREFIX") + "-c-tftphost addr del 10.213.0.63/16 dev eth0");
}

}  // namespace
}  // namespace marindo::e2e
