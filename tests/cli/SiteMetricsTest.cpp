#include "cli/SiteMetrics.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace marindo {
namespace {

constexpr std::int64_t kForget = 3600;
constexpr std::int64_t kStart = 1765432000;

ClockReading Hall() {
  ClockReading reading;
  reading.ip = 0x0AD5000B;  // 10.213.0.11
  reading.serial = "A1B2C3";
  reading.mac = "02-00-0A-D5-00-0B";
  reading.name = "Hall";
  reading.newPlatform = true;
  reading.firmware = "4.02";
  reading.lastSync = 1765432100;
  reading.displayRead = true;
  reading.temperatureCelsius = 21.5;
  reading.humidityRatio = 0.456;
  return reading;
}

// The value of the sample whose name and labels are `series`, or nothing
// when the page has no such line.
std::optional<std::string> ValueOf(const std::string& page, const std::string& series) {
  std::istringstream lines(page);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(series + " ")) return line.substr(series.size() + 1);
  }
  return std::nullopt;
}

int LinesStartingWith(const std::string& page, const std::string& start) {
  std::istringstream lines(page);
  int count = 0;
  for (std::string line; std::getline(lines, line);) count += line.starts_with(start) ? 1 : 0;
  return count;
}

const std::string kHallUp =
    R"(marindo_clock_up{ip="10.213.0.11",serial="A1B2C3",mac="02-00-0A-D5-00-0B",name="Hall",model="new"})";
const std::string kHall = R"({ip="10.213.0.11",serial="A1B2C3"})";

// The whole page for one clock with a sensor, as Prometheus reads it.
TEST(SiteMetricsTest, RendersTheTextFormat) {
  SiteMetrics metrics(kForget);
  metrics.Update({Hall()}, kStart);
  metrics.EndRefresh(0.84, 0, kStart);
  EXPECT_EQ(metrics.Render(),
            "# HELP marindo_clock_up Whether the clock answered at the last refresh (1) or has been silent since "
            "(0).\n"
            "# TYPE marindo_clock_up gauge\n" +
                kHallUp + " 1\n" +
                "# HELP marindo_clock_last_sync_timestamp_seconds When the clock last synchronised its time, in "
                "seconds since 1970; 0 when it never did.\n"
                "# TYPE marindo_clock_last_sync_timestamp_seconds gauge\n"
                "marindo_clock_last_sync_timestamp_seconds" +
                kHall + " 1765432100\n" +
                "# HELP marindo_clock_firmware_info The clock's firmware version, as a label.\n"
                "# TYPE marindo_clock_firmware_info gauge\n"
                "marindo_clock_firmware_info{ip=\"10.213.0.11\",serial=\"A1B2C3\",model=\"new\",version=\"4.02\"} "
                "1\n"
                "# HELP marindo_clock_temperature_celsius The temperature the clock's sensor reads, in degrees "
                "Celsius.\n"
                "# TYPE marindo_clock_temperature_celsius gauge\n"
                "marindo_clock_temperature_celsius" +
                kHall + " 21.5\n" +
                "# HELP marindo_clock_humidity_ratio The relative humidity the clock's sensor reads, from 0 to 1.\n"
                "# TYPE marindo_clock_humidity_ratio gauge\n"
                "marindo_clock_humidity_ratio" +
                kHall + " 0.456\n" +
                "# HELP marindo_clock_last_seen_timestamp_seconds When the clock last answered a refresh, in "
                "seconds since 1970.\n"
                "# TYPE marindo_clock_last_seen_timestamp_seconds gauge\n"
                "marindo_clock_last_seen_timestamp_seconds" +
                kHall + " 1765432000\n" +
                "# HELP marindo_refresh_duration_seconds How long the last refresh of the site took.\n"
                "# TYPE marindo_refresh_duration_seconds gauge\n"
                "marindo_refresh_duration_seconds 0.84\n"
                "# HELP marindo_refresh_clocks The clocks known after the last refresh, silent ones included.\n"
                "# TYPE marindo_refresh_clocks gauge\n"
                "marindo_refresh_clocks 1\n"
                "# HELP marindo_refresh_silent_clocks The known clocks that did not answer the last refresh.\n"
                "# TYPE marindo_refresh_silent_clocks gauge\n"
                "marindo_refresh_silent_clocks 0\n"
                "# HELP marindo_refresh_errors_total Exchanges of the refreshes that went unanswered, plus "
                "refreshes that failed.\n"
                "# TYPE marindo_refresh_errors_total counter\n"
                "marindo_refresh_errors_total 0\n"
                "# HELP marindo_refresh_timestamp_seconds When the last refresh ended, in seconds since 1970.\n"
                "# TYPE marindo_refresh_timestamp_seconds gauge\n"
                "marindo_refresh_timestamp_seconds 1765432000\n");
}

