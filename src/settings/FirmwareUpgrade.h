#pragma once

// The firmware upgrade without its window: which files a clock takes, the
// announcement that precedes the upload, and the texts that follow it.

#include <cstdint>
#include <string>
#include <string_view>

#include "link/ClockFrame.h"
#include "link/CommandCodes.h"

namespace marindo {


inline constexpr const char* kUpgradeSucceeded = "Upgrade success";
// The mark is the full-width exclamation mark U+FF01, as the clocks' makers wrote it.
inline constexpr const char* kUpgradeFailed = "Upgrade failed\xEF\xBC\x81";

// `path` in the clock's code page. A new-platform clock takes ".tar" files,
// any other ".bin" or ".hex" ones; the extension may stand anywhere in the
// path and its case counts, as the clocks' own loaders see it.
bool FirmwareTypeAccepted(std::string_view path, bool newPlatform);
// What the operator is told when FirmwareTypeAccepted refuses a path.
const char* FirmwareTypeRefusal(bool newPlatform);
// The file-open chooser's type list for the clock's model.
const char* FirmwareFileFilter(bool newPlatform);

// Code 0x0C with the single data byte 0x01: 51 4B 80 02 0C 01 E5 54 on the wire.
ClockFrame BuildUpgradeAnnouncement();

// "Block# k , Size#(k*512) bytes ( p.pp % )" with the percentage computed in
// single precision, as the clocks' operators have always seen it.
std::string BlockProgressText(std::uint64_t block, std::uint64_t fileLength);
std::string FinishProgressText(std::uint64_t block, std::uint64_t bytesTransferred);
std::string UpgradeCounterText(std::uint64_t upgradeCount);

// A progress bar counts in int. A file of more than INT_MAX blocks is shown
// in steps of `blocksPerStep` blocks so that neither the range nor the
// position wraps.
struct ProgressBarScale {
  int maximum = 0;  // the range is 1 to maximum
  std::uint64_t blocksPerStep = 1;

  int Position(std::uint64_t block) const;
};
ProgressBarScale ProgressBarScaleFor(std::uint64_t fileLength);

}  // namespace marindo
