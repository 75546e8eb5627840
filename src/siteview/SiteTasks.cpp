#include "siteview/SiteTasks.h"

#include <algorithm>
#include <mutex>
#include <semaphore>
#include <string_view>

#include "link/SiteEngine.h"
#include "settings/FirmwareUpgrade.h"
#include "settings/ModifyMessages.h"
#include "site/SiteFile.h"

namespace marindo {
namespace {

constexpr const char* kSaved = "saved";
constexpr const char* kNotRead = "not read";
constexpr std::uint64_t kTftpBlockBytes = 512;
constexpr std::size_t kRefreshJobs = 2;

// A clock the last refresh did not hear has no record yet; the unicast
// search makes one when it answers.
bool EnsureRecord(SectionWriter& writer, ClockLink& link, std::uint32_t ip) {
  return link.Snapshot(ip).has_value() || writer.SearchOne(ip);
}

ClockOutcome Silent(std::uint32_t ip) { return {NoResponseMessage(ip), false}; }

std::vector<SectionOutcome> SilentSections(std::uint32_t ip, const Json& settings) {
  std::vector<SectionOutcome> outcomes;
  for (Section section : WritableSectionsIn(settings)) outcomes.push_back({section, NoResponseMessage(ip), false, true});
  return outcomes;
}

std::vector<SectionOutcome> NotSentSections(const Json& settings) {
  std::vector<SectionOutcome> outcomes;
  for (Section section : WritableSectionsIn(settings)) outcomes.push_back({section, kNotSent, false, false});
  return outcomes;
}

// The sections of one target, written or (with `plans`) planned.
std::vector<SectionOutcome> SectionsOf(const SiteTaskContext& context, const SiteTarget& target,
                                       std::vector<PlannedSection>* plans) {
  if (context.stop) return NotSentSections(*target.settings);
  SectionWriter writer(context.link, context.codePage);
  if (!EnsureRecord(writer, context.link, target.ip)) return SilentSections(target.ip, *target.settings);
  return writer.WriteAll(target.ip, *target.settings, plans, [&context] { return context.stop.load(); });
}

// The upload's percentage in the clock's result column, told only when it
// moves.
class PercentProgress : public UploadProgress {
 public:
  PercentProgress(std::size_t target, const ClockProgress& progress) : target_(target), progress_(progress) {}
  void Start() override { Tell(0); }
  void Block(std::uint64_t block, std::uint64_t fileLength) override {
    if (fileLength == 0) return;
    Tell(static_cast<int>(std::min<std::uint64_t>(100, block * kTftpBlockBytes * 100 / fileLength)));
  }
  void Finish(std::uint64_t, std::uint64_t) override {}

 private:
  void Tell(int percent) {
    if (percent == told_) return;
    told_ = percent;
    progress_(target_, "uploading " + std::to_string(percent) + " %");
  }

