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
  using Job = std::function<void(std::size_t)>;

  SiteEngine(ClockLink& link, std::size_t width);

  // Runs job(i) for every i below `count`; `finished(i)` follows each job,
  // one call at a time. Returns when every job has ended.
  void Run(std::size_t count, const Job& job, const Job& finished = {});

  // The same for a list that grows while `produce` runs on the calling
  // thread (a search finding clocks): `listed()` tells how many items there
  // are so far. Jobs start as items come; the run ends once `produce` has
  // returned and every item listed by then has been worked.
  void RunWhile(const std::function<void()>& produce, const std::function<std::size_t()>& listed, const Job& job,
                const Job& finished = {});

 private:
  void RunOn(std::size_t threads, const std::function<void()>& produce, const std::function<std::size_t()>& listed,
             const Job& job, const Job& finished);

  ClockLink& link_;
  std::size_t width_;
};

}  // namespace marindo
