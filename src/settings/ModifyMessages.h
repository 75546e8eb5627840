#pragma once

// What the operator is told about the exchanges behind Modify, in the windows
// and on the command line alike.

#include <cstdint>
#include <optional>
#include <string>

#include "link/ClockLink.h"

namespace marindo {

inline constexpr const char* kModifySuccess = "Modify success!";
inline constexpr const char* kModifyFailed = "Modify failed!";
inline constexpr const char* kPortUnusable =
    "Marindo server udp port 7000 is not usable, make sure open only one Marindo instance!";
// Modify on a page whose values did not come from the selected clock's own
// answer: sending them could overwrite the clock's settings with blanks.
inline constexpr const char* kSettingsNotRead =
    "The settings of this clock were not read; nothing was sent. Click the clock to read them again.";

// "No response from 10.0.0.7!"
std::string NoResponseMessage(std::uint32_t ip);

// The message for what a clock made of a modify frame; nothing for an answer
// that carries no verdict, as the display settings' answer.
std::optional<std::string> ModifyOutcomeMessage(ModifyOutcome outcome, std::uint32_t ip);

}  // namespace marindo
