#include "platform/PortProbe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace marindo {
namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

// A TCP socket bound to a free loopback port; listening or not.
class LoopbackPort {
 public:
  explicit LoopbackPort(bool listen) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(kLoopback);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
    if (listen) ::listen(fd_, 4);
  }
  ~LoopbackPort() { ::close(fd_); }
  std::uint16_t Port() const { return port_; }

 private:
  int fd_;
  std::uint16_t port_ = 0;
};

int OpenDescriptors() {
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd) count += ::fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return count;
}

TEST(TcpPortProbeTest, ListeningPortAccepts) {
  const LoopbackPort port(true);
  ASSERT_NE(port.Port(), 0);
  EXPECT_TRUE(TcpPortProbe().Accepts(kLoopback, port.Port(), std::chrono::milliseconds(500)));
}

TEST(TcpPortProbeTest, RefusedPortDoesNotAccept) {
  // Bound but not listening: the kernel refuses connections to it.
  const LoopbackPort port(false);
  ASSERT_NE(port.Port(), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(TcpPortProbe().Accepts(kLoopback, port.Port(), std::chrono::milliseconds(500)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

TEST(TcpPortProbeTest, ClosesItsSocketOnEveryPath) {
  const LoopbackPort listening(true);
  const LoopbackPort refused(false);
  TcpPortProbe probe;
  const int before = OpenDescriptors();
  for (int i = 0; i < 20; ++i) {
    probe.Accepts(kLoopback, listening.Port(), std::chrono::milliseconds(100));
    probe.Accepts(kLoopback, refused.Port(), std::chrono::milliseconds(100));
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace marindo
