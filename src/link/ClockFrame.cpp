#include "link/ClockFrame.h"

#include <algorithm>

#include "link/Crc16.h"

namespace marindo {

ClockFrame ClockFrame::Build(std::span<const std::uint8_t> payload, std::uint8_t flags) {
  ClockFrame frame;
  const std::size_t n = std::min(payload.size(), kMaxPayload);
  frame.bytes_[0] = kMagic0;
  frame.bytes_[1] = kMagic1;
  frame.bytes_[2] = flags;
  frame.bytes_[3] = static_cast<std::uint8_t>(n);
  std::copy_n(payload.begin(), n, frame.bytes_.begin() + kHeaderSize);
  const std::uint16_t crc = Crc16Modbus(std::span(frame.bytes_).first(kHeaderSize + n));
  frame.bytes_[kHeaderSize + n] = static_cast<std::uint8_t>(crc & 0xFFU);
  frame.bytes_[kHeaderSize + n + 1] = static_cast<std::uint8_t>(crc >> 8);
  return frame;
}

ClockFrame ClockFrame::Query(std::uint8_t code) {
  const std::array<std::uint8_t, 1> payload{code};
  return Build(payload);
}

ClockFrame ClockFrame::SearchRequest() {
  std::array<std::uint8_t, 21> payload{};
  payload[0] = 0x01;
  return Build(payload, kFlagsSearch);
}

std::span<const std::uint8_t> ClockFrame::Bytes() const& {
  return std::span(bytes_).first(std::size_t{bytes_[3]} + kOverhead);
}

std::span<const std::uint8_t> ClockFrame::Payload() const& {
  return std::span(bytes_).subspan(kHeaderSize, bytes_[3]);
}

std::optional<ReceivedFrame> AcceptDatagram(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < ReceivedFrame::kMinSize) {
    return std::nullopt;
  }
  const std::size_t body = datagram.size() - 2;
  const std::uint16_t crc = Crc16Modbus(datagram.first(body));
  const auto low = static_cast<std::uint8_t>(crc & 0xFFU);
  const auto high = static_cast<std::uint8_t>(crc >> 8);
  const std::uint8_t first = datagram[body];
  const std::uint8_t second = datagram[body + 1];
  const bool lowFirst = first == low && second == high;
  const bool highFirst = first == high && second == low;
  if (!lowFirst && !highFirst) {
    return std::nullopt;
  }
  return ReceivedFrame(datagram);
}

}  // namespace marindo
