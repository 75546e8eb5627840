#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace marindo {

// What became of one TFTP packet.
enum class TftpFate {
  Sent,          // a packet the tool sent
  Acknowledges,  // an upload's answer: it acknowledges the packet sent
  Stored,        // a download's next data block, acknowledged and stored
  Repeated,      // a data block stored before: acknowledged again
  OptionsTaken,  // the option acknowledgement of a read request: acknowledged as block 0
  NotFromPeer,   // from another address or port than the transfer's
  NotAnAnswer,   // from the transfer's peer, but no answer to what was sent
  Oversize,      // longer than any packet the transfer takes
};

struct TftpEvent {
  std::chrono::system_clock::time_point at{};
  bool sent = false;
  std::uint32_t ip = 0;  // the receiver of a packet sent, the sender of one received
  std::uint16_t port = 0;
  std::span<const std::uint8_t> bytes{};  // as read: at most the receive buffer
  std::size_t size = 0;                 // the packet's full length
  TftpFate fate = TftpFate::Sent;
  // Sent: the n-th send of this packet, of `sends`; 0 where it goes once.
  int send = 0;
  int sends = 0;
};

// Told of every TFTP packet sent and received, from the transfer's thread.
class TftpTrace {
 public:
  virtual ~TftpTrace() = default;
  virtual void Packet(const TftpEvent& event) = 0;
};

}  // namespace marindo
