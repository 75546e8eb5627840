#include "link/ReplyDecoders.h"

#include <algorithm>
#include <cstring>

#include "platform/Ipv4.h"

namespace marindo {
namespace {

namespace b = wire::basic;
namespace d = wire::display;

constexpr std::size_t kBellSize = wire::bells::kFirst + ClockRecord::kBellBytes;

std::uint8_t High4(std::uint8_t byte) { return static_cast<std::uint8_t>(byte >> 4); }
std::uint8_t Low4(std::uint8_t byte) { return static_cast<std::uint8_t>(byte & 0x0FU); }
bool Bit(std::uint8_t byte, unsigned bit) { return ((unsigned{byte} >> bit) & 1U) != 0; }

void StoreDstRow(const std::uint8_t* row, std::uint8_t& month, std::uint8_t& week, std::uint8_t& weekday,
                 std::uint8_t& hour) {
  month = row[b::kDstMonth];
  week = High4(row[b::kDstWeek]);
  weekday = Low4(row[b::kDstWeek]);
  hour = row[b::kDstHour];
}

void StoreBasic(std::span<const std::uint8_t> p, ClockRecord& r) {
  const std::uint8_t zone = p[b::kZone];
  r.zoneNegative = (zone & b::kZoneNegativeBit) != 0 ? 1 : 0;
  r.zoneHours = static_cast<std::uint8_t>((zone >> b::kZoneHoursShift) & b::kZoneHoursMask);
  r.zoneMinuteCode = static_cast<std::uint8_t>((zone >> b::kZoneMinutesShift) & b::kZoneMinutesMask);
  const std::uint8_t flags = p[b::kFlags];
  r.hour24 = (flags & b::kHour24Bit) != 0 ? 1 : 0;
  r.dynamicIp = (flags & b::kDynamicIpBit) != 0 ? 1 : 0;
  r.brightness = static_cast<std::uint8_t>((flags >> b::kBrightnessShift) & b::kBrightnessMask);
  r.ipAddress = ReadBe32(&p[b::kIpAddress]);
  r.subnetMask = ReadBe32(&p[b::kSubnetMask]);
  r.gateway = ReadBe32(&p[b::kGateway]);
  r.dnsServer = ReadBe32(&p[b::kDnsServer]);
  StoreDstRow(&p[b::kDstStart], r.dstStartMonth, r.dstStartWeek, r.dstStartWeekday, r.dstStartHour);
  StoreDstRow(&p[b::kDstEnd], r.dstEndMonth, r.dstEndWeek, r.dstEndWeekday, r.dstEndHour);
  r.energyFrom = p[b::kEnergyFrom];
  r.energyTo = static_cast<std::uint8_t>(p[b::kEnergyTo] >> b::kEnergyToShift);
  r.energyClose = (p[b::kEnergyTo] & b::kDisplayCloseBit) != 0 ? 1 : 0;
}

template <std::size_t N>
void CopyText(std::span<const std::uint8_t> from, std::array<char, N>& to) {
  const std::size_t n = std::min(from.size(), N);
  std::memcpy(to.data(), from.data(), n);
}

bool StoreNtp(std::span<const std::uint8_t> p, ClockRecord& r) {
  namespace sv = wire::servers;
  if (p[sv::kForm] == 0) {
    if (p.size() < sv::kAddressSize) return false;
    r.ntpMode = 0;
    for (std::size_t i = 0; i < ClockRecord::kNtpSlots; ++i) {
      const std::string text = FormatIpv4(ReadBe32(&p[sv::kFirst + 4 * i]));
      NtpSlot& slot = r.ntpServers[i];
      slot.address.fill('\0');
      std::memcpy(slot.address.data(), text.data(), std::min(text.size(), slot.address.size() - 1));
    }
    return true;
  }
  if (p.size() < sv::kNameSize) return false;
  r.ntpMode = p[sv::kForm];
  CopyText(p.subspan(sv::kFirst, sv::kNameBytes), r.ntpServers[0].name);
  CopyText(p.subspan(sv::kFirst + sv::kNameBytes, sv::kNameBytes), r.ntpServers[1].name);
  return true;
}

void StoreDisplay(std::span<const std::uint8_t> p, ClockRecord& r) {
  std::copy_n(&p[d::kCountdownStart], 3, r.countdownStart.begin());
  std::copy_n(&p[d::kCountdownDuration], 3, r.countdownDuration.begin());
  r.tempUnit = p[d::kTempUnit];
  // Sign and magnitude: bit 7 says below zero.
  const int magnitude = p[d::kTemperature] & 0x7F;
  r.humiture.temperatureBelowZero = Bit(p[d::kTemperature], 7);
  r.humiture.temperatureWhole = static_cast<std::int8_t>(r.humiture.temperatureBelowZero ? -magnitude : magnitude);
  r.humiture.temperatureTenths = High4(p[d::kTemperatureTenths]);
  r.humiture.humidityWhole = static_cast<std::uint8_t>(p[d::kHumidity] >> 1);
  r.humiture.humidityTenths = High4(p[d::kHumidityTenths]);
  r.displayTimes[0] = High4(p[d::kTimes]);
  r.displayTimes[2] = Low4(p[d::kTimes]);
  r.displayTimes[1] = High4(p[d::kHumitureTime]);
}

bool StoreText(std::span<const std::uint8_t> p, std::uint8_t lengthByte, ClockRecord& r) {
  namespace t = wire::text;
  if (lengthByte < t::kHeader || p.size() < t::kHeader) return false;
  const std::size_t announced = lengthByte - t::kHeader;
  // The record holds 65 text bytes; a longer announced text is cut there.
  const std::size_t kept = std::min(announced, ClockRecord::kTextBytes);
  if (p.size() < t::kHeader + kept) return false;
  r.longText = r.firmwareMajor >= 2 || announced >= 64;
  r.textLead = p[t::kLead];
  r.textRoll = Bit(p[t::kMode], 7) ? 1 : 0;
  r.textAlternateSeconds = static_cast<std::uint8_t>(p[t::kMode] & 0x7FU);
  r.text.fill('\0');
  CopyText(p.subspan(t::kHeader, kept), r.text);
  return true;
}

void StoreStatusReport(std::span<const std::uint8_t> p, ClockRecord& r) {
  for (std::size_t i = 0; i < r.report14.values.size(); ++i) {
    r.report14.values[i] = ReadBe32(&p[wire::status::kValues + 4 * i]);
  }
  r.report14.last = p[wire::status::kLast];
}

void StoreSystemInfo(std::span<const std::uint8_t> p, ClockRecord& r) {
  // Bit 7 of the first status byte is not the clock's: it keeps its value.
  namespace sy = wire::system;
  r.status16.bits = static_cast<std::uint8_t>((r.status16.bits & 0x80U) | (p[sy::kStatus] & 0x7FU));
  r.status16.extra = p[sy::kExtra];
  r.uptimeDays = static_cast<std::uint16_t>((p[sy::kUptimeDays] << 8) | p[sy::kUptimeDays + 1]);
}

}  // namespace

ReplyHandling HandlingOf(std::uint8_t code) {
  const Command* command = CommandOf(code);
  return command ? command->handling : ReplyHandling::Dropped;
}

std::optional<SearchReply> ReadSearchReply(std::span<const std::uint8_t> payload) {
  namespace s = wire::search;
  if (payload.size() < s::kSize) return std::nullopt;
  SearchReply reply;
  std::memcpy(reply.serial.data(), &payload[s::kSerial], reply.serial.size());
  reply.firmwareMajor = payload[s::kFirmwareMajor];
  reply.firmwareMinor = payload[s::kFirmwareMinor];
  reply.searchWord = ReadBe32(&payload[s::kSearchWord]);
  reply.lastSyncTime = ReadBe32(&payload[s::kLastSyncTime]);
  reply.syncServerIp = ReadBe32(&payload[s::kSyncServer]);
  reply.radio = payload[s::kRadio];
  return reply;
}

bool StoreReply(std::span<const std::uint8_t> payload, std::uint8_t lengthByte,
                ClockRecord& record) {
  if (payload.size() < 2) return false;
  switch (payload[0]) {
    case code::kQueryBasic:
      if (payload.size() < b::kSize) return false;
      StoreBasic(payload, record);
      return true;
    case code::kQueryServers:
      return StoreNtp(payload, record);
    case code::kQueryBells:
      if (payload.size() < kBellSize) return false;
      std::copy_n(&payload[wire::bells::kFirst], ClockRecord::kBellBytes, record.bells.begin());
      return true;
    case code::kQueryDisplay:
      if (payload.size() < d::kSize) return false;
      StoreDisplay(payload, record);
      return true;
    case code::kQueryText:
      return StoreText(payload, lengthByte, record);
    case code::kStatusReport:
      if (payload.size() < wire::status::kSize) return false;
      StoreStatusReport(payload, record);
      return true;
    case code::kQuerySystem:
      if (payload.size() < wire::system::kSize) return false;
      StoreSystemInfo(payload, record);
      return true;
    default:
      return false;
  }
}

bool ModifyAccepted(std::span<const std::uint8_t> payload) {
  return payload.size() > wire::result::kOutcome && payload[wire::result::kOutcome] == wire::result::kApplied;
}

}  // namespace marindo
