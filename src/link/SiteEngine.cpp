#include "link/SiteEngine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace marindo {
namespace {

// How long an idle worker waits before it looks for new items again.
constexpr std::chrono::milliseconds kIdleLook{5};

}  // namespace

SiteEngine::SiteEngine(ClockLink& link, std::size_t width) : link_(link), width_(std::max<std::size_t>(width, 1)) {}

void SiteEngine::Run(std::size_t count, const Job& job, const Job& finished) {
  if (count == 0) return;
  RunOn(std::min(width_, count), [] {}, [count] { return count; }, job, finished);
}

void SiteEngine::RunWhile(const std::function<void()>& produce, const std::function<std::size_t()>& listed,
                          const Job& job, const Job& finished) {
  RunOn(width_, produce, listed, job, finished);
}

void SiteEngine::RunOn(std::size_t threads, const std::function<void()>& produce,
                       const std::function<std::size_t()>& listed, const Job& job, const Job& finished) {
  std::atomic<bool> produced{false};
  std::atomic<bool> stopping{false};
  std::atomic<std::size_t> next{0};
  std::mutex finishing;
  std::exception_ptr failure;
  auto fail = [&] {
    // The first failure goes to the caller once every thread has ended; no
    // job starts after it.
    const std::lock_guard lock(finishing);
    if (!failure) failure = std::current_exception();
    stopping = true;
  };
  auto work = [&] {
    try {
      while (!stopping) {
        // Read before the list: a list complete when `produced` was seen is
        // seen whole.
        const bool complete = produced;
        std::size_t i = next;
        if (i < listed()) {
          if (!next.compare_exchange_weak(i, i + 1)) continue;
          job(i);
          if (finished) {
            const std::lock_guard lock(finishing);
            finished(i);
          }
        } else if (complete) {
          return;
        } else {
          std::this_thread::sleep_for(kIdleLook);
        }
      }
    } catch (...) {
      fail();
    }
  };
  link_.StartConcurrent();
  std::vector<std::thread> workers;
  for (std::size_t t = 0; t < threads; ++t) workers.emplace_back(work);
  try {
    produce();
  } catch (...) {
    fail();
  }
  produced = true;
  for (std::thread& worker : workers) worker.join();
  link_.StopConcurrent();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace marindo
