#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace marindo {

// Runs tasks on up to `maxThreads` threads, started as work comes in and
// kept until the pool goes. Tasks that block (a neighbour lookup, a port
// probe) then cost their own wait and not each other's.
// Its threads run at background priority (see LowerThisThreadPriority).
class TaskPool {
 public:
  explicit TaskPool(std::size_t maxThreads);
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  void Post(std::function<void()> task);

 private:
  void Work();

  std::size_t maxThreads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace marindo
