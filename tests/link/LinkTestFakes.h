#pragma once

// Stand-ins for the platform services a clock link needs, for tests on
// loopback that need no adapters, no ARP and no port probe.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "link/ClockFrame.h"
#include "platform/Adapters.h"
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

}  // namespace marindo::testing
