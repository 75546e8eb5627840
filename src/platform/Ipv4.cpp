#include "platform/Ipv4.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace marindo {

std::string FormatIpv4(std::uint32_t hostOrder) {
  return std::to_string(hostOrder >> 24) + '.' + std::to_string((hostOrder >> 16) & 0xFFU) + '.' +
         std::to_string((hostOrder >> 8) & 0xFFU) + '.' + std::to_string(hostOrder & 0xFFU);
}

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
  const std::string copy(text);
  in_addr address{};
  if (inet_aton(copy.c_str(), &address) == 0) {
    return std::nullopt;
  }
  return ntohl(address.s_addr);
}

std::optional<std::uint32_t> ParseDottedQuad(std::string_view text) {
  const std::string copy(text);
  in_addr address{};
  if (inet_pton(AF_INET, copy.c_str(), &address) != 1) {
    return std::nullopt;
  }
  return ntohl(address.s_addr);
}

std::uint32_t ReadBe32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

void WriteBe32(std::uint8_t* bytes, std::uint32_t value) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

}  // namespace marindo
