#pragma once

// The command line of marindo-cli, read without touching the network.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace marindo {

struct CliArgs {
  std::string command;  // search, show, apply, backup, restore, upgrade, log; empty for the overview
  bool help = false;
  bool json = false;
  std::optional<std::string> passwordFile;
  std::optional<std::string> unicast;  // search --unicast IP
  std::optional<std::string> to;       // restore --to IP
  std::optional<std::string> clock;    // restore --clock SERIAL|MAC
  std::vector<std::string> operands;   // the command's positional arguments
};

// The arguments after the program name, or what is wrong with them.
std::variant<CliArgs, std::string> ParseCliArgs(std::span<const std::string> args);

// The help text of one command, or of the program when `command` is empty.
std::string UsageText(std::string_view command);

// TARGET: "all", one address or a comma-separated list of addresses.
struct Targets {
  bool all = false;
  std::vector<std::uint32_t> addresses;  // in the order given, without repeats
};
std::variant<Targets, std::string> ParseTargets(std::string_view text);

// An address a clock can have: strict dotted quad, neither 0.0.0.0 nor a
// broadcast address of all ones.
std::variant<std::uint32_t, std::string> ParseClockAddress(std::string_view text);

}  // namespace marindo
