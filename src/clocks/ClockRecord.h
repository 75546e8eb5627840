#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace marindo {

// One NTP server slot of a clock: the server as dotted-decimal address text
// and as a host name. Both are zero-padded single-byte text; a name of the full
// 30 bytes has no terminator.
struct NtpSlot {
  std::array<char, 16> address{};
  std::array<char, 30> name{};

  friend bool operator==(const NtpSlot&, const NtpSlot&) = default;
};

// Temperature and humidity as the clock reports them.
struct Humiture {
  std::int8_t temperatureWhole = 0;  // signed degrees
  std::uint8_t temperatureTenths = 0;
  // The clock's sign bit. Whole degrees alone cannot say that -0.5 is below
  // zero.
  bool temperatureBelowZero = false;
  std::uint8_t humidityWhole = 0;
  std::uint8_t humidityTenths = 0;

  friend bool operator==(const Humiture&, const Humiture&) = default;
};

// The system-information status of newer clocks. The first byte carries seven
// status bits (one, one and five bits wide); its bit 7 is not the clock's and
// keeps whatever it held. Kept, never shown.
struct Status16 {
  std::uint8_t bits = 0;
  std::uint8_t extra = 0;

  friend bool operator==(const Status16&, const Status16&) = default;
};

// The status report of code 0x0E. Kept, never shown.
struct Report14 {
  std::array<std::uint32_t, 4> values{};
  std::uint8_t last = 0;

  friend bool operator==(const Report14&, const Report14&) = default;
};

// Everything the tool has learnt about one online clock. A plain value: copying
// a record copies every field. Addresses are IPv4 in host order.
struct ClockRecord {
  static constexpr std::size_t kSerialChars = 20;
  static constexpr std::size_t kBellBytes = 180;
  static constexpr std::size_t kTextBytes = 65;
  static constexpr std::size_t kNtpSlots = 5;

  std::uint32_t ip = 0;
  std::array<char, kSerialChars + 1> serial{};
  std::uint8_t firmwareMajor = 0;
  std::uint8_t firmwareMinor = 0;
  std::uint32_t searchWord = 0;
  std::uint32_t lastSyncTime = 0;  // seconds since 1970-01-01 UTC
  std::uint32_t syncServerIp = 0;
  std::uint8_t zoneNegative = 0;
  std::uint8_t zoneHours = 0;
  std::uint8_t zoneMinuteCode = 0;  // 0 none, 1 = :30, 2 = :45
  std::uint8_t brightness = 0;
  std::uint8_t dstStartMonth = 0;
  std::uint8_t dstStartWeek = 0;
  std::uint8_t dstStartWeekday = 0;
  std::uint8_t dstStartHour = 0;
  std::uint8_t dstEndMonth = 0;
  std::uint8_t dstEndWeek = 0;
  std::uint8_t dstEndWeekday = 0;
  std::uint8_t dstEndHour = 0;
  std::uint8_t tempUnit = 0;  // 0 no sensor, 1 degrees C, 2 degrees F
  std::uint8_t hour24 = 0;
  std::uint8_t dynamicIp = 0;
  std::uint32_t ipAddress = 0;
  std::uint32_t subnetMask = 0;
  std::uint32_t gateway = 0;
  std::uint32_t dnsServer = 0;
  std::array<std::uint8_t, 3> countdownStart{};     // hour, minute, second
  std::array<std::uint8_t, 3> countdownDuration{};  // hours, minutes, seconds
  std::uint8_t textLead = 0;  // days since the clock started
  Humiture humiture{};
  // Time display duration, humiture display duration, and a third value kept
  // but not shown.
  std::array<std::uint8_t, 3> displayTimes{};
  std::array<std::uint8_t, kBellBytes> bells{};
  std::uint8_t ntpMode = 0;  // 0: servers as addresses; otherwise as names
  std::array<NtpSlot, kNtpSlots> ntpServers{};
  std::uint8_t energyFrom = 0;
  std::uint8_t energyTo = 0;
  std::uint8_t energyClose = 0;
  std::uint8_t textRoll = 0;
  std::uint8_t textAlternateSeconds = 0;
  std::array<char, kTextBytes> text{};
  bool newPlatform = false;
  bool longText = false;
  std::uint8_t radio = 0;  // bit 7 on/off, bits 0-6 radio ID
  Status16 status16{};
  std::uint16_t uptimeDays = 0;
  Report14 report14{};
  std::array<std::uint8_t, 6> mac{};  // all zero when ARP found none
  std::string label;

  friend bool operator==(const ClockRecord&, const ClockRecord&) = default;
};

}  // namespace marindo