  std::size_t target_;
  const ClockProgress& progress_;
  int told_ = -1;
};

}  // namespace

SiteRefresh RefreshSite(const SiteTaskContext& context, const std::vector<std::uint32_t>& sweep, int rate,
                        const std::function<void(std::size_t found)>& found) {
  ClockLink& link = context.link;
  link.ClearClocks();
  std::size_t complete = 0;
  // A refresh's job per clock only waits for the lookups the link runs on
  // its own threads: a few jobs count them as well as many, and leave the
  // processor to the window and the lookups.
  SiteEngine(link, std::min<std::size_t>(context.width, kRefreshJobs))
      .RunWhile(
          [&] {
            link.SearchBroadcast();
            if (!sweep.empty() && !context.stop) link.Sweep(sweep, rate);
          },
          [&] { return link.ClockCount(); }, [&](std::size_t i) { link.CompleteRecord(link.ClockIpAt(i)); },
          [&](std::size_t) {
            if (found) found(++complete);
          });
  SiteRefresh refresh;
  refresh.complete = !context.stop;
  for (const ClockRecord& record : link.SnapshotAll()) {
    refresh.heard.push_back(ReadingOf(record, context.names.Lookup(&record), context.codePage, false));
  }
  return refresh;
}

bool ClockPlan::Writable() const {
  return !outcomes.empty() && std::ranges::all_of(outcomes, [](const SectionOutcome& o) { return o.ok; });
}

bool ClockPlan::Changes() const {
  return std::ranges::any_of(sections, [](const PlannedSection& s) { return !s.changes.empty(); });
}

std::vector<ClockPlan> PlanSite(const SiteTaskContext& context, const std::vector<SiteTarget>& targets,
                                const ClockProgress& progress) {
  std::vector<ClockPlan> plans(targets.size());
  SiteEngine(context.link, context.width)
      .Run(targets.size(), [&](std::size_t i) {
        progress(i, kReading);
        plans[i].outcomes = SectionsOf(context, targets[i], &plans[i].sections);
        progress(i, OutcomeOf(plans[i].outcomes).text);
      });
  return plans;
}

std::vector<ClockOutcome> WriteSite(const SiteTaskContext& context, const std::vector<SiteTarget>& targets,
                                    const ClockProgress& progress) {
  std::vector<ClockOutcome> outcomes(targets.size());
  SiteEngine(context.link, context.width)
      .Run(targets.size(), [&](std::size_t i) {
        if (!context.stop) progress(i, kWriting);
        outcomes[i] = OutcomeOf(SectionsOf(context, targets[i], nullptr));
        progress(i, outcomes[i].text);
      });
  return outcomes;
}

SiteBackup BackUpSite(const SiteTaskContext& context, const std::vector<std::uint32_t>& ips,
                      const ClockProgress& progress) {
  SiteBackup backup;
  backup.clocks.resize(ips.size());
  backup.outcomes.resize(ips.size());
  SiteEngine(context.link, context.width).Run(ips.size(), [&](std::size_t i) {
    const std::uint32_t ip = ips[i];
    ClockOutcome& outcome = backup.outcomes[i];
    SectionWriter writer(context.link, context.codePage);
    const auto stop = [&context] { return context.stop.load(); };
    if (stop()) {
      outcome = {kNotRead, false};
    } else if (progress(i, kReading); !EnsureRecord(writer, context.link, ip)) {
      outcome = Silent(ip);
    } else {
      const std::vector<Section> sections(kAllSections.begin(), kAllSections.end());
      backup.clocks[i] = writer.ReadClock(ip, sections, context.names, stop).value_or(Json());
      const bool whole = std::ranges::all_of(
          sections, [&](Section section) { return backup.clocks[i].contains(std::string(SectionName(section))); });
      outcome = whole ? ClockOutcome{kSaved, true} : stop() ? ClockOutcome{kNotRead, false} : Silent(ip);
    }
    progress(i, outcome.text);
  });
  return backup;
}

std::vector<ClockOutcome> UpgradeSite(const SiteTaskContext& context, const std::vector<std::uint32_t>& ips,
                                      const std::string& firmwarePath, const ClockProgress& progress) {
  std::vector<ClockOutcome> outcomes(ips.size());
  std::counting_semaphore<> transfers(static_cast<std::ptrdiff_t>(std::max<std::size_t>(context.transfers, 1)));
  SiteEngine(context.link, context.width).Run(ips.size(), [&](std::size_t i) {
    const std::uint32_t ip = ips[i];
    transfers.acquire();
    if (context.stop) {
      transfers.release();
      outcomes[i] = {kNotSent, false};
      progress(i, kNotSent);
      return;
    }
    // The clock's answer to the announcement does not matter: the upload
    // follows in any case, as from the System page.
    context.link.Exchange(ip, BuildUpgradeAnnouncement());
    PercentProgress percent(i, progress);
    TftpClient tftp(context.codePage, context.tftpTimings);
    const bool uploaded = tftp.UploadFile(ip, firmwarePath, percent) == 0;
    transfers.release();
    outcomes[i] = {uploaded ? kUpgradeSucceeded : kUpgradeFailed, uploaded};
    progress(i, outcomes[i].text);
  });
  return outcomes;
}

ClockOutcome OutcomeOf(const std::vector<SectionOutcome>& outcomes) {
  ClockOutcome outcome{"", !outcomes.empty()};
  const bool same = std::ranges::all_of(outcomes, [&](const SectionOutcome& o) { return o.text == outcomes[0].text; });
  for (const SectionOutcome& section : outcomes) {
    outcome.ok = outcome.ok && section.ok;
    if (same) {
      outcome.text = section.text;
    } else {
      outcome.text += (outcome.text.empty() ? "" : "; ") + std::string(SectionName(section.section)) + ": " + section.text;
    }
  }
  return outcome;
}

}  // namespace marindo
