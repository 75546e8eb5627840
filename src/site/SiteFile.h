#pragma once

// The JSON files the front ends read and write: one clock's settings (what
// `apply` and the site view's "Apply section…" take) and the site file of
// backup and restore, which marindo-cli and the site view both read and write.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "clocks/ClockRecord.h"
#include "platform/CodePage.h"
#include "settings/SettingsJson.h"

namespace marindo {

inline constexpr const char* kSiteFormat = "marindo-site";
inline constexpr int kSiteVersion = 1;

// Sections go to a clock in this order: addressing last, since a new address
// takes effect at once and the clock would not hear the rest.
inline constexpr std::array<Section, 5> kWriteOrder{Section::Ntp, Section::Display, Section::Text, Section::Bells,
                                                    Section::Basic};

// Keys of a clock object that describe the clock rather than set it.
bool IsIdentityKey(std::string_view key);
// Every problem of one clock object of a settings file, each prefixed with `where`.
std::vector<std::string> CheckClockObject(const Json& clock, const std::string& where);
// The sections the clock object writes, in write order.
std::vector<Section> WritableSectionsIn(const Json& clock);

// A MAC as people write it: the hyphens of the System page or colons, either case.
std::string NormalMac(std::string text);
bool SameMac(const std::array<std::uint8_t, 6>& mac, const std::string& text);
// A saved clock object is this clock: the same serial and MAC.
bool IsSavedClock(const Json& saved, const ClockRecord& record, CodePage cp);

// The file as JSON, or why it cannot be read ("PATH: cannot be read", "PATH:
// malformed JSON: ...").
std::variant<Json, std::string> ReadJsonFile(const std::filesystem::path& path);
// One clock's settings: a clock object, or a site file holding exactly one
// clock. The clock object, or every problem on a line of its own, each
// starting with the path.
std::variant<Json, std::string> LoadClockSettings(const std::filesystem::path& path);
// A site file: the document, or every problem on a line of its own, each
// starting with the path.
std::variant<Json, std::string> LoadSiteFile(const std::filesystem::path& path);
// A clock's own static address cannot go to several clocks: it would give
// them all one address and cut them off. The problem, naming `file`, or nothing.
std::optional<std::string> OwnAddressProblem(const Json& clock, const std::string& file);
// The site file around `clocks` (each an IdentityJson with its sections).
Json SiteDocument(Json clocks);

}  // namespace marindo
