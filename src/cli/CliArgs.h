#pragma once

// The command line of marindo-cli, read without touching the network.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace marindo {

struct CliArgs {
  std::string command;  // search, show, apply, backup, restore, upgrade, log, serve; empty for the overview
  bool help = false;
  bool json = false;
  bool dryRun = false;  // apply, restore: read the clocks and print the plan; write nothing
  std::optional<std::string> passwordFile;
  std::optional<std::string> unicast;  // search --unicast IP
  std::optional<std::string> to;       // restore --to IP
  std::optional<std::string> clock;    // restore --clock SERIAL|MAC
  std::optional<std::string> listen;   // serve --listen ADDR:PORT
  std::optional<std::string> config;   // serve --config FILE
  std::optional<std::string> trace;    // --trace FILE, or "-" for standard error
  // serve: seconds between refreshes, and seconds a silent clock is kept;
  // nothing when not given, so that the config file's value counts.
  std::optional<long> interval;
  std::optional<long> forgetAfter;
  std::vector<std::string> operands;   // the command's positional arguments
  std::size_t parallel = kDefaultParallel;    // clocks in flight at once
  std::size_t transfers = kDefaultTransfers;  // TFTP transfers at once
  int rate = kDefaultRate;                    // search requests per second of a sweep

  static constexpr std::size_t kDefaultParallel = 64;
  static constexpr std::size_t kDefaultTransfers = 8;
  // A sweep of a /16 takes about 20 s at this rate, three passes included;
  // each clock still gets one datagram a pass.
  static constexpr int kDefaultRate = 10000;
};

// The arguments after the program name, or what is wrong with them.
std::variant<CliArgs, std::string> ParseCliArgs(std::span<const std::string> args);

// The help text of one command, or of the program when `command` is empty.
std::string UsageText(std::string_view command);

}  // namespace marindo
