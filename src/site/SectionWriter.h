#pragma once

// Reading and writing whole sections of one clock's settings over the link:
// the same queries and modify frames as the windows' pages, for marindo-cli's
// apply, restore and show and for the site view's actions. Safe to use from
// many threads at once while the link runs concurrently, one clock per thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "clocks/ClockNames.h"
#include "link/ClockLink.h"
#include "platform/CodePage.h"
#include "settings/SectionPlan.h"
#include "settings/SettingsJson.h"

namespace marindo {

// What a dry run found a section would change, and the frame it would send.
struct PlannedSection {
  std::string section;
  std::vector<FieldChange> changes;
  std::string frame;  // hex
};

// What became of one section at one clock.
struct SectionOutcome {
  Section section = Section::Basic;
  // "Modify success!", "Modify failed!", "No response from 10.0.0.7!", the
  // refusal of the file's values for this clock, "not sent" after a stop, or
  // for a plan "no change" / "1 change" / "3 changes".
  std::string text;
  bool ok = false;
  bool silent = false;  // the clock left a query or the modify unanswered
};

class SectionWriter {
 public:
  SectionWriter(ClockLink& link, CodePage codePage);

  // Asks the clock the section's queries (up to three tries each); false when
  // one went unanswered.
  bool ReadSection(std::uint32_t ip, Section section);
  // The unicast search, so that the record's identity is fresh; false when
  // that clock did not answer.
  bool SearchOne(std::uint32_t ip);
  // The clock's identity (IdentityJson) with each section of `sections` it
  // answered, in order: what `show` prints and `backup` saves. A clock that
  // left a section's queries unanswered is not asked the rest, which would
  // cost the whole budget again for the same answer; nor is one once `stop`
  // says so. Nothing for an address without a record.
  std::optional<Json> ReadClock(std::uint32_t ip, const std::vector<Section>& sections, const ClockNames& names,
                                const std::function<bool()>& stop = {});

  // Reads the section and writes `fields` (already checked) over it. The
  // display settings' answer carries no verdict, so they are read back and
  // compared.
  SectionOutcome Write(std::uint32_t ip, Section section, const Json& fields);
  // Reads the section and plans its frame without sending it; `plan` gets the
  // section's changes when the outcome is ok.
  SectionOutcome Plan(std::uint32_t ip, Section section, const Json& fields, PlannedSection& plan);
  // Every writable section of `clock` in write order, or with `plans` their
  // plans only. After a section the clock left unanswered the rest are not
  // sent (they would cost the whole budget again); once `stop` says so, no
  // further section starts and each left is "not sent".
  std::vector<SectionOutcome> WriteAll(std::uint32_t ip, const Json& clock,
                                       std::vector<PlannedSection>* plans = nullptr,
                                       const std::function<bool()>& stop = {});

 private:
  // The clock's section as it holds it now, and the frame that lays
  // `fields` over it.
  struct Built {
    ClockRecord record;
    ClockFrame frame;
  };
  // Reads the section and builds its frame; the outcome instead when the
  // clock is silent or the fields cannot go to it.
  std::variant<Built, SectionOutcome> ReadAndBuild(std::uint32_t ip, Section section, const Json& fields);
  SectionOutcome VerifyDisplay(std::uint32_t ip, const ClockFrame& sent);

  ClockLink& link_;
  CodePage codePage_;
};

inline constexpr const char* kNotSent = "not sent";

}  // namespace marindo
