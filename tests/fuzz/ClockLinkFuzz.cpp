// Feeds arbitrary datagrams to the frame handler: every reply decoder, the
// search reply path and the modify results. The first input byte picks the
// sender (a known clock or a stranger); the rest is the datagram.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "link/ClockLink.h"

namespace {

using namespace marindo;

class QuietNotifier : public Notifier {
 public:
  void ShowMessage(const std::string&) override {}
};
class NoNeighbours : public NeighbourLookup {
 public:
  std::optional<MacAddress> LookupMac(std::uint32_t ip) override {
    if ((ip & 1U) == 0) return std::nullopt;
    return MacAddress{0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(ip)};
  }
};
class ClosedPorts : public PortProbe {
 public:
  bool Accepts(std::uint32_t ip, std::uint16_t, std::chrono::milliseconds) override { return (ip & 2U) != 0; }
};
class NoAdapters : public AdapterSource {
 public:
  std::vector<Adapter> Adapters() const override { return {}; }
};
class NoSelection : public ClockSelection {
 public:
  std::optional<std::uint32_t> SelectedClockIp() const override { return std::nullopt; }
  ClockRecord* SelectedRecord() override { return nullptr; }
};

struct World {
  QuietNotifier notifier;
  NoNeighbours neighbours;
  ClosedPorts probe;
  NoAdapters adapters;
  NoSelection owner;
  ClockNames names{std::filesystem::temp_directory_path() / "marindo-fuzz-absent" / "Tessaly.ini",
                   CodePage::Cp936};
  ClockLink link{owner, LinkServices{notifier, adapters, neighbours, probe, names}, [] {
                   LinkTimings t;
                   t.bindIp = 0x7F000001;
                   t.localPort = 0;
                   return t;
                 }()};
};

constexpr std::uint32_t kKnown[] = {0x0A000001, 0x0A000002, 0x0A000003};

void Reset(ClockLink& link) {
  link.ClearClocks();
  for (std::uint32_t ip : kKnown) {
    ClockRecord record;
    record.ip = ip;
    record.firmwareMajor = static_cast<std::uint8_t>(ip & 3U);
    record.label = "known";
    link.Clocks().Append(record);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  if (size == 0 || size - 1 > ClockLink::kReceiveBufferSize) return 0;
  if (world.link.Clocks().Count() > 64 || world.link.Clocks().Count() < std::size(kKnown)) Reset(world.link);
  const std::uint32_t sender = data[0] < 192 ? kKnown[data[0] % std::size(kKnown)] : 0x0A000100U + data[0];
  world.link.HandleFrame(std::span(data + 1, size - 1), sender);
  return 0;
}
