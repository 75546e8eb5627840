// The roster a refresh builds up: who a clock is, what a silent clock still
// shows, the counts of the summary line and the CSV the site view exports.

#include "site/SiteRoster.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marindo {
namespace {

constexpr std::int64_t kNow = 1'796'000'000;  // 2026-11-30, a fixed clock for every case
constexpr std::int64_t kDay = 24 * 3600;

ClockReading Reading(std::uint32_t ip, std::string serial, std::string mac, std::int64_t lastSync = kNow - 60) {
  ClockReading reading;
  reading.ip = ip;
  reading.serial = std::move(serial);
  reading.mac = std::move(mac);
  reading.firmware = "4.02";
  reading.lastSync = static_cast<std::uint32_t>(lastSync);
  return reading;
}

const ClockReading kHall = Reading(0x0A000009, "A1B2C3", "02-13-0A-D5-00-0B");
const ClockReading kGate = Reading(0x0A00000A, "D4E5F6", "02-13-0A-D5-00-0C");

TEST(SiteRosterTest, AClockIsTheSameBySerialAndMacWhereverItAnswers) {
  SiteRoster roster;
  roster.Update({kHall, kGate}, kNow);

  ClockReading moved = kHall;
  moved.ip = 0x0A000063;
  moved.name = "Hall";
  roster.Update({kGate, moved}, kNow + 60);

  ASSERT_EQ(roster.Clocks().size(), 2u);
  EXPECT_EQ(roster.IndexOf("A1B2C3", "02-13-0A-D5-00-0B"), 0u);
  EXPECT_EQ(roster.IndexOf("D4E5F6", "02-13-0A-D5-00-0C"), 1u);
  EXPECT_EQ(roster.Clocks()[0].last.ip, 0x0A000063u);
  EXPECT_EQ(roster.Clocks()[0].last.name, "Hall");
  EXPECT_EQ(roster.Clocks()[0].lastHeard, kNow + 60);
  EXPECT_FALSE(roster.Clocks()[0].silent);
}

TEST(SiteRosterTest, SerialOrMacAloneIsAnotherClock) {
  // A serial copied onto a second clock, or two clocks behind one router
  // (MAC all zeros), must not merge into one row.
  SiteRoster roster;
  roster.Update({kHall, Reading(0x0A000010, "A1B2C3", "02-13-0A-D5-00-FF"),
                 Reading(0x0A000011, "ZZ9", "00-00-00-00-00-00"), Reading(0x0A000012, "ZZ8", "00-00-00-00-00-00")},
                kNow);
  EXPECT_EQ(roster.Clocks().size(), 4u);
  EXPECT_EQ(roster.IndexOf("A1B2C3", "02-13-0A-D5-00-FF"), 1u);
  EXPECT_EQ(roster.IndexOf("ZZ8", "00-00-00-00-00-00"), 3u);
  EXPECT_EQ(roster.IndexOf("A1B2C3", "00-00-00-00-00-00"), std::nullopt);
}

TEST(SiteRosterTest, ASilentClockKeepsItsPlaceItsReadingAndWhenItWasHeard) {
  SiteRoster roster;
  ClockReading hall = kHall;
  hall.displayRead = true;
  hall.temperatureCelsius = 21.5;
  roster.Update({hall, kGate}, kNow);
  roster.Update({kGate}, kNow + 300);

  ASSERT_EQ(roster.Clocks().size(), 2u);
  const SiteClock& silent = roster.Clocks()[0];
  EXPECT_TRUE(silent.silent);
  EXPECT_EQ(silent.lastHeard, kNow);
  EXPECT_EQ(silent.last.ip, kHall.ip);
  EXPECT_EQ(silent.last.lastSync, kHall.lastSync);
  EXPECT_EQ(silent.last.temperatureCelsius, 21.5);
  EXPECT_FALSE(roster.Clocks()[1].silent);
  EXPECT_EQ(roster.SilentCount(), 1u);

  // Back again, in its old place, with what it says now.
  ClockReading back = kHall;
  back.lastSync = static_cast<std::uint32_t>(kNow + 500);
  roster.Update({kGate, back}, kNow + 600);
  EXPECT_FALSE(roster.Clocks()[0].silent);
  EXPECT_EQ(roster.Clocks()[0].lastHeard, kNow + 600);
  EXPECT_EQ(roster.Clocks()[0].last.lastSync, kNow + 500);
  EXPECT_EQ(roster.SilentCount(), 0u);
}

TEST(SiteRosterTest, SensorReadingsStandUntilADisplayQueryAnswersAgain) {
  SiteRoster roster;
  ClockReading read = kHall;
  read.displayRead = true;
  read.temperatureCelsius = 21.5;
  read.humidityRatio = 0.4;
  roster.Update({read}, kNow);
  roster.Update({kHall}, kNow + 60);  // its display query went unanswered
  EXPECT_EQ(roster.Clocks()[0].last.temperatureCelsius, 21.5);
  EXPECT_EQ(roster.Clocks()[0].last.humidityRatio, 0.4);

  ClockReading noSensor = kHall;
  noSensor.displayRead = true;  // answered, and has no sensor now
  roster.Update({noSensor}, kNow + 120);
  EXPECT_EQ(roster.Clocks()[0].last.temperatureCelsius, std::nullopt);
  EXPECT_EQ(roster.Clocks()[0].last.humidityRatio, std::nullopt);
}

TEST(SiteRosterTest, NewClocksJoinAtTheEndInTheOrderHeard) {
  SiteRoster roster;
  roster.Update({kGate}, kNow);
  const ClockReading third = Reading(0x0A000001, "G7H8", "02-13-0A-D5-00-01");
  roster.Update({third, kHall, kGate}, kNow + 60);
  ASSERT_EQ(roster.Clocks().size(), 3u);
  EXPECT_EQ(roster.Clocks()[0].last.serial, "D4E5F6");
  EXPECT_EQ(roster.Clocks()[1].last.serial, "G7H8");
  EXPECT_EQ(roster.Clocks()[2].last.serial, "A1B2C3");
  EXPECT_EQ(roster.Clocks()[2].lastHeard, kNow + 60);
}

TEST(SiteRosterTest, NotSynchronisedCountsSilentClocksByTheirLastReading) {
  SiteRoster roster;
  roster.Update({Reading(1, "fresh", "m"), Reading(2, "old", "m", kNow - 2 * kDay), Reading(3, "never", "m", 0),
                 Reading(4, "silent-old", "m", kNow - 3 * kDay), Reading(5, "silent-fresh", "m")},
                kNow);
  roster.Update({Reading(1, "fresh", "m"), Reading(2, "old", "m", kNow - 2 * kDay), Reading(3, "never", "m", 0)},
                kNow + 60);
  EXPECT_EQ(roster.SilentCount(), 2u);
  EXPECT_EQ(roster.NotSynchronisedCount(kDay, kNow + 60), 3u);      // old, never, silent-old
  EXPECT_EQ(roster.NotSynchronisedCount(4 * kDay, kNow + 60), 1u);  // never
}

struct SyncAge {
  const char* what;
  std::uint32_t lastSync;
  std::int64_t threshold;
  bool tooOld;
};

TEST(SiteRosterTest, SyncTooOldAtItsEdges) {
  const std::vector<SyncAge> cases{
      {"never synchronised", 0, kDay, true},
      {"never, even with a threshold beyond 1970", 0, kNow * 2, true},
      {"exactly at the threshold", static_cast<std::uint32_t>(kNow - kDay), kDay, false},
      {"a second past it", static_cast<std::uint32_t>(kNow - kDay - 1), kDay, true},
      {"a second short of it", static_cast<std::uint32_t>(kNow - kDay + 1), kDay, false},
      {"ahead of us", static_cast<std::uint32_t>(kNow + 3600), kDay, false},
      {"the first second of 1970", 1, kDay, true},
  };
  for (const SyncAge& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(SyncTooOld(c.lastSync, c.threshold, kNow), c.tooOld);
  }
}

TEST(SiteRosterTest, SummaryTextCountsInWords) {
  EXPECT_EQ(SummaryText(612, 3, 7, 24), "612 clocks \u00B7 3 silent \u00B7 7 not synchronised for 24 h");
  EXPECT_EQ(SummaryText(1, 0, 1, 2), "1 clock \u00B7 0 silent \u00B7 1 not synchronised for 2 h");
  EXPECT_EQ(SummaryText(0, 0, 0, 24), "0 clocks \u00B7 0 silent \u00B7 0 not synchronised for 24 h");
  // The separator is the middle dot U+00B7 in UTF-8 with a blank each side.
  EXPECT_NE(SummaryText(2, 1, 1, 24).find(" \xC2\xB7 "), std::string::npos);
}

struct CsvCell {
  const char* what;
  std::string cell;
  std::string written;
};

TEST(SiteRosterTest, CsvQuotesOnlyTheCellsThatNeedIt) {
  const std::vector<CsvCell> cases{
      {"plain", "Hall", "Hall"},
      {"empty", "", ""},
      {"comma", "Hall, east", "\"Hall, east\""},
      {"quote", "the \"big\" one", "\"the \"\"big\"\" one\""},
      {"line feed", "up\nstairs", "\"up\nstairs\""},
      {"carriage return", "up\rstairs", "\"up\rstairs\""},
      {"UTF-8 stays as it is", "Gr\u00FC\u00DFe \u00B7 Saal", "Gr\u00FC\u00DFe \u00B7 Saal"},
      {"blanks around are kept", " Hall ", " Hall "},
  };
  for (const CsvCell& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CsvText({"Name"}, {{c.cell}}), "Name\r\n" + c.written + "\r\n");
  }
}

TEST(SiteRosterTest, CsvHasTheHeaderThenOneLineARow) {
  EXPECT_EQ(CsvText({"Name", "Address"}, {{"Hall", "10.0.0.9"}, {"", "10.0.0.10"}}),
            "Name,Address\r\nHall,10.0.0.9\r\n,10.0.0.10\r\n");
  EXPECT_EQ(CsvText({"Name", "Note"}, {}), "Name,Note\r\n");
  EXPECT_EQ(CsvText({"a,b"}, {{"x"}}), "\"a,b\"\r\nx\r\n");
}

}  // namespace
}  // namespace marindo
