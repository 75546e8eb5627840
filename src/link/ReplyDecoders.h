#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "clocks/ClockRecord.h"
#include "link/CommandCodes.h"

namespace marindo {

// What the frame handler does with a command code (the command table's entry;
// Dropped for codes the clocks do not use).
ReplyHandling HandlingOf(std::uint8_t code);

// The fields of a search reply (payload of code 0x01).
struct SearchReply {
  std::array<char, 20> serial{};  // zero-padded, no terminator when full
  std::uint8_t firmwareMajor = 0;
  std::uint8_t firmwareMinor = 0;
  std::uint32_t searchWord = 0;
  std::uint32_t lastSyncTime = 0;
  std::uint32_t syncServerIp = 0;
  std::uint8_t radio = 0;
};
// Nothing when the payload is shorter than the reply's 37 bytes.
std::optional<SearchReply> ReadSearchReply(std::span<const std::uint8_t> payload);

// Stores a settings reply into `record`. `payload` holds the bytes received
// between header and checksum (command code first); `lengthByte` is the frame's
// length byte, which only the text reply reads. A reply shorter than its layout
// is dropped: the record keeps its values and the result is false.
bool StoreReply(std::span<const std::uint8_t> payload, std::uint8_t lengthByte,
                ClockRecord& record);

// A modify result's verdict: the clock applied the settings only when p[1] is
// 1. A result without its result byte is taken as a refusal.
bool ModifyAccepted(std::span<const std::uint8_t> payload);

}  // namespace marindo
