#pragma once

#include <cstdint>
#include <span>

namespace marindo {

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final XOR.
// The clocks check every frame with it; the check value of "123456789" is 0x4B37.
std::uint16_t Crc16Modbus(std::span<const std::uint8_t> bytes);

}  // namespace marindo
