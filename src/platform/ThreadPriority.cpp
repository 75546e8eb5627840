#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

namespace marindo {
namespace {

// Low enough that the window's thread gets the processor when it needs it,
// high enough that the work still moves on a loaded machine.
constexpr int kBackgroundNice = 10;

}  // namespace

void LowerThisThreadPriority() {
  const auto thread = static_cast<id_t>(::gettid());
  if (::getpriority(PRIO_PROCESS, thread) >= kBackgroundNice) return;
  ::setpriority(PRIO_PROCESS, thread, kBackgroundNice);
}

}  // namespace marindo
