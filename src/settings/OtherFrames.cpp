#include "settings/OtherFrames.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "settings/SettingsLists.h"

namespace marindo {
namespace {

constexpr std::size_t kDisplayPayload = wire::display::kSize;
constexpr std::size_t kTextHeader = 3;  // code, 0, mode byte
constexpr std::size_t kShortTextBytes = 32;
constexpr std::size_t kLongTextBytes = 64;
constexpr int kShortTextLimit = 32;
constexpr int kLongTextLimit = 64;

constexpr std::uint8_t kAlternate = 0x80;
// "Display Time Only": the time shows for one unit, the humiture never.
constexpr std::uint8_t kTimeOnlyDurations = 0x10;
// A duration byte of 0 never goes to a clock: 0x01 goes in its place.
constexpr std::uint8_t kLeastDurations = 0x01;
constexpr std::string_view kNoHumidity = "0.0 %";

std::uint8_t Masked(long value, unsigned long mask) {
  return static_cast<std::uint8_t>(static_cast<unsigned long>(value) & mask);
}

// Bits 7-4 time duration, bits 3-0 humiture duration; then the humiture
// duration alone in bits 7-4.
void WriteDurations(const DisplayControls& c, std::uint8_t& timeByte, std::uint8_t& humitureByte) {
  if (c.timeOnly) {
    timeByte = kTimeOnlyDurations;
    humitureByte = 0;
  } else {
    const std::uint8_t t = Masked(c.timeDuration, 0x0F);
    const std::uint8_t h = Masked(c.humitureDuration, 0x0F);
    timeByte = static_cast<std::uint8_t>(t << 4 | h);
    humitureByte = static_cast<std::uint8_t>(h << 4);
  }
  if (timeByte == 0) timeByte = kLeastDurations;
}

std::uint8_t UnitOf(const DisplayControls& c) {
  if (c.celsius) return kUnitCelsius;
  if (c.fahrenheit) return kUnitFahrenheit;
  return kUnitNone;
}

std::uint8_t RadioByte(const DisplayControls& c) {
  std::uint8_t radio = 0;
  if (c.radioId) radio = Masked(*c.radioId, 0x7F);
  if (c.radioOpen) radio |= kRadioOpenBit;
  return radio;
}

std::string Decimal(int whole, int tenths) { return std::to_string(whole) + "." + std::to_string(tenths); }

}  // namespace

std::size_t DisplayTextFieldBytes(DisplayTextForm form) {
  return form == DisplayTextForm::Long ? kLongTextBytes : kShortTextBytes;
}

int DisplayTextLimit(bool longText) { return longText ? kLongTextLimit : kShortTextLimit; }

std::string DisplayTextCounter(int length, int limit) { return std::to_string(length) + "/" + std::to_string(limit); }

ClockFrame BuildDisplayFrameFrom(const DisplayControls& controls) {
  std::array<std::uint8_t, kDisplayPayload> p{};
  p[0] = code::kModifyDisplay;
  for (std::size_t i = 0; i < controls.countdown.size(); ++i) {
    p[wire::display::kCountdownStart + i] = Masked(controls.countdown[i], 0xFF);
  }
  // Unit and durations mean nothing to a clock without a sensor: they stay 0.
  if (controls.showsTemperature) {
    p[wire::display::kTempUnit] = UnitOf(controls);
    WriteDurations(controls, p[wire::display::kTimes], p[wire::display::kHumitureTime]);
  }
  p[wire::display::kModifyRadio] = RadioByte(controls);
  return ClockFrame::Build(p);
}

ClockFrame BuildTextFrameFrom(DisplayTextForm form, bool roll, long alternateSeconds, std::string_view text,
                              CodePage cp) {
  const std::size_t width = DisplayTextFieldBytes(form);
  // The field, then one final byte that is always zero.
  std::vector<std::uint8_t> p(kTextHeader + width + 1, 0);
  p[0] = code::kModifyText;
  p[2] = roll ? 0 : static_cast<std::uint8_t>(kAlternate | Masked(alternateSeconds, 0x7F));
  const std::string encoded = FitToField(ToCodePage(text, cp), width, cp);
  std::copy(encoded.begin(), encoded.end(), p.begin() + kTextHeader);
  return ClockFrame::Build(p);
}

std::string TemperatureText(const Humiture& humiture, std::uint8_t unit) {
  std::string text = Decimal(humiture.temperatureWhole, humiture.temperatureTenths);
  // -0.5 has no minus in its whole degrees; the clock's sign bit has it.
  if (humiture.temperatureBelowZero && humiture.temperatureWhole == 0) text.insert(0, "-");
  if (unit == kUnitCelsius) text += "\u00B0C";
  if (unit == kUnitFahrenheit) text += "\u00B0F";
  return text;
}

std::string HumidityText(const Humiture& humiture) {
  return Decimal(humiture.humidityWhole, humiture.humidityTenths) + " %";
}

bool HasHumitureSensor(std::uint8_t unit, std::string_view humidityText) {
  return unit != kUnitNone && humidityText != kNoHumidity;
}

long TypedNumber(std::string_view text) {
  const std::string terminated(text);
  return std::strtol(terminated.c_str(), nullptr, 10);
}

std::string DisplayTextOf(const ClockRecord& record, CodePage cp) {
  return FromCodePage(TextBeforeZero(record.text.data(), record.text.size()), cp);
}

std::uint8_t CountdownValue(const ClockRecord& r, std::size_t slot) {
  return slot < 3 ? r.countdownStart[slot] : r.countdownDuration[slot - 3];
}

bool RecordHasSensor(const ClockRecord& record) { return HasHumitureSensor(record.tempUnit, HumidityText(record.humiture)); }

// Without a sensor "Display Time Only" is "Yes"; a unit the page does not
// know shows no temperature, so the unit and durations go out as 0.
DisplayControls DisplayControlsFromRecord(const ClockRecord& r) {
  DisplayControls c;
  for (std::size_t slot = 0; slot < kCountdownLists.size(); ++slot) {
    c.countdown[slot] = ShownOrZero(CountdownValue(r, slot), kCountdownLists[slot]);
    c.countdownSelected[slot] = kCountdownLists[slot].ItemOf(CountdownValue(r, slot)).has_value();
  }
  c.timeOnly = true;
  c.sensor = RecordHasSensor(r);
  if (c.sensor) {
    c.showsTemperature = r.tempUnit == kUnitCelsius || r.tempUnit == kUnitFahrenheit;
    c.celsius = r.tempUnit == kUnitCelsius;
    c.fahrenheit = r.tempUnit == kUnitFahrenheit;
    c.timeOnly = r.displayTimes[1] == 0;
    if (!c.timeOnly) {
      c.timeDuration = ShownOrZero(r.displayTimes[0], kDisplaySecondsList);
      c.humitureDuration = ShownOrZero(r.displayTimes[1], kDisplaySecondsList);
      c.timeDurationSelected = kDisplaySecondsList.ItemOf(r.displayTimes[0]).has_value();
      c.humitureDurationSelected = kDisplaySecondsList.ItemOf(r.displayTimes[1]).has_value();
    }
  }
  const auto id = static_cast<std::uint8_t>(r.radio & kRadioIdBits);
  if (kRadioIdList.ItemOf(id)) c.radioId = id;
  c.radioOpen = (r.radio & kRadioOpenBit) != 0;
  return c;
}

TextControls TextControlsFromRecord(const ClockRecord& r, CodePage cp) {
  TextControls c;
  c.roll = r.textRoll == 0;
  if (!c.roll) {
    c.alternateSeconds = ShownOrZero(r.textAlternateSeconds, kAlternateList);
    c.alternateSecondsSelected = kAlternateList.ItemOf(r.textAlternateSeconds).has_value();
  }
  c.text = DisplayTextOf(r, cp);
  return c;
}

}  // namespace marindo
