#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "clocks/ClockRecord.h"

namespace marindo {

// The system section: what a clock reports of itself and nobody writes. The
// firmware and log rules that go with the System and Log pages are in
// FirmwareUpgrade.h and LogDownload.h.
struct SystemInfo {
  bool newPlatform = false;
  // Days since the clock started. A clock that reports no system information
  // (an older model) keeps its day count in the first byte of its text reply.
  unsigned uptimeDays = 0;
};
SystemInfo SystemInfoFromRecord(const ClockRecord& record);

// "00-1A-2B-3C-4D-5E".
std::string MacText(const std::array<std::uint8_t, 6>& mac);

}  // namespace marindo
