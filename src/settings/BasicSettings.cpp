#include "settings/BasicSettings.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "platform/Ipv4.h"
#include "settings/SettingsLists.h"

namespace marindo {
namespace {

constexpr std::uint8_t kZoneMinutesHalf = 1;
constexpr std::uint8_t kZoneMinutesThreeQuarters = 2;

using wire::basic::kDisplayCloseBit;
using wire::basic::kDnsServer;
using wire::basic::kDstEnd;
using wire::basic::kDstStart;
using wire::basic::kDynamicIpBit;
using wire::basic::kEnergyFrom;
using wire::basic::kEnergyTo;
using wire::basic::kFlags;
using wire::basic::kGateway;
using wire::basic::kHour24Bit;
using wire::basic::kIpAddress;
using wire::basic::kSubnetMask;
using wire::basic::kZone;
using wire::basic::kZoneNegativeBit;

template <std::size_t N>
std::optional<std::uint8_t> NumberInTable(const std::array<std::string_view, N>& names, std::string_view name,
                                          std::size_t count = N) {
  const auto end = names.begin() + static_cast<std::ptrdiff_t>(count);
  const auto found = std::find(names.begin(), end, name);
  if (found == end) return std::nullopt;
  return static_cast<std::uint8_t>(found - names.begin());
}

std::optional<std::uint8_t> OneBased(std::optional<std::uint8_t> position) {
  if (!position) return std::nullopt;
  return static_cast<std::uint8_t>(*position + 1);
}

std::uint8_t LowByte(std::uint32_t value) { return static_cast<std::uint8_t>(value & 0xFFu); }

// The hours of a zone entry without its minutes, e.g. "UTC -9" or "UTC +12";
// text that does not follow `prefix` reads as 0.
std::uint32_t HoursAfter(std::string_view text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return 0;
  text.remove_prefix(prefix.size());
  std::uint32_t hours = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), hours);
  (void)end;
  return error == std::errc{} ? hours : 0;
}

std::uint8_t ZoneMinutesCode(std::string_view minutes) {
  if (minutes == "30") return kZoneMinutesHalf;
  if (minutes == "45") return kZoneMinutesThreeQuarters;
  return 0;
}

// Fills p[1..18] from the addressing controls; the clock's own address goes
// out only in static mode, the mask, gateway and DNS server in both.
std::optional<BasicRefusal> EncodeAddressing(const BasicForm& form, BasicPayload& p) {
  // A half-cleared field reads as an address with zeros in it: sent, it
  // would leave the clock unreachable.
  if (form.partialAddress) return BasicRefusal::InvalidIpAddress;
  if (form.dynamicIp) {
    p[kFlags] |= kDynamicIpBit;
  } else if (form.staticIp) {
    if (form.ipAddress == 0 || form.ipAddress == 0xFFFFFFFFu) return BasicRefusal::InvalidIpAddress;
    WriteBe32(&p[kIpAddress], form.ipAddress);
  } else {
    return BasicRefusal::NoAddressingMode;
  }
  WriteBe32(&p[kSubnetMask], form.subnetMask);
  WriteBe32(&p[kGateway], form.gateway);
  WriteBe32(&p[kDnsServer], form.dnsServer);
  return std::nullopt;
}

void EncodeEnergySaving(const BasicForm& form, BasicPayload& p) {
  if (form.displayClose) p[kEnergyTo] |= kDisplayCloseBit;
  p[kEnergyFrom] = LowByte(DecimalValue(form.energyFrom));
  p[kEnergyTo] |= static_cast<std::uint8_t>((DecimalValue(form.energyTo) & 0x1Fu) << 3);
}

void EncodeBrightness(const BasicForm& form, BasicPayload& p) {
  if (const auto brightness = BrightnessNumber(form.brightness)) {
    p[kFlags] |= static_cast<std::uint8_t>(*brightness << wire::basic::kBrightnessShift);
  }
}

// One DST row into its three bytes (month, ordinal and weekday, hour). Lists
// without a selection, and texts that are no name, leave their field 0: the
// operator may choose a rule only in part.
void EncodeDstRow(const DstRowTexts& row, BasicPayload& p, std::size_t at) {
  using wire::basic::kDstHour;
  using wire::basic::kDstMonth;
  using wire::basic::kDstWeek;
  if (!row.hour.empty()) p[at + kDstHour] = LowByte(DecimalValue(row.hour));
  if (const auto month = MonthNumber(row.month)) p[at + kDstMonth] = *month;
  if (const auto weekday = WeekdayNumber(row.weekday)) {
    p[at + kDstWeek] = static_cast<std::uint8_t>((p[at + kDstWeek] & 0xF0u) | (*weekday & 0x0Fu));
  }
  if (const auto ordinal = OrdinalNumber(row.ordinal)) {
    p[at + kDstWeek] = static_cast<std::uint8_t>((p[at + kDstWeek] & 0x0Fu) | ((*ordinal & 0x0Fu) << 4));
  }
}

}  // namespace

std::string FormatFirmwareVersion(std::uint8_t major, std::uint8_t minor) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%02d", major, minor);
  return text;
}

std::string FormatSyncTime(std::uint32_t secondsSince1970) {
  const std::time_t seconds = static_cast<std::time_t>(secondsSince1970);
  std::tm local{};
  if (::localtime_r(&seconds, &local) == nullptr) return {};
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, length);
}

