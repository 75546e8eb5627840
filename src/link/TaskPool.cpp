#include "link/TaskPool.h"

#include "platform/ThreadPriority.h"

namespace marindo {

TaskPool::TaskPool(std::size_t maxThreads) : maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

TaskPool::~TaskPool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void TaskPool::Post(std::function<void()> task) {
  {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    if (idle_ < tasks_.size() && threads_.size() < maxThreads_) threads_.emplace_back([this] {
      LowerThisThreadPriority();
      Work();
    });
  }
  wake_.notify_one();
}

// Every queued task runs, even once the pool is going: a caller may be
// waiting for its result.
void TaskPool::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    --idle_;
    if (tasks_.empty()) return;
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

}  // namespace marindo
