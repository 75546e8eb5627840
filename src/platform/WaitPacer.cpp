#include "platform/WaitPacer.h"

#include <algorithm>

namespace marindo {

void WaitPacer::Pace() {
  if (!whileWaiting_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastCall_ < interval_) return;
  lastCall_ = now;
  whileWaiting_();
}

WaitPacer::Slice WaitPacer::Next(Deadline deadline) const {
  const auto left = std::max(std::chrono::ceil<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now()),
                             std::chrono::microseconds{0});
  if (!whileWaiting_ || left <= interval_) return {left, true};
  return {interval_, false};
}

}  // namespace marindo
