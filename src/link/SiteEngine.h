#pragma once

#include <cstddef>
#include <functional>

#include "link/ClockLink.h"

namespace marindo {

// Works through many clocks over one link with up to `width` of them in
// flight at once. Each clock's job runs on one thread from start to end, so
// its exchanges keep their order and each keeps its own tries and waits: a
// silent clock costs its own budget and holds up nobody else.
class SiteEngine {
 public:
  static constexpr std::size_t kDefaultWidth = 64;

  SiteEngine(ClockLink& link, std::size_t width);

  // Runs job(i) for every i below `count`; `finished(i)` follows each job,
  // one call at a time. Returns when every job has ended.
  void Run(std::size_t count, const std::function<void(std::size_t)>& job,
           const std::function<void(std::size_t)>& finished = {});

 private:
  ClockLink& link_;
  std::size_t width_;
};

}  // namespace marindo
