// Discovery at scale: one broadcast search of the test LAN's scale mode,
// where every simulated clock answers each pass at once. Prints how many of
// the clocks present were found and how long the search took. Runs inside
// the tool namespace (bench/discovery.sh).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "link/ClockLink.h"

namespace {

using namespace marindo;

class PrintingNotifier : public Notifier {
 public:
  void ShowMessage(const std::string& text) override { std::printf("message: %s\n", text.c_str()); }
};

class NoSelection : public ClockSelection {
 public:
  std::optional<std::uint32_t> SelectedClockIp() const override { return std::nullopt; }
  ClockRecord* SelectedRecord() override { return nullptr; }
};

}  // namespace

int main(int argc, char** argv) {
  const int present = argc > 1 ? std::atoi(argv[1]) : 0;
  const char* run = std::getenv("TESTLAN_RUN");
  const std::filesystem::path settings =
      std::filesystem::path(run != nullptr ? run : "/tmp") / "bench-settings.ini";
  PrintingNotifier notifier;
  NoSelection selection;
  SystemAdapters adapters;
  SystemNeighbours neighbours;
  TcpPortProbe probe;
  ClockNames names(settings, CodePageForLocale());
  ClockLink link(selection, LinkServices{notifier, adapters, neighbours, probe, names});

  const auto start = std::chrono::steady_clock::now();
  link.SearchBroadcast();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

  std::size_t withMac = 0;
  for (const ClockRecord& record : link.Clocks()) if (record.mac != MacAddress{}) ++withMac;
  std::printf("discovery: %zu of %d clocks found (%zu with a MAC) in %.2f s\n", link.Clocks().Count(),
              present, withMac, took.count());
  return 0;
}