TEST(SiteMetricsTest, BeforeTheFirstRefreshThePageHoldsNoClockAndNoRefresh) {
  const std::string page = SiteMetrics(kForget).Render();
  EXPECT_EQ(LinesStartingWith(page, "marindo_clock_"), 0) << page;
  EXPECT_EQ(ValueOf(page, "marindo_refresh_clocks"), "0");
  EXPECT_FALSE(ValueOf(page, "marindo_refresh_timestamp_seconds")) << page;
}

TEST(SiteMetricsTest, EscapesLabelValues) {
  struct Case {
    std::string name;
    std::string escaped;
  };
  const Case cases[] = {
      {"Hall", "Hall"},
      {R"(Hall "B")", R"(Hall \"B\")"},
      {R"(C:\clocks)", R"(C:\\clocks)"},
      {"two\nlines", R"(two\nlines)"},
      {R"(\")", R"(\\\")"},
      {"Salle été", "Salle été"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeLabelValue(c.name), c.escaped) << c.name;
    ClockReading reading = Hall();
    reading.name = c.name;
    SiteMetrics metrics(kForget);
    metrics.Update({reading}, kStart);
    const std::string up = R"(marindo_clock_up{ip="10.213.0.11",serial="A1B2C3",mac="02-00-0A-D5-00-0B",name=")" +
                           c.escaped + R"(",model="new"})";
    EXPECT_EQ(ValueOf(metrics.Render(), up), "1") << metrics.Render();
  }
}

TEST(SiteMetricsTest, WritesWholeNumbersWithoutDecimalsAndOthersShortest) {
  struct Case {
    double value;
    std::string text;
  };
  const Case cases[] = {
      {0, "0"},         {1, "1"},       {1765432100, "1765432100"}, {-3, "-3"},
      {0.84, "0.84"},   {21.5, "21.5"}, {0.456, "0.456"},           {-5.3, "-5.3"},
      {21.11, "21.11"}, {1.0 / 3, "0.3333333333333333"},            {1e300, "1e+300"},
  };
  for (const Case& c : cases) EXPECT_EQ(MetricValue(c.value), c.text) << c.text;
}

// The sensor as the clock reports it in its display settings.
TEST(SiteMetricsTest, ReadsTheSensorInCelsius) {
  struct Case {
    const char* what;
    std::uint8_t unit;
    Humiture humiture;
    std::optional<double> celsius;
    std::optional<double> humidity;
  };
  const Case cases[] = {
      {"Celsius", 1, {21, 5, false, 45, 6}, 21.5, 0.456},
      {"Fahrenheit converted", 2, {70, 0, false, 50, 0}, 21.11, 0.5},
      {"freezing in Fahrenheit", 2, {32, 0, false, 80, 0}, 0.0, 0.8},
      {"below zero by the sign bit alone", 1, {0, 5, true, 30, 0}, -0.5, 0.3},
      {"below zero", 1, {-5, 3, true, 45, 6}, -5.3, 0.456},
      {"no sensor: unit 0", 0, {21, 5, false, 45, 6}, std::nullopt, std::nullopt},
      {"no sensor: humidity exactly 0", 1, {21, 5, false, 0, 0}, std::nullopt, std::nullopt},
      {"a unit the clocks do not define", 3, {21, 5, false, 45, 6}, std::nullopt, 0.456},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClockRecord record;
    record.tempUnit = c.unit;
    record.humiture = c.humiture;
    EXPECT_EQ(TemperatureCelsius(record), c.celsius);
    EXPECT_EQ(HumidityRatio(record), c.humidity);

    const ClockReading reading = ReadingOf(record, "", CodePage::Cp1252, true);
    SiteMetrics metrics(kForget);
    metrics.Update({reading}, kStart);
    const std::string page = metrics.Render();
    EXPECT_EQ(LinesStartingWith(page, "marindo_clock_temperature_celsius"), c.celsius ? 1 : 0) << page;
    EXPECT_EQ(LinesStartingWith(page, "# TYPE marindo_clock_temperature_celsius"), c.celsius ? 1 : 0) << page;
    EXPECT_EQ(LinesStartingWith(page, "marindo_clock_humidity_ratio"), c.humidity ? 1 : 0) << page;
  }
}

