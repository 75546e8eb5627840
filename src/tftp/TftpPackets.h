#pragma once

// TFTP packets (RFC 1350, with the options of RFC 2347 to 2349) as the tool
// builds and reads them, and the names of the files they carry. 16-bit
// numbers are big-endian on the wire.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace marindo::tftp {

using Bytes = std::vector<std::uint8_t>;

enum class Opcode : std::uint16_t {
  ReadRequest = 1,
  WriteRequest = 2,
  Data = 3,
  Ack = 4,
  Error = 5,
  OptionAck = 6,
};

inline constexpr std::size_t kBlockSize = 512;
inline constexpr std::size_t kHeaderSize = 4;  // opcode and block number
inline constexpr std::size_t kUploadReceiveSize = 54;
inline constexpr std::size_t kDownloadReceiveSize = kHeaderSize + kBlockSize;
inline constexpr std::size_t kWriteRequestBufferSize = 512;
inline constexpr std::size_t kReadRequestBufferSize = 100;
// The clocks keep their downloadable files here.
inline constexpr std::string_view kRemoteLogFolder = "/usr/tftpfile/";

// The part of a path after its last '/'; the whole path when it has none.
std::string_view LastPathPart(std::string_view path);

// 00 02, name, 00, "octet", 00, "blksize", 00, "512", 00, "tsize", 00, the
// length in decimal, 00. Nothing when it would not fit the request buffer.
std::optional<Bytes> BuildWriteRequest(std::string_view remoteName, std::uint64_t length);
// 00 01, path, 00, "octet", 00. Nothing when it would not fit the request
// buffer with its terminating zero (a path of more than 90 bytes).
std::optional<Bytes> BuildReadRequest(std::string_view remotePath);
Bytes BuildData(std::uint16_t block, std::span<const std::uint8_t> data);
std::array<std::uint8_t, 4> BuildAck(std::uint16_t block);

// The first 16-bit word of a packet; nothing when it has fewer than 2 bytes.
std::optional<std::uint16_t> ReadOpcode(std::span<const std::uint8_t> packet);
// The second 16-bit word (the block number of data and acknowledgements);
// nothing when the packet has fewer than 4 bytes.
std::optional<std::uint16_t> ReadBlock(std::span<const std::uint8_t> packet);
bool HasOpcode(std::span<const std::uint8_t> packet, Opcode opcode);

}  // namespace marindo::tftp
