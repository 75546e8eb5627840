#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "clocks/ClockRecord.h"
#include "link/ClockFrame.h"
#include "link/CommandCodes.h"
#include "platform/CodePage.h"
#include "settings/SettingsLists.h"

namespace marindo {

// The display settings modify (code 0x09), the display text modify (code
// 0x0B) and the humiture texts, as plain values, so that the bytes can be
// checked without any window.


// The text frame comes in two sizes; which one a clock takes is its record's
// longText flag.
enum class DisplayTextForm { Short, Long };

// Text bytes of the form's field on the wire: 32 or 64.
std::size_t DisplayTextFieldBytes(DisplayTextForm form);
// Characters the text field takes for a clock: 64 with longText, else 32.
int DisplayTextLimit(bool longText);
// The counter beside the text field: "12/32".
std::string DisplayTextCounter(int length, int limit);

// What the display page's controls hold, as the display frame reads it.
// Numbers are the decimal values of the controls' texts, not yet masked.
struct DisplayControls {
  // Count-down start hour, minute, second, then duration hours, minutes,
  // seconds.
  std::array<long, 6> countdown{};
  // The page shows a temperature (the clock has a sensor).
  bool showsTemperature = false;
  bool celsius = false;
  bool fahrenheit = false;
  // "Display Time Only" answered "Yes".
  bool timeOnly = false;
  long timeDuration = 0;
  long humitureDuration = 0;
  // The selected radio ID, nothing when the list has no selection.
  std::optional<long> radioId;
  bool radioOpen = false;
  // The clock has a humiture sensor: without one the page offers the time
  // only. A sensor reporting a unit the page does not know still offers the
  // choice between time only and alternating, but no temperature.
  bool sensor = false;
  // Which lists have a selection. A value a list does not offer shows as no
  // selection and goes out as 0; the frames read the numbers alone.
  std::array<bool, 6> countdownSelected{};
  bool timeDurationSelected = false;
  bool humitureDurationSelected = false;

  friend bool operator==(const DisplayControls&, const DisplayControls&) = default;
};

// 20 bytes: count-down, unit, radio byte and the two display durations.
ClockFrame BuildDisplayFrameFrom(const DisplayControls& controls);

// 42 or 74 bytes. `roll` false means alternate, with `alternateSeconds` (the
// decimal value of its list's text) masked to seven bits. The text is UTF-8;
// its code-page form is cut at the last whole character that fits the field,
// and the frame's final byte stays zero.
ClockFrame BuildTextFrameFrom(DisplayTextForm form, bool roll, long alternateSeconds, std::string_view text,
                              CodePage cp);

// "-5.3°C" (UTF-8): whole degrees signed, tenths, then the unit's sign ("°C"
// for 1, "°F" for 2, nothing for other units).
std::string TemperatureText(const Humiture& humiture, std::uint8_t unit);
// "45.6 %".
std::string HumidityText(const Humiture& humiture);
// A clock without a sensor reports unit 0, or a humidity of exactly 0.0 %.
bool HasHumitureSensor(std::uint8_t unit, std::string_view humidityText);

// The number a typed or picked text reads as, as atoi reads it: leading
// blanks and a sign allowed, digits up to the first other character, 0 when
// there are none.
long TypedNumber(std::string_view text);

// The display text the clock reported, in UTF-8.
std::string DisplayTextOf(const ClockRecord& record, CodePage cp);

// The count-down lists of the display page, start hour, minute, second, then
// duration hours, minutes, seconds.
inline constexpr std::array<NumberList, 6> kCountdownLists{kHourList,         kMinuteList, kSecondList,
                                                           kDurationHoursList, kMinuteList, kSecondList};
// The record's count-down byte of a slot of kCountdownLists.
std::uint8_t CountdownValue(const ClockRecord& record, std::size_t slot);
// The clock reports a humiture sensor.
bool RecordHasSensor(const ClockRecord& record);

// The display section as the page shows it: without a sensor "Display Time
// Only" is "Yes"; a unit the page does not know shows no temperature.
DisplayControls DisplayControlsFromRecord(const ClockRecord& record);

// The text section as the page shows it.
struct TextControls {
  bool roll = true;
  long alternateSeconds = 0;  // the value of the seconds list's text
  std::string text;           // UTF-8
  // The seconds list has a selection: a period it does not offer shows as
  // none. The frame reads `alternateSeconds` alone.
  bool alternateSecondsSelected = false;

  friend bool operator==(const TextControls&, const TextControls&) = default;
};
TextControls TextControlsFromRecord(const ClockRecord& record, CodePage cp);

}  // namespace marindo
