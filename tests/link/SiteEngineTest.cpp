#include "link/SiteEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "link/LinkTestFakes.h"

namespace marindo {
namespace {

using namespace std::chrono_literals;

class SiteEngineTest : public ::testing::Test {
 protected:
  SiteEngineTest()
      : names_(std::filesystem::temp_directory_path() / "marindo-site-engine-unused.ini", CodePage::Cp1252),
        link_(LinkServices{adapters_, neighbours_, probe_, names_}, Timings()) {}

  static LinkTimings Timings() {
    LinkTimings timings;
    timings.bindIp = 0x7F000001;
    timings.localPort = 0;
    return timings;
  }

  testing::NoAdapters adapters_;
  testing::NoNeighbours neighbours_;
  testing::ClosedPorts probe_;
  ClockNames names_;
  ClockLink link_;
};

TEST_F(SiteEngineTest, NeverMoreJobsAtOnceThanItsWidth) {
  for (const std::size_t width : {std::size_t{1}, std::size_t{4}}) {
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::vector<int> ran(12, 0);
    SiteEngine(link_, width).Run(ran.size(), [&](std::size_t i) {
      const int now = ++running;
      for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(10ms);
      ++ran[i];
      --running;
    });
    EXPECT_EQ(most, static_cast<int>(width));
    EXPECT_EQ(ran, std::vector<int>(12, 1));
  }
}

TEST_F(SiteEngineTest, JobsStartWhileTheListStillGrows) {
  std::mutex mutex;
  std::size_t listed = 0;
  std::vector<std::size_t> finished;
  std::atomic<bool> startedBeforeTheEnd{false};
  std::atomic<bool> producing{true};
  SiteEngine(link_, 8).RunWhile(
      [&] {
        for (int i = 0; i < 20; ++i) {
          {
            const std::lock_guard lock(mutex);
            ++listed;
          }
          std::this_thread::sleep_for(5ms);
        }
        producing = false;
      },
      [&] {
        const std::lock_guard lock(mutex);
        return listed;
      },
      [&](std::size_t) {
        if (producing) startedBeforeTheEnd = true;
      },
      [&](std::size_t i) { finished.push_back(i); });
  EXPECT_TRUE(startedBeforeTheEnd);
  std::sort(finished.begin(), finished.end());
  std::vector<std::size_t> all(20);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  EXPECT_EQ(finished, all);
}

TEST_F(SiteEngineTest, AFailingJobReachesTheCallerAndStopsTheRest) {
  std::atomic<int> ran{0};
  EXPECT_THROW(SiteEngine(link_, 1).Run(10,
                                        [&](std::size_t i) {
                                          ++ran;
                                          if (i == 2) throw std::runtime_error("bad clock");
                                        }),
               std::runtime_error);
  EXPECT_EQ(ran, 3);
}

}  // namespace
}  // namespace marindo
