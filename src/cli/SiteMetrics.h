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

#include "site/ClockIdentity.h"

namespace marindo {

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