TEST(SiteMetricsTest, ReadsIdentityFromTheRecord) {
  ClockRecord record;
  record.ip = 0x0AD5000C;
  std::ranges::copy(std::string("TOWER003"), record.serial.begin());
  record.firmwareMajor = 1;
  record.firmwareMinor = 5;
  record.lastSyncTime = 1700000000;
  record.mac = {0x02, 0x13, 0x0A, 0xD5, 0x00, 0x0C};
  const ClockReading reading = ReadingOf(record, "Tower", CodePage::Cp1252, false);
  EXPECT_EQ(reading.serial, "TOWER003");
  EXPECT_EQ(reading.mac, "02-13-0A-D5-00-0C");
  EXPECT_EQ(reading.firmware, "1.05");
  EXPECT_FALSE(reading.newPlatform);
  EXPECT_EQ(reading.lastSync, 1700000000U);
  SiteMetrics metrics(kForget);
  metrics.Update({reading}, kStart);
  EXPECT_EQ(ValueOf(metrics.Render(),
                    R"(marindo_clock_firmware_info{ip="10.213.0.12",serial="TOWER003",model="old",version="1.05"})"),
            "1");
}

// A clock that stops answering is reported silent with what it last said,
// until it has been silent for longer than the age limit.
TEST(SiteMetricsTest, ASilentClockKeepsItsValuesUntilTheAgeLimit) {
  SiteMetrics metrics(kForget);
  metrics.Update({Hall()}, kStart);
  struct Step {
    std::int64_t at;
    bool heard;
    std::optional<std::string> up;
    std::size_t known;
    std::size_t silent;
  };
  const Step steps[] = {
      {kStart + 60, false, "0", 1, 1},
      {kStart + kForget, false, "0", 1, 1},
      {kStart + kForget + 1, false, std::nullopt, 0, 0},
      {kStart + kForget + 60, true, "1", 1, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.at - kStart);
    metrics.Update(step.heard ? std::vector<ClockReading>{Hall()} : std::vector<ClockReading>{}, step.at);
    metrics.EndRefresh(0.5, 0, step.at);
    const std::string page = metrics.Render();
    EXPECT_EQ(ValueOf(page, kHallUp), step.up) << page;
    EXPECT_EQ(metrics.ClockCount(), step.known);
    EXPECT_EQ(metrics.SilentCount(), step.silent);
    EXPECT_EQ(ValueOf(page, "marindo_refresh_clocks"), std::to_string(step.known));
    EXPECT_EQ(ValueOf(page, "marindo_refresh_silent_clocks"), std::to_string(step.silent));
    if (step.up) {
      EXPECT_EQ(ValueOf(page, "marindo_clock_temperature_celsius" + kHall), "21.5") << page;
      EXPECT_EQ(ValueOf(page, "marindo_clock_last_sync_timestamp_seconds" + kHall), "1765432100");
      EXPECT_EQ(ValueOf(page, "marindo_clock_last_seen_timestamp_seconds" + kHall),
                std::to_string(step.heard ? step.at : kStart));
    } else {
      EXPECT_EQ(LinesStartingWith(page, "marindo_clock_"), 0) << page;
    }
  }
}

