#include "site/ClockIdentity.h"

#include <cmath>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "platform/Ipv4.h"
#include "settings/BasicSettings.h"
#include "settings/OtherFrames.h"
#include "settings/SettingsLists.h"
#include "settings/SystemSettings.h"

namespace marindo {
namespace {

// Tenths of a degree in the clock's unit, with the clock's sign bit: whole
// degrees alone cannot tell -0.5 from 0.5.
int TemperatureTenths(const Humiture& humiture) {
  const int tenths = std::abs(static_cast<int>(humiture.temperatureWhole)) * 10 + humiture.temperatureTenths;
  return humiture.temperatureBelowZero || humiture.temperatureWhole < 0 ? -tenths : tenths;
}

}  // namespace

std::string AgeText(std::int64_t now, std::uint32_t lastSyncTime) {
  if (lastSyncTime == 0) return "never";
  const std::int64_t age = now - static_cast<std::int64_t>(lastSyncTime);
  if (age < 0) return "in the future";
  constexpr std::int64_t kMinute = 60;
  constexpr std::int64_t kHour = 60 * kMinute;
  constexpr std::int64_t kDay = 24 * kHour;
  if (age < kMinute) return std::to_string(age) + " s";
  if (age < kHour) return std::to_string(age / kMinute) + " min";
  if (age < kDay) return std::to_string(age / kHour) + " h " + std::to_string(age % kHour / kMinute) + " min";
  return std::to_string(age / kDay) + " d " + std::to_string(age % kDay / kHour) + " h";
}

std::string ModelText(const ClockRecord& record) { return record.newPlatform ? "new platform" : "old platform"; }

Json IdentityJson(const ClockRecord& record, const ClockNames& names, CodePage cp) {
  Json identity;
  identity["address"] = FormatIpv4(record.ip);
  identity["serial"] = FromCodePage(std::string_view(record.serial.data()), cp);
  identity["mac"] = MacText(record.mac);
  identity["firmware"] = FormatFirmwareVersion(record.firmwareMajor, record.firmwareMinor);
  identity["name"] = names.Lookup(&record);
  identity["model"] = ModelText(record);
  identity["lastSync"] = record.lastSyncTime == 0 ? std::string() : FormatSyncTime(record.lastSyncTime);
  identity["syncServer"] = FormatIpv4(record.syncServerIp);
  return identity;
}

std::optional<double> TemperatureCelsius(const ClockRecord& record) {
  if (!RecordHasSensor(record)) return std::nullopt;
  const int tenths = TemperatureTenths(record.humiture);
  if (record.tempUnit == kUnitCelsius) return tenths / 10.0;
  // A tenth of a degree Fahrenheit is about 0.06 degrees Celsius: hundredths
  // keep all the clock knows without a tail of digits.
  if (record.tempUnit == kUnitFahrenheit) return std::round((tenths - 320) * 50.0 / 9.0) / 100.0;
  return std::nullopt;
}

std::optional<double> HumidityRatio(const ClockRecord& record) {
  if (!RecordHasSensor(record)) return std::nullopt;
  return (record.humiture.humidityWhole * 10 + record.humiture.humidityTenths) / 1000.0;
}

ClockReading ReadingOf(const ClockRecord& record, std::string name, CodePage codePage, bool displayRead) {
  ClockReading reading;
  reading.ip = record.ip;
  reading.serial = FromCodePage(std::string_view(record.serial.data()), codePage);
  reading.mac = MacText(record.mac);
  reading.name = std::move(name);
  reading.newPlatform = record.newPlatform;
  reading.firmware = FormatFirmwareVersion(record.firmwareMajor, record.firmwareMinor);
  reading.lastSync = record.lastSyncTime;
  reading.syncServer = record.syncServerIp;
  reading.displayRead = displayRead;
  if (displayRead) {
    reading.temperatureCelsius = TemperatureCelsius(record);
    reading.humidityRatio = HumidityRatio(record);
  }
  return reading;
}

ClockReading LaterReading(const ClockReading& earlier, ClockReading later) {
  if (!later.displayRead) {
    later.temperatureCelsius = earlier.temperatureCelsius;
    later.humidityRatio = earlier.humidityRatio;
  }
  return later;
}

}  // namespace marindo
