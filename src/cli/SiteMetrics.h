#pragma once

// What the site exporter knows of the clocks between refreshes, and its page
// in the Prometheus text format. No network here: a refresh hands in what it
// heard, a scrape takes the rendered text.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clocks/ClockRecord.h"
#include "platform/CodePage.h"

namespace marindo {

// What one refresh learnt of a clock that answered its search.
struct ClockReading {
  std::uint32_t ip = 0;
  std::string serial;    // UTF-8
  std::string mac;       // "02-13-0A-D5-00-0B"; zeros behind a router
  std::string name;      // the operator's name for it, or ""
  bool newPlatform = false;
  std::string firmware;        // "4.02"
  std::uint32_t lastSync = 0;  // seconds since 1970; 0 when it never synchronised
  // The clock answered the display-settings query of this refresh, so the
  // readings below are current (and absent without a sensor). Otherwise the
  // readings of an earlier refresh stand.
  bool displayRead = false;
  std::optional<double> temperatureCelsius;
  std::optional<double> humidityRatio;  // 0..1
};

// The reading of a clock's record. `displayRead`: the record holds the
// clock's answer to this refresh's display-settings query.
ClockReading ReadingOf(const ClockRecord& record, std::string name, CodePage codePage, bool displayRead);

// The temperature in degrees Celsius the record reports, Fahrenheit clocks
// converted (to hundredths); nothing without a sensor or with a unit the
// clocks do not define.
std::optional<double> TemperatureCelsius(const ClockRecord& record);
// The relative humidity as a ratio (45.6 % is 0.456); nothing without a sensor.
std::optional<double> HumidityRatio(const ClockRecord& record);

// A sample value as the text format writes it: whole numbers without a
// decimal point, others in the shortest form that reads back the same.
std::string MetricValue(double value);
// A label value inside its quotes: backslash, double quote and line feed
// escaped.
std::string EscapeLabelValue(std::string_view value);

class SiteMetrics {
 public:
  // Seconds a clock may stay silent before it leaves the page.
  explicit SiteMetrics(std::int64_t forgetAfterSeconds);

  // The clocks one refresh heard, at `now` (seconds since 1970). A clock is
  // the same clock by serial and MAC wherever it answers from. Every known
  // clock not heard is silent and keeps its last values; one not heard for
  // longer than the age limit is forgotten.
  void Update(const std::vector<ClockReading>& heard, std::int64_t now);
  // The end of a refresh at `now`: how long it took and how many of its
  // exchanges went unanswered.
  void EndRefresh(double seconds, std::uint64_t unanswered, std::int64_t now);
  // A refresh that could not run at all counts as one error.
  void RefreshFailed() { ++errors_; }

  std::size_t ClockCount() const { return clocks_.size(); }
  std::size_t SilentCount() const;
  std::uint64_t Errors() const { return errors_; }

  // The whole page served at /metrics.
  std::string Render() const;

 private:
  struct Known {
    ClockReading last;
    bool up = false;
    std::int64_t lastSeen = 0;
  };
  using Identity = std::pair<std::string, std::string>;  // serial, MAC

  std::int64_t forgetAfter_;
  std::map<Identity, Known> clocks_;
  std::uint64_t errors_ = 0;
  std::optional<double> lastDuration_;
  std::int64_t lastRefreshAt_ = 0;
};

}  // namespace marindo
