#include "platform/Neighbours.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/Ipv4.h"
#include "platform/UdpSocket.h"

namespace marindo {
namespace {

constexpr unsigned kArpComplete = 0x2;  // ATF_COM
constexpr std::uint16_t kDiscardPort = 9;

std::optional<MacAddress> ParseMac(const std::string& text) {
  MacAddress mac{};
  unsigned parts[6]{};
  char tail = 0;
  if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &parts[0], &parts[1], &parts[2],
                  &parts[3], &parts[4], &parts[5], &tail) != 6) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < mac.size(); ++i) mac[i] = static_cast<std::uint8_t>(parts[i]);
  if (mac == MacAddress{}) return std::nullopt;
  return mac;
}

std::string ReadArpTable() {
  std::ifstream file("/proc/net/arp");
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

std::optional<MacAddress> FindInArpTable(const std::string& table, std::uint32_t ip) {
  std::istringstream lines(table);
  std::string line;
  std::getline(lines, line);  // column headings
  const std::string wanted = FormatIpv4(ip);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, flags, mac;
    if (!(fields >> address >> type >> flags >> mac) || address != wanted) continue;
    unsigned long flagBits = 0;
    try {
      flagBits = std::stoul(flags, nullptr, 16);
    } catch (...) {
      continue;
    }
    if ((flagBits & kArpComplete) == 0) continue;
    if (auto parsed = ParseMac(mac)) return parsed;
  }
  return std::nullopt;
}

SystemNeighbours::SystemNeighbours(std::chrono::milliseconds wait) : wait_(wait) {}

std::optional<MacAddress> SystemNeighbours::LookupMac(std::uint32_t ip) {
  if (auto known = FindInArpTable(ReadArpTable(), ip)) return known;
  {
    UdpSocket nudge;
    nudge.SendTo({}, ip, kDiscardPort);
  }
  // On a LAN the answer takes well under a millisecond, so look early and
  // then less and less often.
  const auto deadline = std::chrono::steady_clock::now() + wait_;
  auto pause = std::chrono::microseconds(500);
  while (std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(pause);
    if (auto resolved = FindInArpTable(ReadArpTable(), ip)) return resolved;
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
  return std::nullopt;
}

}  // namespace marindo