// A clock that answered the search but not the display query keeps the
// readings it gave before; one that answered says whether it has a sensor now.
TEST(SiteMetricsTest, ReadingsStandUntilTheClockGivesNewOnes) {
  SiteMetrics metrics(kForget);
  metrics.Update({Hall()}, kStart);
  ClockReading unread = Hall();
  unread.displayRead = false;
  unread.temperatureCelsius.reset();
  unread.humidityRatio.reset();
  metrics.Update({unread}, kStart + 60);
  EXPECT_EQ(ValueOf(metrics.Render(), "marindo_clock_temperature_celsius" + kHall), "21.5");
  EXPECT_EQ(ValueOf(metrics.Render(), "marindo_clock_humidity_ratio" + kHall), "0.456");
  ClockReading noSensor = unread;
  noSensor.displayRead = true;
  metrics.Update({noSensor}, kStart + 120);
  EXPECT_EQ(LinesStartingWith(metrics.Render(), "marindo_clock_temperature_celsius"), 0);
}

// Serial and MAC make the clock: a new address moves its one series; another
// MAC with the same serial is another clock.
TEST(SiteMetricsTest, AClockIsItsSerialAndMacWhateverItsAddress) {
  SiteMetrics metrics(kForget);
  metrics.Update({Hall()}, kStart);
  ClockReading moved = Hall();
  moved.ip = 0x0AD50063;  // 10.213.0.99
  metrics.Update({moved}, kStart + 60);
  std::string page = metrics.Render();
  EXPECT_EQ(LinesStartingWith(page, "marindo_clock_up{"), 1) << page;
  EXPECT_EQ(ValueOf(page,
                    R"(marindo_clock_up{ip="10.213.0.99",serial="A1B2C3",mac="02-00-0A-D5-00-0B",name="Hall",model="new"})"),
            "1")
      << page;
  EXPECT_EQ(metrics.ClockCount(), 1U);

  ClockReading twin = Hall();
  twin.mac = "02-00-0A-D5-00-0C";
  metrics.Update({moved, twin}, kStart + 120);
  page = metrics.Render();
  EXPECT_EQ(LinesStartingWith(page, "marindo_clock_up{"), 2) << page;
  EXPECT_EQ(metrics.ClockCount(), 2U);
}

TEST(SiteMetricsTest, TheErrorCounterOnlyGrows) {
  SiteMetrics metrics(kForget);
  struct Step {
    std::optional<std::uint64_t> unanswered;  // nothing: the refresh failed
    std::string total;
  };
  const Step steps[] = {{2, "2"}, {0, "2"}, {std::nullopt, "3"}, {5, "8"}, {0, "8"}};
  std::int64_t at = kStart;
  for (const Step& step : steps) {
    if (step.unanswered) {
      metrics.Update({}, at);
      metrics.EndRefresh(1.25, *step.unanswered, at);
    } else {
      metrics.RefreshFailed();
    }
    at += 60;
    EXPECT_EQ(ValueOf(metrics.Render(), "marindo_refresh_errors_total"), step.total);
  }
  EXPECT_EQ(ValueOf(metrics.Render(), "marindo_refresh_duration_seconds"), "1.25");
}

TEST(SiteMetricsTest, ClocksAreListedByAddress) {
  SiteMetrics metrics(kForget);
  ClockReading later = Hall();
  later.serial = "Z9";
  later.ip = 0x0AD50002;  // 10.213.0.2
  ClockReading earliest = Hall();
  earliest.serial = "B2";
  earliest.ip = 0x0A000001;  // 10.0.0.1
  metrics.Update({Hall(), later, earliest}, kStart);
  const std::string page = metrics.Render();
  const std::size_t first = page.find("marindo_clock_up{ip=\"10.0.0.1\"");
  const std::size_t second = page.find("marindo_clock_up{ip=\"10.213.0.2\"");
  const std::size_t third = page.find("marindo_clock_up{ip=\"10.213.0.11\"");
  ASSERT_NE(third, std::string::npos) << page;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
}

}  // namespace
}  // namespace marindo
