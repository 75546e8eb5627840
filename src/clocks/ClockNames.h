#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "clocks/ClockRecord.h"
#include "platform/CodePage.h"
#include "platform/IniFile.h"

namespace marindo {

// The names operators give their clocks, kept in the settings file under the
// clock's serial and MAC so that a clock keeps its name when its address
// changes. Names are written as UTF-8. A name that is not valid UTF-8 was
// written by a Windows-era editor in the ANSI code page, so it is read through
// the code page: every name handed out is UTF-8. The code page also decodes
// the serial, which arrives as the clock's code-page bytes.
//
// Where a `problem` is asked for, a failed write leaves there why, in words
// for the operator (see IniFile).
class ClockNames {
 public:
  ClockNames(std::filesystem::path settingsFile, CodePage codePage);

  // "SERIAL-%02X-%02X-%02X-%02X-%02X-%02X": the serial, then the MAC bytes.
  std::string SectionName(const ClockRecord& record) const;

  // The stored name (at most 259 characters), or "" when there is no record
  // or no stored name, or the settings file cannot be read.
  std::string Lookup(const ClockRecord* record) const;

  // Stores the name; an empty text deletes it. False when the settings file
  // could not be written.
  bool Store(const ClockRecord& record, std::string_view name, std::string* problem = nullptr);

  // "192.168.1.20 (A1B2C3)": the address and, in parentheses, the serial.
  std::string DefaultLabel(const ClockRecord& record) const;

  // Ends a label edit in the tree. Without a selected clock nothing happens.
  // An edit that ends with the clock's label as it was stores nothing and
  // returns that label: merely opening and leaving the editor must not turn
  // the default label, with the address of the moment, into a name. Otherwise
  // the text becomes the clock's stored name (empty deletes it) and its label
  // (empty gives the default label); the label is returned for the tree's
  // item. A failed write still changes the label for this run; `problem`
  // then says why it was not stored.
  std::optional<std::string> RenameEnd(ClockRecord* selected, std::string_view editText,
                                       std::string* problem = nullptr);

 private:
  std::string SerialText(const ClockRecord& record) const;

  IniFile file_;
  CodePage codePage_;
};

}  // namespace marindo
