#include "link/Crc16.h"

#include <array>

namespace marindo {
namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned crc = byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xA001U : crc >> 1;
    }
    table[byte] = static_cast<std::uint16_t>(crc);
  }
  return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

std::uint16_t Crc16Modbus(std::span<const std::uint8_t> bytes) {
  unsigned crc = 0xFFFF;
  for (std::uint8_t byte : bytes) {
    crc = (crc >> 8) ^ kTable[(crc ^ byte) & 0xFFU];
  }
  return static_cast<std::uint16_t>(crc);
}

}  // namespace marindo
