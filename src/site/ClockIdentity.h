#pragma once

// Who a clock is and how it stands, as every front end shows it: the command
// line's tables and JSON, the exporter's labels and the site view's rows.

#include <cstdint>
#include <optional>
#include <string>

#include "clocks/ClockNames.h"
#include "clocks/ClockRecord.h"
#include "platform/CodePage.h"
#include "settings/SettingsJson.h"

namespace marindo {

// How long ago a synchronisation was: "45 s", "12 min", "3 h 5 min", "2 d 4 h";
// "never" for time 0, "in the future" when the clock is ahead of us.
std::string AgeText(std::int64_t now, std::uint32_t lastSyncTime);
// "new platform" or "old platform".
std::string ModelText(const ClockRecord& record);

// The identity of a clock: address, serial, firmware, MAC, stored name, model,
// last synchronisation and its server.
Json IdentityJson(const ClockRecord& record, const ClockNames& names, CodePage cp);

// What one refresh learnt of a clock that answered its search.
struct ClockReading {
  std::uint32_t ip = 0;
  std::string serial;    // UTF-8
  std::string mac;       // "02-13-0A-D5-00-0B"; zeros behind a router
  std::string name;      // the operator's name for it, or ""
  bool newPlatform = false;
  std::string firmware;        // "4.02"
  std::uint32_t lastSync = 0;  // seconds since 1970; 0 when it never synchronised
  std::uint32_t syncServer = 0;
  // The clock answered the display-settings query of this refresh, so the
  // readings below are current (and absent without a sensor). Otherwise the
  // readings of an earlier refresh stand.
  bool displayRead = false;
  std::optional<double> temperatureCelsius;
  std::optional<double> humidityRatio;  // 0..1
};

// The temperature in degrees Celsius the record reports, Fahrenheit clocks
// converted (to hundredths); nothing without a sensor or with a unit the
// clocks do not define.
std::optional<double> TemperatureCelsius(const ClockRecord& record);
// The relative humidity as a ratio (45.6 % is 0.456); nothing without a sensor.
std::optional<double> HumidityRatio(const ClockRecord& record);

// The reading of a clock's record. `displayRead`: the record holds the
// clock's answer to this refresh's display-settings query.
ClockReading ReadingOf(const ClockRecord& record, std::string name, CodePage codePage, bool displayRead);

// A refresh's reading of a clock known from an earlier one: a refresh that
// did not get the display settings says nothing of the sensor, so the
// earlier readings of it stand.
ClockReading LaterReading(const ClockReading& earlier, ClockReading later);

}  // namespace marindo
