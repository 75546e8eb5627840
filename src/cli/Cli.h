#pragma once

// marindo-cli: the clocks of a whole site from a shell, on the same core as
// the windows, so that every frame it sends is one the windows send.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "cli/CliTerminal.h"
#include "link/LinkTimings.h"
#include "platform/Adapters.h"
#include "platform/CodePage.h"
#include "platform/Neighbours.h"
#include "platform/PortProbe.h"
#include "tftp/TftpClient.h"

namespace marindo {

enum CliStatus : int {
  kCliDone = 0,
  kCliClockFailed = 1,
  kCliBadInput = 2,
  kCliWrongPassword = 3,
};

// Everything the program takes from its surroundings; main passes the real
// ones.
struct CliEnvironment {
  std::ostream& out;
  std::ostream& err;
  std::FILE* progress;  // the upload bar, drawn only when this is a terminal
  PasswordSource& passwords;
  const AdapterSource& adapters;
  NeighbourLookup& neighbours;
  PortProbe& probe;
  std::filesystem::path settingsFile;
  CodePage codePage;
  LinkTimings linkTimings{};
  TftpTimings tftpTimings{};
  std::function<std::int64_t()> now;  // seconds since 1970
  // serve: returns when the exporter is to stop; when empty, that is on
  // SIGTERM or SIGINT.
  std::function<void()> waitForStop = {};
};

// Runs one command line (without the program name); the exit status.
int RunCli(std::span<const std::string> args, CliEnvironment& env);

}  // namespace marindo
