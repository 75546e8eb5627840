#pragma once

namespace marindo {

// Background work (lookups, the site view's tasks) yields the processor to
// the thread that paints the window and answers the operator: on a busy
// machine a thousand clocks' lookups would otherwise keep the window from
// running for a tenth of a second at a time. Lowers the calling thread's
// priority (its nice value, which Linux keeps per thread; threads it starts
// inherit it). Best effort: a failure changes nothing.
void LowerThisThreadPriority();

}  // namespace marindo
