#include "tftp/TftpPackets.h"

#include <charconv>

namespace marindo::tftp {
namespace {

void AppendBe16(Bytes& packet, std::uint16_t value) {
  packet.push_back(static_cast<std::uint8_t>(value >> 8));
  packet.push_back(static_cast<std::uint8_t>(value & 0xFFU));
}

// The text's bytes and the zero that ends it.
void AppendField(Bytes& packet, std::string_view text) {
  packet.insert(packet.end(), text.begin(), text.end());
  packet.push_back(0);
}

std::string DecimalText(std::uint64_t value) {
  std::array<char, 24> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  return std::string(digits.data(), result.ptr);
}

std::uint16_t ReadBe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

}  // namespace

std::string_view LastPathPart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::optional<Bytes> BuildWriteRequest(std::string_view remoteName, std::uint64_t length) {
  Bytes packet;
  AppendBe16(packet, static_cast<std::uint16_t>(Opcode::WriteRequest));
  AppendField(packet, remoteName);
  AppendField(packet, "octet");
  AppendField(packet, "blksize");
  AppendField(packet, "512");
  AppendField(packet, "tsize");
  AppendField(packet, DecimalText(length));
  if (packet.size() > kWriteRequestBufferSize) return std::nullopt;
  return packet;
}

std::optional<Bytes> BuildReadRequest(std::string_view remotePath) {
  Bytes packet;
  AppendBe16(packet, static_cast<std::uint16_t>(Opcode::ReadRequest));
  AppendField(packet, remotePath);
  AppendField(packet, "octet");
  if (packet.size() + 1 > kReadRequestBufferSize) return std::nullopt;
  return packet;
}

Bytes BuildData(std::uint16_t block, std::span<const std::uint8_t> data) {
  Bytes packet;
  packet.reserve(kHeaderSize + data.size());
  AppendBe16(packet, static_cast<std::uint16_t>(Opcode::Data));
  AppendBe16(packet, block);
  packet.insert(packet.end(), data.begin(), data.end());
  return packet;
}

std::array<std::uint8_t, 4> BuildAck(std::uint16_t block) {
  return {0x00, static_cast<std::uint8_t>(Opcode::Ack), static_cast<std::uint8_t>(block >> 8),
          static_cast<std::uint8_t>(block & 0xFFU)};
}

std::optional<std::uint16_t> ReadOpcode(std::span<const std::uint8_t> packet) {
  if (packet.size() < 2) return std::nullopt;
  return ReadBe16(packet, 0);
}

std::optional<std::uint16_t> ReadBlock(std::span<const std::uint8_t> packet) {
  if (packet.size() < kHeaderSize) return std::nullopt;
  return ReadBe16(packet, 2);
}

bool HasOpcode(std::span<const std::uint8_t> packet, Opcode opcode) {
  return ReadOpcode(packet) == static_cast<std::uint16_t>(opcode);
}

}  // namespace marindo::tftp
