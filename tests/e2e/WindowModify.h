#pragma once

// Modify as the main window runs it, for tests that drive one page against
// the simulated clocks without the window.

#include <cstdint>
#include <optional>

#include "link/ClockLink.h"
#include "platform/Notifier.h"
#include "settings/ModifyMessages.h"

namespace marindo::e2e {

// Sends the page's frame to the selected clock and tells `notifier` what the
// window would: nothing without a frame or a selected clock.
inline void ModifyAsTheWindow(ClockLink& link, std::optional<std::uint32_t> selected,
                              const std::optional<ClockFrame>& frame, Notifier& notifier) {
  if (!frame || !selected) return;
  if (const auto message = ModifyOutcomeMessage(link.SendModify(*selected, *frame), *selected)) {
    notifier.ShowMessage(*message);
  }
}

}  // namespace marindo::e2e
