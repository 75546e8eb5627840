#include "site/SitePreferences.h"

#include <charconv>
#include <utility>
#include <variant>

#include "site/Targets.h"

namespace marindo {
namespace {

constexpr const char* kRangesKey = "Ranges";
constexpr const char* kThresholdKey = "SyncThresholdHours";
// Enough for a long list of ranges; a line of the settings file holds it.
constexpr std::size_t kMaxRangesChars = 4096;
// More than any threshold needs: a longer text is bad, not cut short into
// another number.
constexpr std::size_t kMaxThresholdChars = 16;

}  // namespace

SitePreferences::SitePreferences(std::filesystem::path settingsFile) : file_(std::move(settingsFile)) {}

std::string SitePreferences::Ranges() const {
  return file_.ReadString(kSitePreferencesSection, kRangesKey, "", kMaxRangesChars);
}

bool SitePreferences::StoreRanges(std::string_view ranges, std::string* problem) {
  if (ranges.size() > kMaxRangesChars) {
    if (problem != nullptr) *problem = "the ranges are longer than " + std::to_string(kMaxRangesChars) + " characters";
    return false;
  }
  if (!ranges.empty()) {
    const auto parsed = ParseTargets(ranges);
    if (const auto* bad = std::get_if<std::string>(&parsed)) {
      if (problem != nullptr) *problem = *bad;
      return false;
    }
    if (std::get<Targets>(parsed).all) {
      if (problem != nullptr) *problem = "\"all\" is the broadcast search, which every refresh runs; give ranges";
      return false;
    }
  }
  if (ranges.empty()) return file_.DeleteKey(kSitePreferencesSection, kRangesKey, problem);
  return file_.WriteString(kSitePreferencesSection, kRangesKey, ranges, problem);
}

int SitePreferences::SyncThresholdHours() const {
  const std::string text = file_.ReadString(kSitePreferencesSection, kThresholdKey, "", kMaxThresholdChars + 1);
  if (text.size() > kMaxThresholdChars) return kDefaultSyncThresholdHours;
  int hours = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), hours);
  if (error != std::errc{} || end != text.data() + text.size() || hours < 1 || hours > kMaxSyncThresholdHours) {
    return kDefaultSyncThresholdHours;
  }
  return hours;
}

bool SitePreferences::StoreSyncThresholdHours(int hours, std::string* problem) {
  if (hours < 1 || hours > kMaxSyncThresholdHours) {
    if (problem != nullptr) *problem = "the threshold must be 1 to " + std::to_string(kMaxSyncThresholdHours) + " hours";
    return false;
  }
  return file_.WriteString(kSitePreferencesSection, kThresholdKey, std::to_string(hours), problem);
}

}  // namespace marindo
