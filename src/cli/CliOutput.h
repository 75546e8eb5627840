#pragma once

// How marindo-cli prints: aligned tables for people, JSON for scripts.

#include <cstdint>
#include <string>
#include <vector>

#include "clocks/ClockNames.h"
#include "clocks/ClockRecord.h"
#include "settings/SettingsJson.h"
#include "settings/SystemSettings.h"

namespace marindo {

// Columns padded to their widest cell, two blanks between columns; the last
// column is not padded.
class TextTable {
 public:
  explicit TextTable(std::vector<std::string> header);
  void AddRow(std::vector<std::string> cells);
  std::string Render() const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

// How long ago a synchronisation was: "45 s", "12 min", "3 h 5 min", "2 d 4 h";
// "never" for time 0, "in the future" when the clock is ahead of us.
std::string AgeText(std::int64_t now, std::uint32_t lastSyncTime);
// "new platform" or "old platform".
std::string ModelText(const ClockRecord& record);

// The identity of a clock: address, serial, firmware, MAC, stored name, model,
// last synchronisation and its server.
Json IdentityJson(const ClockRecord& record, const ClockNames& names, CodePage cp);

// A section as "key  value" rows, nested keys joined with dots; the bells as
// a table of the bells that are set.
std::string SectionText(Section section, const Json& fields);

// A JSON document as the command line prints it, indented. Text that is not
// valid UTF-8 (a name a Windows-era editor stored) has its bad bytes
// replaced instead of ending the program.
std::string JsonDocument(const Json& document);

}  // namespace marindo
