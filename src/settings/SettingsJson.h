#pragma once

// A clock's settings as named JSON fields, section by section: what
// `marindo-cli show --json` prints, what `backup` saves and what `apply` and
// `restore` read back. Writing a section lays the file's fields over the
// clock's current settings and builds the same modify frame the windows build
// from the same values, with the same codecs.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "clocks/ClockRecord.h"
#include "link/ClockFrame.h"
#include "platform/CodePage.h"
#include "settings/BasicSettings.h"
#include "settings/BellEntry.h"
#include "settings/OtherFrames.h"
#include "settings/ServerFrame.h"
#include "settings/SettingsLists.h"

namespace marindo {

// Keys keep the order they were written in, so that what we print reads in
// the order of the windows' pages.
using Json = nlohmann::ordered_json;

enum class Section { Basic, Ntp, Display, Text, Bells, System };
inline constexpr std::array<Section, 6> kAllSections{Section::Basic, Section::Ntp,  Section::Display,
                                                     Section::Text,  Section::Bells, Section::System};

// "basic", "ntp", "display", "text", "bells", "system".
std::string_view SectionName(Section section);
std::optional<Section> SectionNamed(std::string_view name);
// Every section but "system", which holds only what the clock reports.
bool SectionWritable(Section section);
// The query codes whose replies fill the section, in the order the windows send
// them: basic 0x02; ntp 0x03; display 0x05; text 0x0A; bells 0x04; system 0x10
// (new-platform clocks only; the caller skips it for others).
std::vector<std::uint8_t> SectionQueries(Section section);

// The section decoded from the record. Schema (every key always present unless
// said otherwise):
//
// basic:   {"timeFormat": 12|24,
//           "zone": "UTC +5:45"            (the zone list's entry, trailing blank
//                                           removed; null when the clock reports a
//                                           zone the list has no entry for),
//           "addressing": "static"|"dynamic",
//           "ipAddress", "subnetMask", "gateway", "dnsServer": dotted text,
//           "dst": {"enabled": bool,
//                   "start": {"hour": 0-23, "week": "First".."Fifth"|"Last",
//                             "weekday": "Mon".."Sun", "month": "Jan".."Dec"},
//                   "end": same}           (start/end present only when enabled; a
//                                           value with no list entry is null),
//           "energySaving": {"enabled": bool, "from": 0-23, "to": 0-23,
//                            "display": "dim"|"close"}   (from/to/display only
//                                           when enabled),
//           "brightness": "OFF"|"Dim"|"Normal"|"Bright"|"Brilliant"|"Auto"
//                                          (null for a value beyond the table)}
// ntp:     {"mode": "addresses", "servers": [5 dotted texts]} or
//          {"mode": "names", "names": [2 texts, UTF-8]}
// display: {"countdownStart": {"hour": 0-23, "minute": 0-59, "second": 0-59},
//           "countdownDuration": {"hours": 0-9, "minutes": 0-59, "seconds": 0-59},
//           "sensor": bool                 (read only),
//           "temperature": "-5.3°C", "humidity": "45.6 %"   (read only; only with
//                                           a sensor),
//           "unit": "C"|"F"                (only with a sensor),
//           "timeOnly": bool, "timeSeconds": 0-15, "humitureSeconds": 0-15
//                                          (only with a sensor; the two
//                                           durations only when timeOnly is false),
//           "radio": {"on": bool, "id": 0-59}}
// text:    {"mode": "roll"|"alternate", "alternateSeconds": 0-127 (only for
//           alternate), "text": UTF-8, "limit": 32|64 (read only)}
// bells:   array of 30 objects in bell order:
//          {"bell": 1-30, "enabled": bool, "time": "HH:MM:SS",
//           "days": ["Sun", "Mon", ...] (in week order, Sunday first),
//           "duration": 0 (not set) | 3-15}
//           (a time part the lists do not offer prints as null in place of the text)
// system:  {"newPlatform": bool, "uptimeDays": number} (read only)
Json SectionToJson(const ClockRecord& record, Section section, CodePage cp);

// Checks one section of a settings file against the schema, without any clock:
// every key known, of its type, every number and name in its range. Read-only
// keys are allowed (and ignored by BuildSectionFrame). Any subset of a
// section's keys may be given; in "bells" each entry names its "bell" and may
// give any subset of the other keys. Each problem is one message that starts
// with the key's path, e.g. `basic.zone: "UTC +15" is not a time zone` or
// `bells[3].time: "25:00:00" is not a time of day`. Empty when all is well.
std::vector<std::string> CheckSectionJson(Section section, const Json& fields);

// The modify frame of a writable section for a clock whose record holds its
// current settings (the section's queries have been answered), with `fields`
// (already checked) laid over them. The frame is the one the windows send when
// their page shows the record and the operator changes exactly those fields.
// Instead of a frame, a message when the result cannot go to this clock as
// the file means it: e.g. a text longer than this clock's field, a static
// address that the windows refuse, or a value the windows cannot write and
// would silently replace (brightness "Auto", a zone or DST value with no list
// entry) unless the file gives a new one.
std::variant<ClockFrame, std::string> BuildSectionFrame(const ClockRecord& current, Section section,
                                                        const Json& fields, CodePage cp);

}  // namespace marindo
