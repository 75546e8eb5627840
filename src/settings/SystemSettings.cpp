#include "settings/SystemSettings.h"

#include <cstdio>

namespace marindo {

SystemInfo SystemInfoFromRecord(const ClockRecord& record) {
  SystemInfo info;
  info.newPlatform = record.newPlatform;
  info.uptimeDays = record.uptimeDays != 0 ? unsigned{record.uptimeDays} : unsigned{record.textLead};
  return info;
}

std::string MacText(const std::array<std::uint8_t, 6>& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  return text;
}

}  // namespace marindo
