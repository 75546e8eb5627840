#pragma once

// Every clock the site view knows of, refresh after refresh. A clock is the
// same clock by serial and MAC wherever it answers from; one a refresh did
// not hear stays on the roster as silent, with what it last reported.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "site/ClockIdentity.h"

namespace marindo {

struct SiteClock {
  ClockReading last;           // what it reported when it last answered
  bool silent = false;         // the last refresh did not hear it
  std::int64_t lastHeard = 0;  // seconds since 1970
};

class SiteRoster {
 public:
  // The clocks one refresh heard at `now` (seconds since 1970). Known clocks
  // take their new reading; clocks not heard turn silent and keep theirs;
  // new clocks join at the end.
  void Update(const std::vector<ClockReading>& heard, std::int64_t now);

  // In the order they were first heard. Indexes stay valid across updates:
  // a clock never leaves the roster.
  const std::vector<SiteClock>& Clocks() const { return clocks_; }
  // The clock of serial and MAC, if known.
  std::optional<std::size_t> IndexOf(const std::string& serial, const std::string& mac) const;

  std::size_t SilentCount() const;
  // Clocks whose last synchronisation (or never) is more than
  // `thresholdSeconds` before `now`; silent clocks count by what they last
  // reported.
  std::size_t NotSynchronisedCount(std::int64_t thresholdSeconds, std::int64_t now) const;

 private:
  std::vector<SiteClock> clocks_;
  // (serial, MAC) -> index in clocks_: a refresh of hundreds of clocks looks
  // each one up.
  std::map<std::pair<std::string, std::string>, std::size_t> index_;
};

// A synchronisation older than the threshold, or none at all.
bool SyncTooOld(std::uint32_t lastSync, std::int64_t thresholdSeconds, std::int64_t now);

// "612 clocks · 3 silent · 7 not synchronised for 24 h" ("1 clock", and the
// threshold in hours).
std::string SummaryText(std::size_t clocks, std::size_t silent, std::size_t notSynchronised, int thresholdHours);

// RFC 4180 text: a header row, then the rows; cells holding a comma, a double
// quote or a line break are quoted, quotes doubled; lines end in CR LF.
std::string CsvText(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows);

}  // namespace marindo
