#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "clocks/ClockRecord.h"

namespace marindo {

// What became of one datagram on port 7000, decided where the link decides it.
enum class FrameFate {
  Sent,         // a frame the tool sent
  Answer,       // ended the wait of the exchange whose request it answers
  Handled,      // handled by its code (stored, listed, ignored) but the answer to no exchange
  Stale,        // was waiting when an exchange began: the answer to one whose wait had ended
  Empty,        // no bytes
  Oversize,     // longer than any frame; dropped whole
  TooShort,     // fewer bytes than a header, a code and a checksum
  BadChecksum,  // neither byte order of its last two bytes matches the checksum
  UnknownCode,  // a command code the clocks do not use
};

// One frame sent or one datagram received, as the link saw it.
struct FrameEvent {
  std::chrono::system_clock::time_point at{};
  bool sent = false;
  std::uint32_t ip = 0;  // the receiver of a frame sent, the sender of a datagram received
  std::uint16_t port = 0;
  // The bytes as read, at most the receive buffer; `size` is the datagram's
  // full length, larger only for an oversize one.
  std::span<const std::uint8_t> bytes{};
  std::size_t size = 0;
  FrameFate fate = FrameFate::Sent;
  // Sent: the n-th send of this frame to this address, of `sends`; 0 where
  // a frame goes once.
  int send = 0;
  int sends = 0;
  // Answer: the request it answered.
  std::uint8_t requestCode = 0;
  // Handled and Answer: whether a settings reply went into the sender's
  // record, and whether a modify result says the clock applied the settings.
  bool stored = false;
  bool accepted = false;
  // Handled and Answer: the sender's record after the frame was handled;
  // valid only during the call. Null when the sender has none.
  const ClockRecord* record = nullptr;
  // The port clocks answer from; a datagram from any other answers nothing.
  std::uint16_t clockPort = 0;
};

// Told of every frame the link sends and every datagram it reads, from any
// of the link's threads and often while the link holds its lock: a sink
// must not call back into the link, and must be quick.
class FrameTrace {
 public:
  virtual ~FrameTrace() = default;
  virtual void Frame(const FrameEvent& event) = 0;
};

}  // namespace marindo
