#pragma once

// The clocks to work on, as the operator writes them: on marindo-cli's
// command line, in the exporter's config file and in the site view's ranges.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace marindo {

// TARGET: "all", or a comma-separated list of addresses and ranges
// ("10.20.0.0/22", "10.20.0.10-10.20.0.200").
struct Targets {
  bool all = false;
  std::vector<std::uint32_t> addresses;  // in the order given, without repeats
  // The addresses given one by one: each must answer. In a range, only the
  // addresses where a clock answers are targets.
  std::vector<std::uint32_t> required;
  static constexpr std::size_t kMaxAddresses = 65536;
};
std::variant<Targets, std::string> ParseTargets(std::string_view text);

// An address a clock can have: strict dotted quad, neither 0.0.0.0 nor a
// broadcast address of all ones.
std::variant<std::uint32_t, std::string> ParseClockAddress(std::string_view text);

}  // namespace marindo
