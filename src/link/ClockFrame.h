#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace marindo {

// One message of the clock protocol on UDP port 7000, as it goes on the wire:
//   'Q' 'K' | flags | N | payload (N bytes, command code first) | CRC low, CRC high
class ClockFrame {
 public:
  static constexpr std::uint8_t kMagic0 = 0x51;  // 'Q'
  static constexpr std::uint8_t kMagic1 = 0x4B;  // 'K'
  static constexpr std::uint8_t kFlagsRequest = 0x80;
  static constexpr std::uint8_t kFlagsSearch = 0xC0;
  static constexpr std::size_t kHeaderSize = 4;
  static constexpr std::size_t kOverhead = 6;  // header and checksum
  static constexpr std::size_t kMaxPayload = 255;
  static constexpr std::size_t kMaxSize = kMaxPayload + kOverhead;

  // Frames `payload` (the command code and its data, 1 to 255 bytes; longer
  // payloads are a programming error and are cut to 255).
  static ClockFrame Build(std::span<const std::uint8_t> payload,
                          std::uint8_t flags = kFlagsRequest);
  // The 7-byte query of one command code.
  static ClockFrame Query(std::uint8_t code);
  // The 27-byte search request: code 0x01 and twenty zero bytes, flags 0xC0.
  static ClockFrame SearchRequest();

  // The bytes to send. Their count is taken from the length byte, as the
  // clocks expect: N + 6.
  std::span<const std::uint8_t> Bytes() const&;
  std::span<const std::uint8_t> Payload() const&;
  // A view into a temporary frame would dangle; keep the frame in a variable.
  std::span<const std::uint8_t> Bytes() const&& = delete;
  std::span<const std::uint8_t> Payload() const&& = delete;
  std::uint8_t Code() const { return bytes_[kHeaderSize]; }

 private:
  ClockFrame() = default;
  std::array<std::uint8_t, kMaxSize> bytes_{};
};

// A received datagram that passed the checksum. Only the checksum is checked:
// magic, flags and the length byte are taken as they come.
class ReceivedFrame {
 public:
  // Fewest bytes that hold header, a command code and the checksum.
  static constexpr std::size_t kMinSize = 7;

  std::span<const std::uint8_t> Datagram() const { return datagram_; }
  std::uint8_t LengthByte() const { return datagram_[3]; }
  std::uint8_t Code() const { return datagram_[ClockFrame::kHeaderSize]; }
  // Payload bytes actually received: from the command code up to the
  // checksum, whatever the length byte says.
  std::span<const std::uint8_t> Payload() const {
    return datagram_.subspan(ClockFrame::kHeaderSize, datagram_.size() - ClockFrame::kOverhead);
  }

 private:
  friend std::optional<ReceivedFrame> AcceptDatagram(std::span<const std::uint8_t>);
  explicit ReceivedFrame(std::span<const std::uint8_t> datagram) : datagram_(datagram) {}
  std::span<const std::uint8_t> datagram_;
};

// Accepts a datagram whose last two bytes are the CRC of the bytes before them,
// low byte first (as the tool sends) or high byte first (as some clocks send).
// Datagrams too short to hold a frame are refused without being read.
std::optional<ReceivedFrame> AcceptDatagram(std::span<const std::uint8_t> datagram);

}  // namespace marindo
