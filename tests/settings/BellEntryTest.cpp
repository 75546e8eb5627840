#include "settings/BellEntry.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "link/Crc16.h"
#include "platform/Notifier.h"

namespace marindo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<std::string>;

class RecordingNotifier : public Notifier {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  Messages messages;
};

// A refusal goes to the operator, as the bell page passes it on.
bool Reported(const std::optional<std::string>& refusal, Notifier& notifier) {
  if (refusal) notifier.ShowMessage(*refusal);
  return !refusal;
}

enum Day { kSun, kMon, kTue, kWed, kThu, kFri, kSat };

BellRow Row(bool enabled, std::optional<std::uint8_t> hour, std::optional<std::uint8_t> minute,
            std::optional<std::uint8_t> second, std::initializer_list<Day> days,
            std::optional<std::uint8_t> duration) {
  BellRow row;
  row.enabled = enabled;
  row.hour = hour;
  row.minute = minute;
  row.second = second;
  for (Day day : days) row.days[day] = true;
  row.duration = duration;
  return row;
}

Bytes Slice(std::span<const std::uint8_t> bytes, std::size_t from, std::size_t count) {
  const auto part = bytes.subspan(from, count);
  return Bytes(part.begin(), part.end());
}

BellTable Filled(std::uint8_t value) {
  BellTable table;
  table.fill(value);
  return table;
}

