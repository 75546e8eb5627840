#include "link/ReplyDecoders.h"

#include <algorithm>
#include <cstring>

#include "platform/Ipv4.h"

namespace marindo {
namespace {

constexpr std::size_t kSearchReplySize = 37;
constexpr std::size_t kBasicSize = 27;
constexpr std::size_t kNtpAddressSize = 22;
constexpr std::size_t kNtpNameSize = 62;
constexpr std::size_t kBellSize = 1 + ClockRecord::kBellBytes;
constexpr std::size_t kDisplaySize = 14;
constexpr std::size_t kTextHeader = 3;
constexpr std::size_t kStatusReportSize = 18;
constexpr std::size_t kSystemInfoSize = 5;
constexpr std::size_t kNtpNameBytes = 30;

std::uint8_t High4(std::uint8_t byte) { return static_cast<std::uint8_t>(byte >> 4); }
std::uint8_t Low4(std::uint8_t byte) { return static_cast<std::uint8_t>(byte & 0x0FU); }
bool Bit(std::uint8_t byte, unsigned bit) { return ((unsigned{byte} >> bit) & 1U) != 0; }

void StoreBasic(std::span<const std::uint8_t> p, ClockRecord& r) {
  r.zoneNegative = Bit(p[1], 7) ? 1 : 0;
  r.zoneHours = static_cast<std::uint8_t>((p[1] >> 3) & 0x0FU);
  r.zoneMinuteCode = static_cast<std::uint8_t>((p[1] >> 1) & 0x03U);
  r.hour24 = Bit(p[2], 7) ? 1 : 0;
  r.dynamicIp = Bit(p[2], 6) ? 1 : 0;
  r.brightness = static_cast<std::uint8_t>((p[2] >> 3) & 0x07U);
  r.ipAddress = ReadBe32(&p[3]);
  r.subnetMask = ReadBe32(&p[7]);
  r.gateway = ReadBe32(&p[11]);
  r.dnsServer = ReadBe32(&p[15]);
  r.dstStartMonth = p[19];
  r.dstStartWeek = High4(p[20]);
  r.dstStartWeekday = Low4(p[20]);
  r.dstStartHour = p[21];
  r.dstEndMonth = p[22];
  r.dstEndWeek = High4(p[23]);
  r.dstEndWeekday = Low4(p[23]);
  r.dstEndHour = p[24];
  r.energyFrom = p[25];
  r.energyTo = static_cast<std::uint8_t>(p[26] >> 3);
  r.energyClose = Bit(p[26], 2) ? 1 : 0;
}

template <std::size_t N>
void CopyText(std::span<const std::uint8_t> from, std::array<char, N>& to) {
  const std::size_t n = std::min(from.size(), N);
  std::memcpy(to.data(), from.data(), n);
}

bool StoreNtp(std::span<const std::uint8_t> p, ClockRecord& r) {
  if (p[1] == 0) {
    if (p.size() < kNtpAddressSize) return false;
    r.ntpMode = 0;
    for (std::size_t i = 0; i < ClockRecord::kNtpSlots; ++i) {
      const std::string text = FormatIpv4(ReadBe32(&p[2 + 4 * i]));
      NtpSlot& slot = r.ntpServers[i];
      slot.address.fill('\0');
      std::memcpy(slot.address.data(), text.data(), std::min(text.size(), slot.address.size() - 1));
    }
    return true;
  }
  if (p.size() < kNtpNameSize) return false;
  r.ntpMode = p[1];
  CopyText(p.subspan(2, kNtpNameBytes), r.ntpServers[0].name);
  CopyText(p.subspan(2 + kNtpNameBytes, kNtpNameBytes), r.ntpServers[1].name);
  return true;
}

void StoreDisplay(std::span<const std::uint8_t> p, ClockRecord& r) {
  std::copy_n(&p[1], 3, r.countdownStart.begin());
  std::copy_n(&p[4], 3, r.countdownDuration.begin());
  r.tempUnit = p[7];
  // Sign and magnitude: bit 7 says below zero.
  const int magnitude = p[8] & 0x7F;
  r.humiture.temperatureBelowZero = Bit(p[8], 7);
  r.humiture.temperatureWhole = static_cast<std::int8_t>(r.humiture.temperatureBelowZero ? -magnitude : magnitude);
  r.humiture.temperatureTenths = High4(p[9]);
  r.humiture.humidityWhole = static_cast<std::uint8_t>(p[10] >> 1);
  r.humiture.humidityTenths = High4(p[11]);
  r.displayTimes[0] = High4(p[12]);
  r.displayTimes[2] = Low4(p[12]);
  r.displayTimes[1] = High4(p[13]);
}

bool StoreText(std::span<const std::uint8_t> p, std::uint8_t lengthByte, ClockRecord& r) {
  if (lengthByte < kTextHeader || p.size() < kTextHeader) return false;
  const std::size_t announced = lengthByte - kTextHeader;
  // The record holds 65 text bytes; a longer announced text is cut there.
  const std::size_t kept = std::min(announced, ClockRecord::kTextBytes);
  if (p.size() < kTextHeader + kept) return false;
  r.longText = r.firmwareMajor >= 2 || announced >= 64;
  r.textLead = p[1];
  r.textRoll = Bit(p[2], 7) ? 1 : 0;
  r.textAlternateSeconds = static_cast<std::uint8_t>(p[2] & 0x7FU);
  r.text.fill('\0');
  CopyText(p.subspan(kTextHeader, kept), r.text);
  return true;
}

void StoreStatusReport(std::span<const std::uint8_t> p, ClockRecord& r) {
  for (std::size_t i = 0; i < r.report14.values.size(); ++i) {
    r.report14.values[i] = ReadBe32(&p[1 + 4 * i]);
  }
  r.report14.last = p[17];
}

void StoreSystemInfo(std::span<const std::uint8_t> p, ClockRecord& r) {
  // Bit 7 of the first status byte is not the clock's: it keeps its value.
  r.status16.bits = static_cast<std::uint8_t>((r.status16.bits & 0x80U) | (p[1] & 0x7FU));
  r.status16.extra = p[2];
  r.uptimeDays = static_cast<std::uint16_t>((p[3] << 8) | p[4]);
}

}  // namespace

ReplyHandling HandlingOf(std::uint8_t code) {
  switch (code) {
    case 0x01:
      return ReplyHandling::Search;
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x0A:
    case 0x0E:
    case 0x10:
      return ReplyHandling::Stored;
    case 0x06:
    case 0x07:
    case 0x08:
    case 0x0B:
    case 0x0F:
    case 0x11:
      return ReplyHandling::ModifyResult;
    case 0x09:
    case 0x0C:
    case 0x0D:
      return ReplyHandling::Ignored;
    default:
      return ReplyHandling::Dropped;
  }
}

std::optional<SearchReply> ReadSearchReply(std::span<const std::uint8_t> payload) {
  if (payload.size() < kSearchReplySize) return std::nullopt;
  SearchReply reply;
  std::memcpy(reply.serial.data(), &payload[1], reply.serial.size());
  reply.firmwareMajor = payload[21];
  reply.firmwareMinor = payload[22];
  reply.searchWord = ReadBe32(&payload[23]);
  reply.lastSyncTime = ReadBe32(&payload[27]);
  reply.syncServerIp = ReadBe32(&payload[31]);
  reply.radio = payload[36];
  return reply;
}

bool StoreReply(std::span<const std::uint8_t> payload, std::uint8_t lengthByte,
                ClockRecord& record) {
  if (payload.size() < 2) return false;
  switch (payload[0]) {
    case 0x02:
      if (payload.size() < kBasicSize) return false;
      StoreBasic(payload, record);
      return true;
    case 0x03:
      return StoreNtp(payload, record);
    case 0x04:
      if (payload.size() < kBellSize) return false;
      std::copy_n(&payload[1], ClockRecord::kBellBytes, record.bells.begin());
      return true;
    case 0x05:
      if (payload.size() < kDisplaySize) return false;
      StoreDisplay(payload, record);
      return true;
    case 0x0A:
      return StoreText(payload, lengthByte, record);
    case 0x0E:
      if (payload.size() < kStatusReportSize) return false;
      StoreStatusReport(payload, record);
      return true;
    case 0x10:
      if (payload.size() < kSystemInfoSize) return false;
      StoreSystemInfo(payload, record);
      return true;
    default:
      return false;
  }
}

bool ModifyAccepted(std::span<const std::uint8_t> payload) {
  return payload.size() >= 2 && payload[1] == 1;
}

}  // namespace marindo
