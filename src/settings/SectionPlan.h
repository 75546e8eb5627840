#pragma once

// What a modify frame would change on a clock, field by field, before it is
// sent: the clock's current record with the frame laid over it, both written
// out as the section's JSON and compared leaf by leaf. The command line's
// --dry-run prints it, and the site view's confirmation is meant to show the
// same list, so that both agree on what "will change" means.

#include <optional>
#include <string>
#include <vector>

#include "clocks/ClockRecord.h"
#include "link/ClockFrame.h"
#include "platform/CodePage.h"
#include "settings/SettingsJson.h"

namespace marindo {

// One field that would change. `field` is its path as the JSON names it:
// "basic.zone", "basic.dst.start.hour", "ntp.servers[2]", "bells[3].time"
// (bells[3] is bell 4). A field that would appear or vanish (DST's start once
// DST is switched on) has no `before` or no `after`.
struct FieldChange {
  std::string field;
  std::optional<Json> before;
  std::optional<Json> after;
};

// The record as the clock would report it once it took `frame`, a modify
// frame of one writable section; nothing for a frame that is no such modify
// or is too short for its layout. Fields the frame does not carry (the
// sensor's readings, the text's lead byte and length) keep their values.
std::optional<ClockRecord> RecordAfterModify(const ClockRecord& current, const ClockFrame& frame);

// Every field of `section` that `frame` would change, in the order the section
// prints its fields; empty when nothing changes or the frame is not one of
// that section's modifies.
std::vector<FieldChange> PlanSection(const ClockRecord& current, Section section, const ClockFrame& frame,
                                     CodePage cp);

// The leaves that differ between two JSON values, paths starting at `path`.
// A bell's days are one leaf: they are a set, not a row of places.
std::vector<FieldChange> JsonChanges(const std::string& path, const Json& before, const Json& after);

// "FIELD: OLD → NEW", values as JSON, a missing one as "(none)".
std::string FieldChangeText(const FieldChange& change);

// The frame's bytes in lower-case hexadecimal, no separators.
std::string FrameHex(const ClockFrame& frame);

}  // namespace marindo
