#pragma once

// The log download without its window: the operator's messages.

#include <cstdint>
#include <string>
#include <string_view>

#include "tftp/TftpClient.h"

namespace marindo {

inline constexpr const char* kLogDefaultName = "log.txt";
inline constexpr const char* kFillInFileName = "Please fill in the file name";
inline constexpr const char* kSelectSavePath = "Please select a path to save the file";

// What the operator is told after a download of `name` from `clockIp`. The
// done and already-exists messages name the file as the address followed by
// log.txt whatever name was typed, as operators know them.
std::string DownloadOutcomeMessage(DownloadOutcome outcome, std::uint32_t clockIp, std::string_view name);

}  // namespace marindo
