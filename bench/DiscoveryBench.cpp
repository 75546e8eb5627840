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

}  // namespace

int main(int argc, char** argv) {
  const int present = argc > 1 ? std::atoi(argv[1]) : 0;
  const char* run = std::getenv("TESTLAN_RUN");
  const std::filesystem::path settings =
      std::filesystem::path(run != nullptr ? run : "/tmp") / "bench-settings.ini";
  SystemAdapters adapters;
  SystemNeighbours neighbours;
  TcpPortProbe probe;
  ClockNames names(settings, CodePageForLocale());
  ClockLink link(LinkServices{adapters, neighbours, probe, names});
  if (!link.Bound()) std::printf("discovery: UDP port 7000 is taken; replies go elsewhere\n");

  const auto start = std::chrono::steady_clock::now();
  link.SearchBroadcast();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;

  std::size_t withMac = 0;
  for (const ClockRecord& record : link.Clocks()) if (record.mac != MacAddress{}) ++withMac;
  std::printf("discovery: %zu of %d clocks found (%zu with a MAC) in %.2f s\n", link.Clocks().Count(),
              present, withMac, took.count());
  return 0;
}
