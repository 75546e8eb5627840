#include "platform/SettingsPath.h"

#include <cstdlib>

namespace marindo {
namespace {

constexpr const char* kOverrideVariable = "MARINDO_SETTINGS";
constexpr const char* kMachineSettingsFile = "/var/lib/marindo/Tessaly.ini";

}  // namespace

std::filesystem::path SettingsFilePath() {
  const char* chosen = std::getenv(kOverrideVariable);
  if (chosen != nullptr && *chosen != '\0') {
    return chosen;
  }
  return kMachineSettingsFile;
}

}  // namespace marindo
