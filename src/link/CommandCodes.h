#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace marindo {

// Every command code of the clock protocol and the layout of every block, in
// one place: the link, the settings models, the tests and the benches read
// them from here. Payload byte 0 is the command code; offsets below count
// from it.

namespace code {
inline constexpr std::uint8_t kSearch = 0x01;
inline constexpr std::uint8_t kQueryBasic = 0x02;
inline constexpr std::uint8_t kQueryServers = 0x03;
inline constexpr std::uint8_t kQueryBells = 0x04;
inline constexpr std::uint8_t kQueryDisplay = 0x05;
inline constexpr std::uint8_t kModifyBasic = 0x06;
inline constexpr std::uint8_t kModifyServers = 0x07;
inline constexpr std::uint8_t kModifyBells = 0x08;
inline constexpr std::uint8_t kModifyDisplay = 0x09;
inline constexpr std::uint8_t kQueryText = 0x0A;
inline constexpr std::uint8_t kModifyText = 0x0B;
inline constexpr std::uint8_t kUpgradeAnnouncement = 0x0C;
inline constexpr std::uint8_t kAnswerOnly = 0x0D;  // a clock may send it; nothing to do
inline constexpr std::uint8_t kStatusReport = 0x0E;
inline constexpr std::uint8_t kModifyResult = 0x0F;
inline constexpr std::uint8_t kQuerySystem = 0x10;
inline constexpr std::uint8_t kModifyResultNew = 0x11;
inline constexpr std::uint8_t kLast = kModifyResultNew;
}  // namespace code

// What the frame handler does with a received command code.
enum class ReplyHandling {
  Search,        // becomes or refreshes a record
  Stored,        // a settings reply, stored into its sender's record
  ModifyResult,  // shown to the operator
  Ignored,       // answers that need nothing
  Dropped,       // codes the clocks do not use
};

// One command code: its name, what a received frame of it gets, and, for a
// request the tool sends, the codes that answer it (`answersAny`: any frame
// from the clock asked does).
struct Command {
  std::uint8_t code = 0;
  std::string_view name;
  ReplyHandling handling = ReplyHandling::Dropped;
  bool sent = false;
  bool answersAny = false;
  std::array<std::uint8_t, 3> answers{};  // 0 marks an unused place
};

inline constexpr std::array<Command, code::kLast> kCommands{{
    {code::kSearch, "search", ReplyHandling::Search, true, false, {code::kSearch, 0, 0}},
    {code::kQueryBasic, "basic settings", ReplyHandling::Stored, true, false, {code::kQueryBasic, 0, 0}},
    {code::kQueryServers, "NTP servers", ReplyHandling::Stored, true, false, {code::kQueryServers, 0, 0}},
    {code::kQueryBells, "bell schedule", ReplyHandling::Stored, true, false, {code::kQueryBells, 0, 0}},
    {code::kQueryDisplay, "display settings", ReplyHandling::Stored, true, false, {code::kQueryDisplay, 0, 0}},
    {code::kModifyBasic,
     "modify basic settings",
     ReplyHandling::ModifyResult,
     true,
     false,
     {code::kModifyBasic, code::kModifyResult, code::kModifyResultNew}},
    {code::kModifyServers,
     "modify NTP servers",
     ReplyHandling::ModifyResult,
     true,
     false,
     {code::kModifyServers, code::kModifyResult, code::kModifyResultNew}},
    {code::kModifyBells,
     "modify bell schedule",
     ReplyHandling::ModifyResult,
     true,
     false,
     {code::kModifyBells, code::kModifyResult, code::kModifyResultNew}},
    {code::kModifyDisplay, "modify display settings", ReplyHandling::Ignored, true, true, {}},
    {code::kQueryText, "display text", ReplyHandling::Stored, true, false, {code::kQueryText, 0, 0}},
    {code::kModifyText,
     "modify display text",
     ReplyHandling::ModifyResult,
     true,
     false,
     {code::kModifyText, code::kModifyResult, code::kModifyResultNew}},
    {code::kUpgradeAnnouncement, "firmware upload announcement", ReplyHandling::Ignored, true, true, {}},
    {code::kAnswerOnly, "no action", ReplyHandling::Ignored, false, false, {}},
    {code::kStatusReport, "status report", ReplyHandling::Stored, false, false, {}},
    {code::kModifyResult, "modify result", ReplyHandling::ModifyResult, false, false, {}},
    {code::kQuerySystem, "system information", ReplyHandling::Stored, true, false, {code::kQuerySystem, 0, 0}},
    {code::kModifyResultNew, "modify result", ReplyHandling::ModifyResult, false, false, {}},
}};

// The table's entry for `code`, or null for a code the clocks do not use.
constexpr const Command* CommandOf(std::uint8_t code) {
  if (code == 0 || code > code::kLast) return nullptr;
  return &kCommands[code - 1U];
}

