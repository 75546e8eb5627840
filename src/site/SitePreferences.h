#pragma once

// What the site view keeps between runs, in the settings file beside the
// clock names: the address ranges a refresh sweeps besides the broadcast
// search, and the age at which a clock's last synchronisation is too old.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

namespace marindo {

inline constexpr const char* kSitePreferencesSection = "SiteView";
inline constexpr int kDefaultSyncThresholdHours = 24;
inline constexpr int kMaxSyncThresholdHours = 24 * 365;

class SitePreferences {
 public:
  explicit SitePreferences(std::filesystem::path settingsFile);

  // The ranges as the operator wrote them ("" for none). A stored text that
  // no longer parses is handed back as it is; the caller checks it.
  std::string Ranges() const;
  // Stores the ranges; false, with the reason in `problem`, when they do not
  // parse (nothing is stored then) or the file cannot be written.
  bool StoreRanges(std::string_view ranges, std::string* problem);

  // Hours, 1 to kMaxSyncThresholdHours; the default for a missing or bad value.
  int SyncThresholdHours() const;
  bool StoreSyncThresholdHours(int hours, std::string* problem);

 private:
  IniFile file_;
};

}  // namespace marindo
