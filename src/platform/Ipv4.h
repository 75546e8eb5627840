#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace marindo {

// IPv4 addresses are held as 32-bit numbers in host order throughout the tool.

// Dotted-decimal text, e.g. 0xC0A80114 -> "192.168.1.20".
std::string FormatIpv4(std::uint32_t hostOrder);

// Reads dotted text by the inet_addr rules (one to four parts, decimal, octal
// with a leading 0, hex with 0x; the last part fills the remaining bytes).
// Text that is not an address gives nothing.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);
// Strictly four decimal parts of 0 to 255 (inet_pton), as an operator writes
// an address on a command line; "10.1" or "010.0.0.1" give nothing.
std::optional<std::uint32_t> ParseDottedQuad(std::string_view text);

// Host order <-> the big-endian bytes of the wire.
std::uint32_t ReadBe32(const std::uint8_t* bytes);
void WriteBe32(std::uint8_t* bytes, std::uint32_t value);

}  // namespace marindo