std::string ZoneText(const ClockRecord& record) {
  if (record.zoneHours == 0 && record.zoneMinuteCode == 0) return "UTC  0";
  std::string text = "UTC ";
  text += record.zoneNegative != 0 ? '-' : '+';
  text += std::to_string(record.zoneHours);
  switch (record.zoneMinuteCode) {
    case 0:
      return text;
    case kZoneMinutesHalf:
      return text + ":30";
    case kZoneMinutesThreeQuarters:
      return text + ":45";
    default:
      return {};
  }
}

std::string_view TrimTrailingBlanks(std::string_view text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

std::uint8_t ZoneByte(std::string_view zoneEntry) {
  if (zoneEntry.empty()) return 0;
  std::string_view hoursPart = zoneEntry;
  std::uint8_t minutesCode = 0;
  if (const std::size_t colon = zoneEntry.find(':'); colon != std::string_view::npos) {
    minutesCode = ZoneMinutesCode(zoneEntry.substr(colon + 1));
    hoursPart = zoneEntry.substr(0, colon);
  }
  std::uint8_t sign = 0;
  std::uint32_t hours = 0;
  if (zoneEntry.find('-') != std::string_view::npos) {
    sign = kZoneNegativeBit;
    hours = HoursAfter(hoursPart, "UTC -");
  } else if (zoneEntry.find('+') != std::string_view::npos) {
    hours = HoursAfter(hoursPart, "UTC +");
  }
  return static_cast<std::uint8_t>(sign | ((hours & 0x0Fu) << 3) | (unsigned{minutesCode} << 1));
}

bool DstIsOn(const ClockRecord& record) {
  const bool off = record.dstStartMonth == record.dstEndMonth &&
                   (record.dstStartMonth == 0 || record.dstStartWeek == record.dstEndWeek);
  return !off;
}

bool EnergySavingIsOn(const ClockRecord& record) { return record.energyFrom != record.energyTo; }

std::optional<std::uint8_t> MonthNumber(std::string_view name) { return OneBased(NumberInTable(kMonthNames, name)); }

std::optional<std::uint8_t> WeekdayNumber(std::string_view name) {
  return OneBased(NumberInTable(kWeekdayNames, name));
}

std::optional<std::uint8_t> OrdinalNumber(std::string_view name) {
  return OneBased(NumberInTable(kOrdinalNames, name));
}

std::optional<std::uint8_t> BrightnessNumber(std::string_view name) {
  return NumberInTable(kBrightnessNames, name, kBrightnessChoices);
}

std::uint32_t DecimalValue(std::string_view text) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  (void)end;
  return error == std::errc{} ? value : 0;
}

std::string_view RefusalMessage(BasicRefusal refusal) {
  switch (refusal) {
    case BasicRefusal::InvalidIpAddress:
      return "Please input a valid IP address";
    case BasicRefusal::NoAddressingMode:
      return "Please choose static mode or dynamic mode";
  }
  return {};
}

std::variant<BasicPayload, BasicRefusal> EncodeBasicForm(const BasicForm& form) {
  BasicPayload p{};
  if (form.hour24) p[kFlags] |= kHour24Bit;
  p[kZone] = ZoneByte(form.zone);
  if (const auto refusal = EncodeAddressing(form, p)) return *refusal;
  EncodeEnergySaving(form, p);
  EncodeBrightness(form, p);
  if (form.dstEnabled) {
    EncodeDstRow(form.dstStart, p, kDstStart);
    EncodeDstRow(form.dstEnd, p, kDstEnd);
  }
  p[0] = code::kModifyBasic;
  return p;
}

// ---------------------------------------------------------------------------
// The model from a clock's record

std::optional<std::string_view> ZoneEntryOf(const ClockRecord& record) {
  const std::string zone = ZoneText(record);
  if (zone.empty()) return std::nullopt;
  return ZoneEntryNamed(zone);
}

DstRowTexts DstRowFromValues(const DstRowValues& v) {
  return {ListText(v.hour, kHourList), NameOf(kOrdinalNames, v.week), NameOf(kWeekdayNames, v.weekday), NameOf(kMonthNames, v.month)};
}

BasicForm BasicFormFromRecord(const ClockRecord& r) {
  BasicForm form;
  form.hour24 = r.hour24 != 0;
  form.zone = std::string(ZoneEntryOf(r).value_or(""));
  form.dynamicIp = r.dynamicIp != 0;
  form.staticIp = !form.dynamicIp;
  form.ipAddress = r.ipAddress;
  form.subnetMask = r.subnetMask;
  form.gateway = r.gateway;
  form.dnsServer = r.dnsServer;
  if (DstIsOn(r)) {
    form.dstEnabled = true;
    form.dstStart = DstRowFromValues({r.dstStartHour, r.dstStartWeek, r.dstStartWeekday, r.dstStartMonth});
    form.dstEnd = DstRowFromValues({r.dstEndHour, r.dstEndWeek, r.dstEndWeekday, r.dstEndMonth});
  }
  // An off period leaves the hour lists empty, so that it goes out as 0 to 0.
  if (EnergySavingIsOn(r)) {
    form.energySaving = true;
    form.displayClose = r.energyClose != 0;
    form.energyFrom = ListText(r.energyFrom, kEnergyHourList);
    form.energyTo = ListText(r.energyTo, kEnergyHourList);
  }
  if (r.brightness < kBrightnessChoices) form.brightness = kBrightnessNames[r.brightness];
  return form;
}

}  // namespace marindo
