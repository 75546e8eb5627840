#pragma once

#include <filesystem>

namespace marindo {

// The one settings file of the machine, shared by every run and every
// operator: the login password and the clock names. MARINDO_SETTINGS, when set
// and not empty, names another file (tests, sandboxed runs).
std::filesystem::path SettingsFilePath();

}  // namespace marindo
