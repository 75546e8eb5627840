#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "clocks/ClockRecord.h"
#include "link/ClockFrame.h"
#include "link/CommandCodes.h"
#include "settings/SettingsLists.h"

namespace marindo {

// One bell of a clock's schedule as it travels in the tables of codes 0x04
// and 0x08: index, hour, minute, second, flags, duration, one byte each.
struct BellEntry {
  static constexpr std::size_t kSize = 6;
  static constexpr std::uint8_t kEnabled = 0x80;  // flags bit 7
  static constexpr std::uint8_t kDays = 0x7F;     // flags bits 0-6, Sunday first

  std::uint8_t index = 0;  // written on every write, never trusted on a read
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
  std::uint8_t second = 0;
  std::uint8_t flags = 0;
  std::uint8_t duration = 0;  // seconds; 0 = not set

  friend bool operator==(const BellEntry&, const BellEntry&) = default;
};

inline constexpr int kBellCount = 30;
inline constexpr int kDaysPerWeek = 7;
using BellTable = std::array<std::uint8_t, ClockRecord::kBellBytes>;
static_assert(ClockRecord::kBellBytes == kBellCount * BellEntry::kSize);

// Bell `position` (0 to 29) of a table; positions outside the table throw
// std::out_of_range.
BellEntry BellAt(const BellTable& table, int position);
void StoreBell(BellTable& table, int position, const BellEntry& entry);

// What the operator set in one row of a bell sub-page: the numbers shown by
// the selected list items (none when nothing is selected) and the check boxes.
struct BellRow {
  bool enabled = false;
  std::optional<std::uint8_t> hour;
  std::optional<std::uint8_t> minute;
  std::optional<std::uint8_t> second;
  std::array<bool, kDaysPerWeek> days{};  // Sunday first
  std::optional<std::uint8_t> duration;

  friend bool operator==(const BellRow&, const BellRow&) = default;
};

using BellRows = std::array<BellRow, kBellCount>;

std::string DayMissingMessage(int bellNumber);
std::string DurationMissingMessage(int bellNumber);

// Reads `row`, the row of bell `bellNumber` (1 to 30), into `entry`, which the
// caller has zeroed and given its index. Answers nothing when the row passes
// the check, else what to tell the operator; `entry` holds what was read
// either way.
std::optional<std::string> ReadBellRow(const BellRow& row, int bellNumber, BellEntry& entry);

// Reads the 30 rows into `bells` in bell order, each bell zeroed and given its
// index first. Stops at the first failing row and answers its refusal: the
// bells before it hold their rows, the failing one what was read of its row,
// the later ones stay as they were.
std::optional<std::string> ReadBellRows(const BellRows& rows, BellTable& bells);

// The 187-byte write of code 0x08 carrying `bells`.
ClockFrame BellWriteFrame(const BellTable& bells);

// How an entry shows in a row: values outside a list's range show as no
// selection, and the index byte is ignored.
BellRow RowFromEntry(const BellEntry& entry);

// The bell section as the sub-pages show it, bell 1 first.
BellRows BellRowsFromRecord(const ClockRecord& record);

}  // namespace marindo
