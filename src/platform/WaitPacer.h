#pragma once

#include <chrono>
#include <functional>

namespace marindo {

// How a wait up to a fixed deadline goes when a window waits on it: in
// slices no longer than `interval`, with `whileWaiting` called at least that
// often so that the window keeps painting. Without `whileWaiting` a wait is
// one piece up to its deadline.
class WaitPacer {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  struct Slice {
    std::chrono::microseconds wait;  // never negative
    bool last;                       // it reaches the deadline
  };

  explicit WaitPacer(std::chrono::microseconds interval, std::function<void()> whileWaiting = {})
      : interval_(interval), whileWaiting_(std::move(whileWaiting)) {}

  void SetWhileWaiting(std::function<void()> whileWaiting) { whileWaiting_ = std::move(whileWaiting); }

  // Calls whileWaiting when an interval has gone by since its last call.
  void Pace();
  // The next part of the wait for `deadline`. Past the deadline it is an
  // empty last slice, so the socket still gets one look: a datagram that
  // came in time is not lost because the reader was slow.
  Slice Next(Deadline deadline) const;

 private:
  std::chrono::microseconds interval_;
  std::function<void()> whileWaiting_;
  std::chrono::steady_clock::time_point lastCall_{};
};

}  // namespace marindo