// The block layouts, one namespace per block.
namespace wire {

// The search reply.
namespace search {
inline constexpr std::size_t kSerial = 1;  // 20 bytes, zero-padded
inline constexpr std::size_t kFirmwareMajor = 21;
inline constexpr std::size_t kFirmwareMinor = 22;
inline constexpr std::size_t kSearchWord = 23;
inline constexpr std::size_t kLastSyncTime = 27;
inline constexpr std::size_t kSyncServer = 31;
inline constexpr std::size_t kRadio = 36;
inline constexpr std::size_t kSize = 37;
}  // namespace search

// The basic settings: the reply to query 0x02 and modify 0x06 alike.
namespace basic {
inline constexpr std::size_t kZone = 1;   // sign bit 7, hours bits 6-3, minutes code bits 2-1
inline constexpr std::size_t kFlags = 2;  // 24-hour bit 7, dynamic bit 6, brightness bits 5-3
inline constexpr std::size_t kIpAddress = 3;
inline constexpr std::size_t kSubnetMask = 7;
inline constexpr std::size_t kGateway = 11;
inline constexpr std::size_t kDnsServer = 15;
inline constexpr std::size_t kDstStart = 19;  // month; ordinal (high 4) and weekday (low 4); hour
inline constexpr std::size_t kDstEnd = 22;
inline constexpr std::size_t kDstMonth = 0;  // within a DST row
inline constexpr std::size_t kDstWeek = 1;
inline constexpr std::size_t kDstHour = 2;
inline constexpr std::size_t kEnergyFrom = 25;
inline constexpr std::size_t kEnergyTo = 26;  // hour bits 7-3, display-close bit 2
inline constexpr std::size_t kSize = 27;

inline constexpr std::uint8_t kZoneNegativeBit = 0x80;
inline constexpr unsigned kZoneHoursShift = 3;
inline constexpr std::uint8_t kZoneHoursMask = 0x0F;
inline constexpr unsigned kZoneMinutesShift = 1;
inline constexpr std::uint8_t kZoneMinutesMask = 0x03;
inline constexpr std::uint8_t kHour24Bit = 0x80;
inline constexpr std::uint8_t kDynamicIpBit = 0x40;
inline constexpr unsigned kBrightnessShift = 3;
inline constexpr std::uint8_t kBrightnessMask = 0x07;
inline constexpr unsigned kEnergyToShift = 3;
inline constexpr std::uint8_t kDisplayCloseBit = 0x04;
}  // namespace basic

// The NTP servers: five addresses or two names of 30 bytes.
namespace servers {
inline constexpr std::size_t kForm = 1;  // 0 addresses, otherwise names
inline constexpr std::size_t kFirst = 2;
inline constexpr std::size_t kNameBytes = 30;
inline constexpr std::size_t kAddressSize = 22;
inline constexpr std::size_t kNameSize = 62;
}  // namespace servers

// The bell schedule: 30 bells of 6 bytes after the code.
namespace bells {
inline constexpr std::size_t kFirst = 1;
}  // namespace bells

// The display settings.
namespace display {
inline constexpr std::size_t kCountdownStart = 1;     // hour, minute, second
inline constexpr std::size_t kCountdownDuration = 4;  // hours, minutes, seconds
inline constexpr std::size_t kTempUnit = 7;
inline constexpr std::size_t kTemperature = 8;  // sign bit 7, whole degrees bits 6-0
inline constexpr std::size_t kTemperatureTenths = 9;  // high 4
inline constexpr std::size_t kHumidity = 10;          // whole percent bits 7-1
inline constexpr std::size_t kHumidityTenths = 11;    // high 4
inline constexpr std::size_t kTimes = 12;       // time (high 4), third (low 4)
inline constexpr std::size_t kHumitureTime = 13;  // high 4
inline constexpr std::size_t kSize = 14;
// The modify (0x09) has no readings: the radio byte takes the temperature's place.
inline constexpr std::size_t kModifyRadio = 8;
}  // namespace display

// The display text: a lead byte, the mode byte, then the text.
namespace text {
inline constexpr std::size_t kLead = 1;
inline constexpr std::size_t kMode = 2;  // alternate bit 7, seconds bits 6-0
inline constexpr std::size_t kHeader = 3;
}  // namespace text

// The status report: four 32-bit values and one byte.
namespace status {
inline constexpr std::size_t kValues = 1;
inline constexpr std::size_t kLast = 17;
inline constexpr std::size_t kSize = 18;
}  // namespace status

// The system information of new-platform clocks.
namespace system {
inline constexpr std::size_t kStatus = 1;
inline constexpr std::size_t kExtra = 2;
inline constexpr std::size_t kUptimeDays = 3;  // 16 bits
inline constexpr std::size_t kSize = 5;
}  // namespace system

// A modify result: 1 means the clock applied the settings.
namespace result {
inline constexpr std::size_t kOutcome = 1;
inline constexpr std::uint8_t kApplied = 1;
}  // namespace result

}  // namespace wire

}  // namespace marindo
