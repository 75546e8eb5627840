// The site view's refresh of a whole site, measured from the window's side:
// a timer that should fire every 5 ms notes the longest gap between two of
// its firings while the refresh runs and its result fills the table, which
// is the longest time the window could not paint or take input, and how
// much of it the window's thread itself was running. Runs inside
// the tool namespace (bench/siteview.sh) on the offscreen platform. Prints;
// asserts nothing.

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "link/ClockLink.h"
#include "platform/Adapters.h"
#include "platform/Neighbours.h"
#include "platform/PortProbe.h"
#include "siteview/SiteTableModel.h"
#include "siteview/SiteView.h"

namespace {

class QuietNotifier : public marindo::Notifier {
 public:
  void ShowMessage(const std::string& text) override { std::printf("message: %s\n", text.c_str()); }
};

class QuietHost : public marindo::SiteHost {
 public:
  void SiteBusy(bool) override {}
  void ClocksReplaced() override {}
  bool SelectClock(std::uint32_t) override { return false; }
};

// The processor time this thread has used, in nanoseconds.
qint64 ThreadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The longest gap between two firings of a 5 ms timer, in milliseconds, and
// how much of that gap the window's thread spent running: the rest it
// waited for a processor.
class StallMeter {
 public:
  StallMeter() {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      const qint64 cpu = ThreadCpuNs();
      if (last_ >= 0 && now - last_ > longest_) {
        longest_ = now - last_;
        longestCpu_ = cpu - lastCpu_;
      }
      last_ = now;
      lastCpu_ = cpu;
    });
    clock_.start();
    timer_.start();
  }
  double LongestMs() const { return static_cast<double>(longest_) / 1e6; }
  double LongestCpuMs() const { return static_cast<double>(longestCpu_) / 1e6; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = -1;
  qint64 lastCpu_ = 0;
  qint64 longest_ = 0;
  qint64 longestCpu_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int expected = argc > 1 ? std::atoi(argv[1]) : 0;
  const char* run = std::getenv("TESTLAN_RUN");
  const std::filesystem::path settings = std::filesystem::path(run != nullptr ? run : "/tmp") / "bench-settings.ini";
  std::filesystem::remove(settings);

  marindo::SystemAdapters adapters;
  marindo::SystemNeighbours neighbours;
  marindo::TcpPortProbe probe;
  marindo::ClockNames names(settings, marindo::CodePage::Cp1252);
  marindo::ClockLink link(marindo::LinkServices{adapters, neighbours, probe, names});
  if (!link.Bound()) {
    std::printf("siteview: port 7000 is taken\n");
    return 1;
  }
  QuietNotifier notifier;
  QuietHost host;
  marindo::SiteView view(marindo::SiteViewServices{link, names, notifier, host, settings});
  view.show();

  for (const char* pass : {"first", "second"}) {
    StallMeter meter;
    const auto started = std::chrono::steady_clock::now();
    view.Refresh();
    while (view.Busy()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    // What the refresh's end queued (the table's new rows, their sort).
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("siteview: %s refresh of %d clocks: %zu in the table, %.2f s, longest event-loop stall %.1f ms "
                "(goal < 100 ms), of which the window's thread ran %.1f ms\n",
                pass, expected, view.Model().ClockCount(), seconds, meter.LongestMs(), meter.LongestCpuMs());
    std::fflush(stdout);
  }
  return 0;
}