TEST(BellWriteTest, EmptyRowsGiveIndexedEmptyBellsInA187ByteFrame) {
  RecordingNotifier notifier;
  BellTable bells = Filled(0xEE);
  ASSERT_TRUE(Reported(ReadBellRows(BellRows{}, bells), notifier));
  EXPECT_TRUE(notifier.messages.empty());

  const ClockFrame frame = BellWriteFrame(bells);
  const auto bytes = frame.Bytes();
  ASSERT_EQ(bytes.size(), 187u);
  EXPECT_EQ(Slice(bytes, 0, 5), (Bytes{0x51, 0x4B, 0x80, 0xB5, 0x08}));
  EXPECT_EQ(Slice(bytes, 5, 6), (Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Slice(bytes, 179, 6), (Bytes{0x1D, 0x00, 0x00, 0x00, 0x00, 0x00}));
  for (std::size_t bell = 0; bell < 30; ++bell) {
    EXPECT_EQ(Slice(bytes, 5 + bell * 6, 6), (Bytes{static_cast<std::uint8_t>(bell), 0, 0, 0, 0, 0})) << bell;
  }
  const std::uint16_t crc = Crc16Modbus(bytes.first(185));
  EXPECT_EQ(bytes[185], crc & 0xFF);
  EXPECT_EQ(bytes[186], crc >> 8);
}

TEST(BellWriteTest, WeekdayMorningBellIsWrittenAsTheClockExpects) {
  RecordingNotifier notifier;
  BellRows rows{};
  rows[0] = Row(true, 7, 30, 0, {kMon, kTue, kWed, kThu, kFri}, 5);
  BellTable bells{};
  ASSERT_TRUE(Reported(ReadBellRows(rows, bells), notifier));
  const ClockFrame frame = BellWriteFrame(bells);
  EXPECT_EQ(Slice(frame.Bytes(), 5, 6), (Bytes{0x00, 0x07, 0x1E, 0x00, 0xBE, 0x05}));
  EXPECT_EQ(Slice(bells, 0, 6), (Bytes{0x00, 0x07, 0x1E, 0x00, 0xBE, 0x05}));
}

struct RowCheckCase {
  const char* name;
  BellRow row;
  int bell;
  bool passes;
  const char* message;  // empty when none
  BellEntry entry;      // what the entry holds afterwards
};

class RowCheckTest : public ::testing::TestWithParam<RowCheckCase> {};

TEST_P(RowCheckTest, FillsTheEntryAndReportsTheFirstMissingPart) {
  const RowCheckCase& c = GetParam();
  RecordingNotifier notifier;
  BellEntry entry{};
  entry.index = static_cast<std::uint8_t>(c.bell - 1);
  EXPECT_EQ(Reported(ReadBellRow(c.row, c.bell, entry), notifier), c.passes);
  EXPECT_EQ(entry, c.entry);
  const Messages expected = *c.message == '\0' ? Messages{} : Messages{c.message};
  EXPECT_EQ(notifier.messages, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RowCheckTest,
    ::testing::Values(
        RowCheckCase{"EmptyRowPasses", BellRow{}, 1, true, "", {0, 0, 0, 0, 0, 0}},
        RowCheckCase{"TimeAloneIsNeverChecked", Row(false, 9, 8, 7, {}, {}), 2, true, "", {1, 9, 8, 7, 0, 0}},
        RowCheckCase{"DayWithoutDuration", Row(false, {}, {}, {}, {kSun}, {}), 12, false,
                     "Please set duration for bell 12", {11, 0, 0, 0, 0x01, 0}},
        RowCheckCase{"EnabledWithoutDuration", Row(true, 6, 0, 0, {}, {}), 3, false,
                     "Please set duration for bell 3", {2, 6, 0, 0, 0x80, 0}},
        RowCheckCase{"DurationWithoutDayOrEnable", Row(false, {}, {}, {}, {}, 10), 25, false,
                     "Please select a day of the week for bell 25", {24, 0, 0, 0, 0, 10}},
        RowCheckCase{"EnabledWithoutDayPasses", Row(true, {}, {}, {}, {}, 3), 4, true, "", {3, 0, 0, 0, 0x80, 3}},
        RowCheckCase{"DaysWithoutEnablePass", Row(false, 12, 0, 0, {kSun, kSat}, 15), 30, true, "",
                     {29, 12, 0, 0, 0x41, 15}},
        RowCheckCase{"EveryDayEnabled", Row(true, 23, 59, 59, {kSun, kMon, kTue, kWed, kThu, kFri, kSat}, 8), 21,
                     true, "", {20, 23, 59, 59, 0xFF, 8}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(BellWriteTest, OnlyTheFirstFailingBellIsReported) {
  RecordingNotifier notifier;
  BellRows rows{};
  rows[4] = Row(false, {}, {}, {}, {}, 10);     // bell 5: duration, no day
  rows[11] = Row(false, {}, {}, {}, {kSun}, {});  // bell 12: day, no duration
  BellTable bells{};
  EXPECT_FALSE(Reported(ReadBellRows(rows, bells), notifier));
  EXPECT_EQ(notifier.messages, Messages{"Please select a day of the week for bell 5"});
}

TEST(BellWriteTest, FailingBellStopsTheReadAndLeavesLaterBellsAsTheyWere) {
  RecordingNotifier notifier;
  BellRows rows{};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i] = Row(true, static_cast<std::uint8_t>(i % 24), 15, 45, {kWed}, 4);
  }
  rows[14] = Row(false, 1, 2, 3, {kSun}, {});  // bell 15: no duration
  BellTable bells = Filled(0xEE);
  EXPECT_FALSE(Reported(ReadBellRows(rows, bells), notifier));
  EXPECT_EQ(notifier.messages, Messages{"Please set duration for bell 15"});
  for (int position = 0; position < 14; ++position) {
    const BellEntry expected{static_cast<std::uint8_t>(position), static_cast<std::uint8_t>(position), 15, 45,
                             0x88, 4};
    EXPECT_EQ(BellAt(bells, position), expected) << "bell " << position + 1;
  }
  EXPECT_EQ(BellAt(bells, 14), (BellEntry{14, 1, 2, 3, 0x01, 0}));
  EXPECT_EQ(Slice(bells, 15 * 6, 15 * 6), Bytes(15 * 6, 0xEE));
}

struct ShowCase {
  const char* name;
  BellEntry entry;
  BellRow row;
};

class EntryToRowTest : public ::testing::TestWithParam<ShowCase> {};

TEST_P(EntryToRowTest, ShowsValuesInsideTheListsOnly) { EXPECT_EQ(RowFromEntry(GetParam().entry), GetParam().row); }

INSTANTIATE_TEST_SUITE_P(
    Entries, EntryToRowTest,
    ::testing::Values(ShowCase{"Empty", {0, 0, 0, 0, 0, 0}, Row(false, 0, 0, 0, {}, {})},
                      ShowCase{"SaturdayLastSecond", {29, 23, 59, 59, 0xC0, 15}, Row(true, 23, 59, 59, {kSat}, 15)},
                      ShowCase{"IndexIsIgnored", {0xFF, 7, 30, 0, 0xBE, 5},
                               Row(true, 7, 30, 0, {kMon, kTue, kWed, kThu, kFri}, 5)},
                      ShowCase{"HourBeyondTheDay", {0, 24, 0, 0, 0x01, 5}, Row(false, {}, 0, 0, {kSun}, 5)},
                      ShowCase{"MinuteAndSecondBeyondRange", {0, 1, 60, 255, 0x80, 3}, Row(true, 1, {}, {}, {}, 3)},
                      ShowCase{"DurationTooShort", {0, 0, 0, 0, 0x02, 2}, Row(false, 0, 0, 0, {kMon}, {})},
                      ShowCase{"DurationTooLong", {0, 0, 0, 0, 0x02, 16}, Row(false, 0, 0, 0, {kMon}, {})},
                      ShowCase{"ShortestDuration", {0, 0, 0, 0, 0x02, 3}, Row(false, 0, 0, 0, {kMon}, 3)}),
    [](const auto& test) { return std::string(test.param.name); });

// What a clock reported comes back on the next write, except values the
// lists cannot show.
TEST(BellRoundTripTest, ShownRowsWriteBackWhatWasRead) {
  struct Case {
    BellEntry read;
    bool passes;
    BellEntry written;
    const char* message;
  };
  const Case cases[] = {
      {{9, 7, 30, 0, 0xBE, 5}, true, {0, 7, 30, 0, 0xBE, 5}, ""},
      {{0, 24, 10, 0, 0x81, 6}, true, {0, 0, 10, 0, 0x81, 6}, ""},
      {{0, 6, 0, 0, 0x04, 2}, false, {0, 6, 0, 0, 0x04, 0}, "Please set duration for bell 1"},
  };
  for (const Case& c : cases) {
    RecordingNotifier notifier;
    BellEntry entry{};
    EXPECT_EQ(Reported(ReadBellRow(RowFromEntry(c.read), 1, entry), notifier), c.passes);
    EXPECT_EQ(entry, c.written);
    EXPECT_EQ(notifier.messages, *c.message ? Messages{c.message} : Messages{});
  }
}

TEST(BellTableTest, BellsSitSixBytesApartAndPositionsOutsideTheTableThrow) {
  BellTable table{};
  StoreBell(table, 0, {0, 1, 2, 3, 4, 5});
  StoreBell(table, 29, {29, 6, 7, 8, 9, 10});
  EXPECT_EQ(Slice(table, 0, 6), (Bytes{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(Slice(table, 174, 6), (Bytes{29, 6, 7, 8, 9, 10}));
  EXPECT_EQ(BellAt(table, 29), (BellEntry{29, 6, 7, 8, 9, 10}));
  EXPECT_THROW(BellAt(table, 30), std::out_of_range);
  EXPECT_THROW(BellAt(table, -1), std::out_of_range);
  EXPECT_THROW(StoreBell(table, 30, {}), std::out_of_range);
}

TEST(NumberListTest, ItemsRunFromFirstToLast) {
  EXPECT_EQ(kHourList.Count(), 24);
  EXPECT_EQ(kDurationList.Count(), 13);
  EXPECT_EQ(kDurationList.ItemOf(3), 0);
  EXPECT_EQ(kDurationList.ItemOf(15), 12);
  EXPECT_EQ(kDurationList.ItemOf(2), std::nullopt);
  EXPECT_EQ(kDurationList.ItemOf(16), std::nullopt);
  EXPECT_EQ(kMinuteList.ItemOf(59), 59);
  EXPECT_EQ(kMinuteList.ItemOf(60), std::nullopt);
  EXPECT_EQ(kDurationList.ValueAt(7), 10);
}

}  // namespace
}  // namespace marindo
