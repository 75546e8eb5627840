#include "settings/FirmwareUpgrade.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <limits>

namespace marindo {
namespace {

constexpr std::uint64_t kBlockSize = 512;
constexpr std::uint64_t kIntMax = static_cast<std::uint64_t>(std::numeric_limits<int>::max());

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// The clocks' operators know the numbers as the old 32-bit program printed
// them; 64-bit counts print the same for every file it could handle.
template <typename... Args>
std::string Format(const char* format, Args... args) {
  std::array<char, 128> text{};
  const int written = std::snprintf(text.data(), text.size(), format, args...);
  if (written < 0) return {};
  return std::string(text.data(), std::min(static_cast<std::size_t>(written), text.size() - 1));
}

}  // namespace

bool FirmwareTypeAccepted(std::string_view path, bool newPlatform) {
  if (newPlatform) return Contains(path, ".tar");
  return Contains(path, ".bin") || Contains(path, ".hex");
}

const char* FirmwareTypeRefusal(bool newPlatform) {
  return newPlatform ? "Only type of .tar firmware files is supported"
                     : "Only type of .bin/.hex firmware files are supported";
}

const char* FirmwareFileFilter(bool newPlatform) {
  return newPlatform ? "*.tar (*.tar)" : "*.bin (*.bin);;*.hex (*.hex)";
}

ClockFrame BuildUpgradeAnnouncement() {
  const std::array<std::uint8_t, 2> payload{code::kUpgradeAnnouncement, 0x01};
  return ClockFrame::Build(payload);
}

std::string BlockProgressText(std::uint64_t block, std::uint64_t fileLength) {
  const std::uint64_t sent = block * kBlockSize;
  // A file that shrank while it was sent must not divide by zero.
  const float percent =
      fileLength == 0 ? 0.0f : static_cast<float>(sent) / static_cast<float>(fileLength) * 100.0f;
  return Format("Block# %" PRIu64 " , Size#%" PRIu64 " bytes ( %.2f %% )", block, sent,
                static_cast<double>(percent));
}

std::string FinishProgressText(std::uint64_t block, std::uint64_t bytesTransferred) {
  return Format("Block# %" PRIu64 " , Size#%" PRIu64 " bytes ( %d %% )", block, bytesTransferred, 100);
}

std::string UpgradeCounterText(std::uint64_t upgradeCount) {
  return Format("Total Update: %" PRIu64, upgradeCount);
}

int ProgressBarScale::Position(std::uint64_t block) const {
  return static_cast<int>(std::min(block / blocksPerStep, kIntMax));
}

ProgressBarScale ProgressBarScaleFor(std::uint64_t fileLength) {
  const std::uint64_t blocks = fileLength / kBlockSize;
  ProgressBarScale scale;
  scale.blocksPerStep = blocks > kIntMax ? blocks / kIntMax + 1 : 1;
  scale.maximum = static_cast<int>(blocks / scale.blocksPerStep);
  return scale;
}

}  // namespace marindo
