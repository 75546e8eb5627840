#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "clocks/ClockRecord.h"
#include "link/CommandCodes.h"

namespace marindo {

// The basic settings of a clock (modify code 0x06, same layout as the reply to
// query 0x02) and the texts the "Basic  Info" tab shows them with, as plain
// values, so that every byte can be checked without any window.

inline constexpr std::size_t kBasicPayloadSize = wire::basic::kSize;
using BasicPayload = std::array<std::uint8_t, kBasicPayloadSize>;

// The position in this table is the brightness on the wire. "Auto" is the
// clock's own choice: the operator's list offers only the first five.
inline constexpr std::array<std::string_view, 6> kBrightnessNames{"OFF",    "Dim",       "Normal",
                                                                  "Bright", "Brilliant", "Auto"};
inline constexpr std::size_t kBrightnessChoices = 5;

// "%d.%02d": major 1, minor 5 give "1.05".
std::string FormatFirmwareVersion(std::uint8_t major, std::uint8_t minor);
// The clock's last synchronisation in the PC's local time, "%Y-%m-%d %H:%M:%S".
std::string FormatSyncTime(std::uint32_t secondsSince1970);

// The zone as the zone list writes it, without the trailing blank that pads
// one-digit whole hours: "UTC -9", "UTC +5:45", "UTC  0" (for zero whatever
// the sign). Empty for a minutes code the list has no entry for.
std::string ZoneText(const ClockRecord& record);
std::string_view TrimTrailingBlanks(std::string_view text);
// p[1] of the payload for an entry of the zone list: sign bit 7, hours in
// bits 6-3, minutes code in bits 2-1. Empty text gives 0.
std::uint8_t ZoneByte(std::string_view zoneEntry);

// The clocks' encoding of "off": a DST rule whose start and end months are
// equal and either none (0) or with equal ordinals; an energy-saving period
// that starts and ends at the same hour.
bool DstIsOn(const ClockRecord& record);
bool EnergySavingIsOn(const ClockRecord& record);

// Numbers of the list names, compared exactly: "Jan".."Dec" 1-12,
// "Mon".."Sun" 1-7, "First".."Fifth" 1-5 and "Last" 6, brightness names by
// their position among the operator's five. Any other text has no number.
std::optional<std::uint8_t> MonthNumber(std::string_view name);
std::optional<std::uint8_t> WeekdayNumber(std::string_view name);
std::optional<std::uint8_t> OrdinalNumber(std::string_view name);
std::optional<std::uint8_t> BrightnessNumber(std::string_view name);

// A number picked in a list, read as decimal text; empty or other text is 0.
std::uint32_t DecimalValue(std::string_view text);

// One row of the DST rule as the lists show it; an empty text is a list
// without a selection.
struct DstRowTexts {
  std::string hour;
  std::string ordinal;
  std::string weekday;
  std::string month;
};

// Everything the page's controls hold that goes into the frame. Addresses
// are host order; a blank address field reads as 0.
struct BasicForm {
  bool hour24 = false;
  std::string zone;  // text of the selected zone entry
  bool dynamicIp = false;
  bool staticIp = false;
  std::uint32_t ipAddress = 0;
  std::uint32_t subnetMask = 0;
  std::uint32_t gateway = 0;
  std::uint32_t dnsServer = 0;
  // Some address field that goes out is only partly filled in.
  bool partialAddress = false;
  // The energy-saving check box. The frame takes the period from the hour
  // lists alone: an off period leaves them empty and goes out as 0 to 0.
  bool energySaving = false;
  bool displayClose = false;
  std::string energyFrom;
  std::string energyTo;
  std::string brightness;
  bool dstEnabled = false;
  DstRowTexts dstStart;
  DstRowTexts dstEnd;
};

// The numbers of one DST row as the clock reports them.
struct DstRowValues {
  std::uint8_t hour;
  std::uint8_t week;
  std::uint8_t weekday;
  std::uint8_t month;
};
// The row as its lists show it: a number the list does not offer leaves it
// without a selection.
DstRowTexts DstRowFromValues(const DstRowValues& values);

// The zone list's entry for the clock's zone; nothing when the list has none.
std::optional<std::string_view> ZoneEntryOf(const ClockRecord& record);

// The basic settings of a clock as the page shows them: a value that a list
// does not offer leaves the list without a selection and is read back as the
// page reads an empty list. Unchanged, it encodes to the frame that writes the
// clock's settings back as they are.
BasicForm BasicFormFromRecord(const ClockRecord& record);

// Why the operator's input cannot go to the clock.
enum class BasicRefusal { InvalidIpAddress, NoAddressingMode };
std::string_view RefusalMessage(BasicRefusal refusal);

// The 27-byte payload of modify 0x06 (command code first), or the refusal.
std::variant<BasicPayload, BasicRefusal> EncodeBasicForm(const BasicForm& form);

}  // namespace marindo
