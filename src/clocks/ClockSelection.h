#pragma once

#include <cstdint>
#include <optional>

#include "clocks/ClockRecord.h"

namespace marindo {

// The clock the operator selected in the main window's tree. The window holds
// the clock's address and looks its record up afresh on every call, so a
// search that rebuilds the list never leaves a stale record behind.
class ClockSelection {
 public:
  virtual ~ClockSelection() = default;
  virtual std::optional<std::uint32_t> SelectedClockIp() const = 0;
  // The selected clock's record, or null when none is selected or its record
  // has gone.
  virtual ClockRecord* SelectedRecord() = 0;
};

}  // namespace marindo
