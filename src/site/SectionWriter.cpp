#include "site/SectionWriter.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <variant>

#include "link/CommandCodes.h"
#include "settings/ModifyMessages.h"
#include "site/ClockIdentity.h"
#include "site/SiteFile.h"

namespace marindo {
namespace {

// Several problems of one section on one result line.
std::string OneLine(std::string text) {
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
    text.replace(at, 1, "; ");
  }
  return text;
}

SectionOutcome Silent(std::uint32_t ip, Section section) {
  return {.section = section, .text = NoResponseMessage(ip), .ok = false, .silent = true};
}

}  // namespace

SectionWriter::SectionWriter(ClockLink& link, CodePage codePage) : link_(link), codePage_(codePage) {}

bool SectionWriter::ReadSection(std::uint32_t ip, Section section) {
  const auto ask = [&](std::uint8_t code) {
    const std::optional<HandledFrame> reply = link_.Query(ip, code);
    return reply && reply->stored;
  };
  if (section == Section::System) {
    const std::optional<ClockRecord> record = link_.Snapshot(ip);
    if (!record) return false;
    if (record->newPlatform && !ask(code::kQuerySystem)) return false;
    // Clocks without a system reply count their days in the text reply.
    const std::optional<ClockRecord> after = link_.Snapshot(ip);
    if (after && after->uptimeDays == 0 && !ask(code::kQueryText)) return false;
    return after.has_value();
  }
  for (std::uint8_t code : SectionQueries(section)) {
    if (!ask(code)) return false;
  }
  return true;
}

// A reply with an empty serial answers, yet makes no record.
bool SectionWriter::SearchOne(std::uint32_t ip) { return link_.SearchUnicast(ip) && link_.Snapshot(ip).has_value(); }

std::optional<Json> SectionWriter::ReadClock(std::uint32_t ip, const std::vector<Section>& sections,
                                            const ClockNames& names, const std::function<bool()>& stop) {
  const std::optional<ClockRecord> identity = link_.Snapshot(ip);
  if (!identity) return std::nullopt;
  Json clock = IdentityJson(*identity, names, codePage_);
  for (Section section : sections) {
    if ((stop && stop()) || !ReadSection(ip, section)) break;
    const std::optional<ClockRecord> record = link_.Snapshot(ip);
    if (!record) break;
    clock[std::string(SectionName(section))] = SectionToJson(*record, section, codePage_);
  }
  return clock;
}

SectionOutcome SectionWriter::VerifyDisplay(std::uint32_t ip, const ClockFrame& sent) {
  // The display frame's answer carries no verdict; what the clock reports
  // afterwards does. The radio byte comes back in the search reply.
  if (!SearchOne(ip) || !ReadSection(ip, Section::Display)) return Silent(ip, Section::Display);
  const std::optional<ClockRecord> record = link_.Snapshot(ip);
  if (!record) return Silent(ip, Section::Display);
  const auto readBack = BuildSectionFrame(*record, Section::Display, Json::object(), codePage_);
  const ClockFrame* held = std::get_if<ClockFrame>(&readBack);
  const bool same = held != nullptr && std::ranges::equal(held->Bytes(), sent.Bytes());
  return {.section = Section::Display, .text = same ? kModifySuccess : kModifyFailed, .ok = same};
}

std::variant<SectionWriter::Built, SectionOutcome> SectionWriter::ReadAndBuild(std::uint32_t ip, Section section,
                                                                              const Json& fields) {
  if (!ReadSection(ip, section)) return Silent(ip, section);
  std::optional<ClockRecord> record = link_.Snapshot(ip);
  if (!record) return Silent(ip, section);
  auto built = BuildSectionFrame(*record, section, fields, codePage_);
  if (auto* refusal = std::get_if<std::string>(&built)) {
    return SectionOutcome{.section = section, .text = OneLine(*refusal)};
  }
  return Built{std::move(*record), std::move(std::get<ClockFrame>(built))};
}

SectionOutcome SectionWriter::Write(std::uint32_t ip, Section section, const Json& fields) {
  auto read = ReadAndBuild(ip, section, fields);
  if (auto* outcome = std::get_if<SectionOutcome>(&read)) return std::move(*outcome);
  const ClockFrame& frame = std::get<Built>(read).frame;
  const ModifyOutcome outcome = link_.SendModify(ip, frame);
  if (outcome == ModifyOutcome::Answered) return VerifyDisplay(ip, frame);
  return {.section = section,
          .text = *ModifyOutcomeMessage(outcome, ip),
          .ok = outcome == ModifyOutcome::Accepted,
          .silent = outcome == ModifyOutcome::NoResponse};
}

SectionOutcome SectionWriter::Plan(std::uint32_t ip, Section section, const Json& fields, PlannedSection& plan) {
  auto read = ReadAndBuild(ip, section, fields);
  if (auto* outcome = std::get_if<SectionOutcome>(&read)) return std::move(*outcome);
  const auto& [record, frame] = std::get<Built>(read);
  plan = {std::string(SectionName(section)), PlanSection(record, section, frame, codePage_), FrameHex(frame)};
  const std::size_t count = plan.changes.size();
  std::string text = count == 0 ? "no change" : std::to_string(count) + (count == 1 ? " change" : " changes");
  return {.section = section, .text = std::move(text), .ok = true};
}

std::vector<SectionOutcome> SectionWriter::WriteAll(std::uint32_t ip, const Json& clock,
                                                    std::vector<PlannedSection>* plans,
                                                    const std::function<bool()>& stop) {
  std::vector<SectionOutcome> outcomes;
  bool silent = false;
  bool stopped = false;
  for (Section section : WritableSectionsIn(clock)) {
    if (silent) {
      outcomes.push_back(Silent(ip, section));
      continue;
    }
    stopped = stopped || (stop && stop());
    if (stopped) {
      outcomes.push_back({.section = section, .text = kNotSent});
      continue;
    }
    const Json& fields = clock[std::string(SectionName(section))];
    if (plans != nullptr) {
      PlannedSection plan;
      outcomes.push_back(Plan(ip, section, fields, plan));
      if (outcomes.back().ok) plans->push_back(std::move(plan));
    } else {
      outcomes.push_back(Write(ip, section, fields));
    }
    silent = outcomes.back().silent;
  }
  return outcomes;
}

}  // namespace marindo
