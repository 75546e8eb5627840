#include "link/SiteEngine.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace marindo {

SiteEngine::SiteEngine(ClockLink& link, std::size_t width) : link_(link), width_(std::max<std::size_t>(width, 1)) {}

void SiteEngine::Run(std::size_t count, const std::function<void(std::size_t)>& job,
                     const std::function<void(std::size_t)>& finished) {
  if (count == 0) return;
  std::atomic<std::size_t> next{0};
  std::mutex finishing;
  std::exception_ptr failure;
  auto work = [&] {
    try {
      for (std::size_t i = next++; i < count; i = next++) {
        job(i);
        if (finished) {
          const std::lock_guard lock(finishing);
          finished(i);
        }
      }
    } catch (...) {
      // The first failure goes to the caller once every thread has ended;
      // no job starts after it.
      const std::lock_guard lock(finishing);
      if (!failure) failure = std::current_exception();
      next = count;
    }
  };
  link_.StartConcurrent();
  std::vector<std::thread> workers;
  const std::size_t threads = std::min(width_, count);
  for (std::size_t t = 0; t < threads; ++t) workers.emplace_back(work);
  for (std::thread& worker : workers) worker.join();
  link_.StopConcurrent();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace marindo
