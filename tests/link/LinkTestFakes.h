#pragma once

// Stand-ins for the platform services a clock link needs, for tests on
// loopback that need no adapters, no ARP and no port probe.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "link/ClockFrame.h"
#include "platform/Adapters.h"
#include "platform/Ipv4.h"
#include "platform/Neighbours.h"
#include "platform/Notifier.h"
#include "platform/PortProbe.h"

namespace marindo::testing {

class RecordingNotifier : public Notifier {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

class NoAdapters : public AdapterSource {
 public:
  std::vector<Adapter> Adapters() const override { return {}; }
};

class NoNeighbours : public NeighbourLookup {
 public:
  std::optional<MacAddress> LookupMac(std::uint32_t) override { return std::nullopt; }
};

class ClosedPorts : public PortProbe {
 public:
  bool Accepts(std::uint32_t, std::uint16_t, std::chrono::milliseconds) override { return false; }
};

// A frame's bytes as a peer sends them.
inline std::vector<std::uint8_t> FrameBytes(const std::vector<std::uint8_t>& payload) {
  const ClockFrame frame = ClockFrame::Build(payload);
  return std::vector<std::uint8_t>(frame.Bytes().begin(), frame.Bytes().end());
}

// A clock's 37-byte search reply; its sync server is 192.168.1.1.
inline std::vector<std::uint8_t> SearchReplyFrame(const std::string& serial, std::uint8_t major,
                                                  std::uint8_t minor = 0, std::uint32_t lastSync = 0,
                                                  std::uint8_t radio = 0) {
  std::vector<std::uint8_t> p(37, 0);
  p[0] = 0x01;
  std::memcpy(&p[1], serial.data(), std::min<std::size_t>(serial.size(), 20));
  p[21] = major;
  p[22] = minor;
  WriteBe32(&p[27], lastSync);
  WriteBe32(&p[31], 0xC0A80101);
  p[36] = radio;
  return FrameBytes(p);
}

// A basic settings reply carrying `zoneByte`, every other setting 0.
inline std::vector<std::uint8_t> BasicReplyFrame(std::uint8_t zoneByte) {
  std::vector<std::uint8_t> p(27, 0);
  p[0] = 0x02;
  p[1] = zoneByte;
  return FrameBytes(p);
}

}  // namespace marindo::testing
