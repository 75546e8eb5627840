#pragma once

// How marindo-cli prints: aligned tables for people, JSON for scripts.

#include <cstdint>
#include <string>
#include <vector>

#include "settings/SettingsJson.h"
#include "settings/SystemSettings.h"
#include "site/ClockIdentity.h"

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

// A section as "key  value" rows, nested keys joined with dots; the bells as
// a table of the bells that are set.
std::string SectionText(Section section, const Json& fields);

// A JSON document as the command line prints it, indented. Text that is not
// valid UTF-8 (a name a Windows-era editor stored) has its bad bytes
// replaced instead of ending the program.
std::string JsonDocument(const Json& document);

}  // namespace marindo
