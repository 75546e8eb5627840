#include "site/Targets.h"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_set>

#include "platform/Ipv4.h"

namespace marindo {
namespace {

// A prefix length, 0 to 32, in decimal digits only (no sign, no blanks).
std::optional<long> PrefixLength(std::string_view text) {
  if (text.empty() || text.size() > 9 || !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const long value = std::stol(std::string(text));
  if (value > 32) return std::nullopt;
  return value;
}

}  // namespace

std::variant<std::uint32_t, std::string> ParseClockAddress(std::string_view text) {
  const std::optional<std::uint32_t> address = ParseDottedQuad(text);
  if (!address) return "\"" + std::string(text) + "\" is not an address (four numbers 0-255, like 10.0.0.5)";
  if (*address == 0 || *address == 0xFFFFFFFFU) {
    return "\"" + std::string(text) + "\" is not the address of a clock";
  }
  return *address;
}

namespace {

struct AddressSpan {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  bool single = false;
};

// "10.20.0.0/22": the hosts of the network, without its network and
// broadcast addresses (a /31 or /32 keeps all).
std::variant<AddressSpan, std::string> ParseNetwork(std::string_view text, std::size_t slash) {
  const std::string_view base = text.substr(0, slash);
  const std::string_view bits = text.substr(slash + 1);
  const std::optional<std::uint32_t> address = ParseDottedQuad(base);
  const std::optional<long> length = PrefixLength(bits);
  if (!address || !length) {
    return "\"" + std::string(text) + "\" is not a network (an address, / and a prefix length 0-32, like 10.20.0.0/22)";
  }
  const std::uint32_t mask = *length == 0 ? 0 : ~std::uint32_t{0} << (32 - *length);
  if ((*address & ~mask) != 0) {
    return "\"" + std::string(text) + "\" is not a network address: did you mean " + FormatIpv4(*address & mask) +
           "/" + std::string(bits) + "?";
  }
  AddressSpan span{.first = *address, .last = *address | ~mask};
  if (*length <= 30) {
    ++span.first;
    --span.last;
  }
  return span;
}

// "10.20.0.10-10.20.0.200", both ends included.
std::variant<AddressSpan, std::string> ParseRange(std::string_view text, std::size_t dash) {
  auto first = ParseClockAddress(text.substr(0, dash));
  if (auto* problem = std::get_if<std::string>(&first)) return "range " + *problem;
  auto last = ParseClockAddress(text.substr(dash + 1));
  if (auto* problem = std::get_if<std::string>(&last)) return "range " + *problem;
  const AddressSpan span{.first = std::get<std::uint32_t>(first), .last = std::get<std::uint32_t>(last)};
  if (span.last < span.first) return "range \"" + std::string(text) + "\" ends before it starts";
  return span;
}

std::variant<AddressSpan, std::string> ParseTargetPart(std::string_view part) {
  if (const std::size_t slash = part.find('/'); slash != std::string_view::npos) return ParseNetwork(part, slash);
  if (const std::size_t dash = part.find('-'); dash != std::string_view::npos) return ParseRange(part, dash);
  auto address = ParseClockAddress(part);
  if (auto* problem = std::get_if<std::string>(&address)) return "target " + *problem;
  const std::uint32_t ip = std::get<std::uint32_t>(address);
  return AddressSpan{.first = ip, .last = ip, .single = true};
}

}  // namespace

std::variant<Targets, std::string> ParseTargets(std::string_view text) {
  Targets targets;
  if (text == "all") {
    targets.all = true;
    return targets;
  }
  std::vector<AddressSpan> spans;
  std::uint64_t total = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view part = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
    auto span = ParseTargetPart(part);
    if (auto* problem = std::get_if<std::string>(&span)) return *problem;
    const AddressSpan& parsed = std::get<AddressSpan>(span);
    const std::uint64_t size = std::uint64_t{parsed.last} - parsed.first + 1;
    total += size;
    if (size > Targets::kMaxAddresses) {
      return "range \"" + std::string(part) + "\" holds " + std::to_string(size) + " addresses; at most " +
             std::to_string(Targets::kMaxAddresses) + " can be searched at once";
    }
    if (total > Targets::kMaxAddresses) {
      return "the targets hold more than " + std::to_string(Targets::kMaxAddresses) +
             " addresses; search at most that many at once";
    }
    spans.push_back(parsed);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  std::unordered_set<std::uint32_t> seen;
  for (const AddressSpan& span : spans) {
    for (std::uint64_t ip = span.first; ip <= span.last; ++ip) {
      const auto address = static_cast<std::uint32_t>(ip);
      if (span.single && std::ranges::find(targets.required, address) == targets.required.end()) {
        targets.required.push_back(address);
      }
      if (seen.insert(address).second) targets.addresses.push_back(address);
    }
  }
  return targets;
}

}  // namespace marindo
