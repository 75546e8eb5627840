#pragma once

// The work behind the site view's actions, run on a worker thread through
// the concurrent link: many clocks in flight, each clock's exchanges in
// order. No Qt here; each task reports per clock through callbacks, which
// the window turns into events on its own thread.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "clocks/ClockNames.h"
#include "link/ClockLink.h"
#include "platform/CodePage.h"
#include "site/ClockIdentity.h"
#include "site/SectionWriter.h"
#include "settings/SettingsJson.h"
#include "tftp/TftpClient.h"

namespace marindo {

struct SiteTaskContext {
  ClockLink& link;
  const ClockNames& names;
  CodePage codePage;
  std::size_t width;      // clocks in flight at once
  std::size_t transfers;  // firmware uploads at once
  const std::atomic<bool>& stop;  // no further exchange starts once set
  TftpTimings tftpTimings{};
};

// A clock's result column while its turn runs.
inline constexpr const char* kReading = "reading…";
inline constexpr const char* kWriting = "writing…";

// The text of one clock's result column and whether it all went well.
struct ClockOutcome {
  std::string text;
  bool ok = false;
};

// Called from the worker threads, several at once.
using ClockProgress = std::function<void(std::size_t target, const std::string& text)>;

// The broadcast search plus a sweep of `sweep`, then every clock's lookups:
// what each clock that answered reported. `found` is told how many clocks
// are known so far. `complete` is false when a stop cut the refresh short.
struct SiteRefresh {
  std::vector<ClockReading> heard;
  bool complete = true;
};
SiteRefresh RefreshSite(const SiteTaskContext& context, const std::vector<std::uint32_t>& sweep, int rate,
                        const std::function<void(std::size_t found)>& found);

// One clock and the settings to write to it.
struct SiteTarget {
  std::uint32_t ip = 0;
  const Json* settings = nullptr;  // a clock object
};

// What writing would change at one clock, read with queries only.
struct ClockPlan {
  std::vector<SectionOutcome> outcomes;
  std::vector<PlannedSection> sections;
  // Every section was read and can be written as the settings say.
  bool Writable() const;
  // At least one field would change.
  bool Changes() const;
};

std::vector<ClockPlan> PlanSite(const SiteTaskContext& context, const std::vector<SiteTarget>& targets,
                                const ClockProgress& progress);
std::vector<ClockOutcome> WriteSite(const SiteTaskContext& context, const std::vector<SiteTarget>& targets,
                                    const ClockProgress& progress);

// Every section of each clock, as the site file keeps it: the clock objects
// in target order (a silent clock with what could be read) and each clock's
// outcome.
struct SiteBackup {
  std::vector<Json> clocks;
  std::vector<ClockOutcome> outcomes;
};
SiteBackup BackUpSite(const SiteTaskContext& context, const std::vector<std::uint32_t>& ips,
                      const ClockProgress& progress);

// The announcement, then the file by TFTP, at most `transfers` at once;
// progress reports the upload's percentage.
std::vector<ClockOutcome> UpgradeSite(const SiteTaskContext& context, const std::vector<std::uint32_t>& ips,
                                      const std::string& firmwarePath, const ClockProgress& progress);

// One line for a clock's section outcomes: the text alone when every section
// says the same, else "ntp: Modify success!; display: Modify failed!".
ClockOutcome OutcomeOf(const std::vector<SectionOutcome>& outcomes);

}  // namespace marindo
