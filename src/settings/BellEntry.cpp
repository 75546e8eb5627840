#include "settings/BellEntry.h"

#include <algorithm>
#include <stdexcept>

namespace marindo {
namespace {

std::size_t OffsetOf(int position) {
  if (position < 0 || position >= kBellCount) throw std::out_of_range("bell position");
  return static_cast<std::size_t>(position) * BellEntry::kSize;
}

std::uint8_t DayBits(const std::array<bool, kDaysPerWeek>& days) {
  std::uint8_t bits = 0;
  for (std::size_t day = 0; day < days.size(); ++day) {
    if (days[day]) bits = static_cast<std::uint8_t>(bits | (1U << day));
  }
  return bits;
}

std::array<bool, kDaysPerWeek> DaysOf(std::uint8_t flags) {
  std::array<bool, kDaysPerWeek> days{};
  for (std::size_t day = 0; day < days.size(); ++day) days[day] = ((unsigned{flags} >> day) & 1U) != 0;
  return days;
}

std::optional<std::uint8_t> ShownValue(const NumberList& list, std::uint8_t value) {
  if (!list.ItemOf(value)) return std::nullopt;
  return value;
}

}  // namespace

BellEntry BellAt(const BellTable& table, int position) {
  const std::size_t at = OffsetOf(position);
  return BellEntry{table[at], table[at + 1], table[at + 2], table[at + 3], table[at + 4], table[at + 5]};
}

void StoreBell(BellTable& table, int position, const BellEntry& entry) {
  const std::size_t at = OffsetOf(position);
  table[at] = entry.index;
  table[at + 1] = entry.hour;
  table[at + 2] = entry.minute;
  table[at + 3] = entry.second;
  table[at + 4] = entry.flags;
  table[at + 5] = entry.duration;
}

std::string DayMissingMessage(int bellNumber) {
  return "Please select a day of the week for bell " + std::to_string(bellNumber);
}

std::string DurationMissingMessage(int bellNumber) {
  return "Please set duration for bell " + std::to_string(bellNumber);
}

std::optional<std::string> ReadBellRow(const BellRow& row, int bellNumber, BellEntry& entry) {
  // A row without a selection leaves its byte as the caller zeroed it.
  entry.hour = row.hour.value_or(entry.hour);
  entry.minute = row.minute.value_or(entry.minute);
  entry.second = row.second.value_or(entry.second);
  entry.flags = static_cast<std::uint8_t>(entry.flags | DayBits(row.days));
  entry.duration = row.duration.value_or(entry.duration);
  entry.flags = row.enabled ? static_cast<std::uint8_t>(entry.flags | BellEntry::kEnabled)
                            : static_cast<std::uint8_t>(entry.flags & ~BellEntry::kEnabled);
  // The time is never checked: a bell without one rings at 00:00:00.
  if (entry.flags == 0 && entry.duration != 0) return DayMissingMessage(bellNumber);
  if (entry.flags != 0 && entry.duration == 0) return DurationMissingMessage(bellNumber);
  return std::nullopt;
}

std::optional<std::string> ReadBellRows(const BellRows& rows, BellTable& bells) {
  for (int position = 0; position < kBellCount; ++position) {
    BellEntry entry{};
    entry.index = static_cast<std::uint8_t>(position);
    std::optional<std::string> refusal = ReadBellRow(rows[static_cast<std::size_t>(position)], position + 1, entry);
    StoreBell(bells, position, entry);
    if (refusal) return refusal;
  }
  return std::nullopt;
}

ClockFrame BellWriteFrame(const BellTable& bells) {
  std::array<std::uint8_t, 1 + ClockRecord::kBellBytes> payload{};
  payload[0] = code::kModifyBells;
  std::copy(bells.begin(), bells.end(), payload.begin() + 1);
  return ClockFrame::Build(payload);
}

BellRow RowFromEntry(const BellEntry& entry) {
  BellRow row;
  row.enabled = (entry.flags & BellEntry::kEnabled) != 0;
  row.hour = ShownValue(kHourList, entry.hour);
  row.minute = ShownValue(kMinuteList, entry.minute);
  row.second = ShownValue(kSecondList, entry.second);
  row.days = DaysOf(entry.flags);
  row.duration = ShownValue(kDurationList, entry.duration);
  return row;
}

BellRows BellRowsFromRecord(const ClockRecord& r) {
  BellRows rows{};
  for (int position = 0; position < kBellCount; ++position) {
    rows[static_cast<std::size_t>(position)] = RowFromEntry(BellAt(r.bells, position));
  }
  return rows;
}

}  // namespace marindo
