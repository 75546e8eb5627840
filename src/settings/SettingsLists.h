#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace marindo {

// The lists the settings pages offer and the names the clocks' numbers go
// by, held once: the models read and write with them, the JSON names them
// and the pages fill their drop-down lists from them.

// The numbers a drop-down list offers, one item per number from `first` to
// `last`, in order.
struct NumberList {
  std::uint8_t first;
  std::uint8_t last;

  int Count() const { return last - first + 1; }
  std::uint8_t ValueAt(int item) const { return static_cast<std::uint8_t>(first + item); }
  // The item showing `value`, or none when the list does not offer it.
  std::optional<int> ItemOf(std::uint8_t value) const;
};

inline constexpr NumberList kHourList{0, 23};
inline constexpr NumberList kMinuteList{0, 59};
inline constexpr NumberList kSecondList{0, 59};
inline constexpr NumberList kDurationList{3, 15};  // a bell's ringing seconds
inline constexpr NumberList kEnergyHourList{0, 23};
inline constexpr NumberList kDurationHoursList{0, 9};
inline constexpr NumberList kDisplaySecondsList{0, 15};
inline constexpr NumberList kRadioIdList{0, 59};
inline constexpr NumberList kAlternateList{2, 5};  // the seconds list of "Alternate(s):"

// The text a list of decimal numbers shows for `value`; empty when it offers
// no such number.
std::string ListText(std::uint8_t value, const NumberList& list);
// The value a list shows for `value`, 0 when it offers no such number.
long ShownOrZero(std::uint8_t value, const NumberList& list);

// Names in the order of their numbers on the wire, 1 first.
inline constexpr std::array<std::string_view, 12> kMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
inline constexpr std::array<std::string_view, 7> kWeekdayNames{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
inline constexpr std::array<std::string_view, 6> kOrdinalNames{"First", "Second", "Third",
                                                               "Fourth", "Fifth", "Last"};

// The name of a one-based number, empty when the list has none: what a list
// selected by position shows.
std::string NameOf(std::span<const std::string_view> names, unsigned number);

// The entries of the time zone list, in its order, as the basic page offers
// them (one-digit whole hours padded with a blank).
inline constexpr std::array<std::string_view, 38> kZoneEntries{
    "UTC -12", "UTC -11",    "UTC -10",   "UTC -9:30",  "UTC -9 ",   "UTC -8 ",   "UTC -7 ",   "UTC -6 ",
    "UTC -5 ", "UTC -4 ",    "UTC -3:30", "UTC -3 ",    "UTC -2 ",   "UTC -1 ",   "UTC  0",    "UTC +1 ",
    "UTC +2 ", "UTC +3 ",    "UTC +3:30", "UTC +4 ",    "UTC +4:30", "UTC +5 ",   "UTC +5:30", "UTC +5:45",
    "UTC +6 ", "UTC +6:30",  "UTC +7 ",   "UTC +8 ",    "UTC +9 ",   "UTC +9:30", "UTC +10",   "UTC +10:30",
    "UTC +11", "UTC +11:30", "UTC +12",   "UTC +12:45", "UTC +13",   "UTC +14"};

// The zone list's entry for a zone text, trailing blanks ignored on both
// sides, so that "UTC -9" finds "UTC -9 " and never "UTC -9:30".
std::optional<std::string_view> ZoneEntryNamed(std::string_view name);

// The temperature unit byte of the display settings.
inline constexpr std::uint8_t kUnitNone = 0;
inline constexpr std::uint8_t kUnitCelsius = 1;
inline constexpr std::uint8_t kUnitFahrenheit = 2;
// The radio byte: switched on in bit 7, the radio ID below.
inline constexpr std::uint8_t kRadioOpenBit = 0x80;
inline constexpr std::uint8_t kRadioIdBits = 0x7F;

}  // namespace marindo
