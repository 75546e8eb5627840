#include "platform/UdpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace marindo {
namespace {

sockaddr_in MakeAddress(std::uint32_t ip, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(ip);
  address.sin_port = htons(port);
  return address;
}

}  // namespace

UdpSocket::UdpSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

UdpSocket::~UdpSocket() {
  if (fd_ >= 0) ::close(fd_);
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool UdpSocket::EnableBroadcast() {
  const int on = 1;
  return fd_ >= 0 && ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

bool UdpSocket::Bind(std::uint32_t ip, std::uint16_t port) {
  const sockaddr_in address = MakeAddress(ip, port);
  return fd_ >= 0 &&
         ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

int UdpSocket::RequestReceiveBuffer(int bytes) {
  if (fd_ < 0) return 0;
  // SO_RCVBUFFORCE passes net.core.rmem_max for privileged callers; others
  // get at most that limit through SO_RCVBUF.
  if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
  int granted = 0;
  socklen_t length = sizeof granted;
  ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &granted, &length);
  return granted;
}

std::uint16_t UdpSocket::LocalPort() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

bool UdpSocket::SendTo(std::span<const std::uint8_t> bytes, std::uint32_t ip, std::uint16_t port) {
  if (fd_ < 0) return false;
  const sockaddr_in address = MakeAddress(ip, port);
  const ssize_t sent = ::sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return sent == static_cast<ssize_t>(bytes.size());
}

bool UdpSocket::WaitReadable(std::chrono::microseconds timeout) {
  if (fd_ < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
        deadline - std::chrono::steady_clock::now());
    const timespec wait{static_cast<time_t>(std::max<long long>(left.count(), 0) / 1000000000),
                        static_cast<long>(std::max<long long>(left.count(), 0) % 1000000000)};
    pollfd entry{fd_, POLLIN, 0};
    const int ready = ::ppoll(&entry, 1, &wait, nullptr);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

std::optional<UdpSocket::Received> UdpSocket::ReceiveFrom(std::span<std::uint8_t> buffer) {
  if (fd_ < 0) return std::nullopt;
  sockaddr_in sender{};
  socklen_t length = sizeof sender;
  // MSG_TRUNC makes the kernel report the datagram's real size, so an
  // oversized datagram is recognised instead of read cut.
  const ssize_t size = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                                  reinterpret_cast<sockaddr*>(&sender), &length);
  if (size < 0) return std::nullopt;
  Received received;
  received.size = static_cast<std::size_t>(size);
  received.truncated = received.size > buffer.size();
  received.senderIp = ntohl(sender.sin_addr.s_addr);
  received.senderPort = ntohs(sender.sin_port);
  return received;
}

}  // namespace marindo
