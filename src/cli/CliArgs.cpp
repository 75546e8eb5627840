#include "cli/CliArgs.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "platform/Ipv4.h"

namespace marindo {
namespace {

struct CommandShape {
  std::string_view name;
  std::size_t minOperands;
  std::size_t maxOperands;
};

constexpr std::array<CommandShape, 7> kCommands{{
    {"search", 0, 1},
    {"show", 1, 2},
    {"apply", 2, 2},
    {"backup", 1, 1},
    {"restore", 1, 1},
    {"upgrade", 2, 2},
    {"log", 2, 3},
}};

const CommandShape* FindCommand(std::string_view name) {
  const auto found = std::find_if(kCommands.begin(), kCommands.end(),
                                  [&](const CommandShape& shape) { return shape.name == name; });
  return found == kCommands.end() ? nullptr : &*found;
}

constexpr std::string_view kOverview =
    "Usage: marindo-cli [--password-file FILE] [--json] COMMAND [ARGUMENTS]\n"
    "\n"
    "Finds the wall clocks on the LAN and reads or writes their settings, many\n"
    "clocks at once, with the same frames as the marindo windows.\n"
    "\n"
    "Commands:\n"
    "  search [TARGET] [--unicast IP] list the clocks that answer a search\n"
    "  show TARGET [SECTION]          print settings (basic|ntp|display|text|bells|system|all)\n"
    "  apply TARGET FILE.json         write the sections present in FILE.json\n"
    "  backup TARGET                  print every setting of the clocks as JSON\n"
    "  restore FILE.json [--to IP] [--clock SERIAL|MAC]\n"
    "                                 write a backup back onto its clocks\n"
    "  upgrade TARGET FIRMWARE        upload firmware by TFTP\n"
    "  log TARGET DIR [NAME]          download a clock's log file into DIR\n"
    "\n"
    "TARGET is \"all\" (every clock a broadcast search finds), or a comma-separated\n"
    "list of addresses and ranges: 10.20.0.7, 10.20.0.0/22, 10.20.0.10-10.20.0.200.\n"
    "Broadcasts do not cross routers; a range is searched address by address, and\n"
    "its targets are the clocks that answer. An address given alone must answer.\n"
    "\n"
    "Options:\n"
    "  --password-file FILE  read the login password from the first line of FILE;\n"
    "                        without it the password is asked on the terminal\n"
    "  --json                print JSON for scripts instead of a table\n"
    "  --parallel N          clocks in flight at once (default 64, 1 to 1024)\n"
    "  --transfers N         firmware uploads and log downloads at once (default 8)\n"
    "  --rate N              search requests per second when a range is searched\n"
    "                        (default 10000)\n"
    "  --help                this text; COMMAND --help explains one command\n"
    "\n"
    "Exit status: 0 all clocks done, 1 a clock failed, 2 bad input (nothing was\n"
    "sent), 3 wrong password.\n";

constexpr std::string_view kSearchHelp =
    "Usage: marindo-cli search [TARGET] [--unicast IP] [--rate N] [--json]\n"
    "\n"
    "Broadcasts the search request on every local network (or sends it to IP\n"
    "alone, or to every address of TARGET) and lists the clocks that answer:\n"
    "address, serial, firmware, MAC, stored name, model, last time\n"
    "synchronisation in local time and its age. A clock behind a router has no\n"
    "MAC to show: ARP does not cross routers.\n";

constexpr std::string_view kShowHelp =
    "Usage: marindo-cli show TARGET [basic|ntp|display|text|bells|system|all] [--json]\n"
    "\n"
    "Queries the clocks and prints their settings as named fields. --json prints\n"
    "the schema that apply, backup and restore read.\n";

constexpr std::string_view kApplyHelp =
    "Usage: marindo-cli apply TARGET FILE.json [--json]\n"
    "\n"
    "Writes the sections present in FILE.json (the schema show --json prints; a\n"
    "section may give only some of its fields). Each section goes to each clock\n"
    "as one modify frame, built from the clock's current settings with the\n"
    "file's fields laid over them. Prints per clock what it answered for each\n"
    "section. The whole file is checked before anything is sent.\n";

constexpr std::string_view kBackupHelp =
    "Usage: marindo-cli backup TARGET > site.json\n"
    "\n"
    "Prints every setting of every target clock as JSON, keyed by serial and MAC.\n"
    "One result line per clock goes to standard error.\n";

constexpr std::string_view kRestoreHelp =
    "Usage: marindo-cli restore site.json [--to IP] [--clock SERIAL|MAC] [--json]\n"
    "\n"
    "Writes each clock's saved settings back onto the clock with the same serial\n"
    "and MAC, wherever it is now. With --to, one saved clock (the only one in the\n"
    "file, or the one --clock names) is written onto the clock at IP, for\n"
    "example a replacement.\n";

constexpr std::string_view kUpgradeHelp =
    "Usage: marindo-cli upgrade TARGET FIRMWARE [--json]\n"
    "\n"
    "Announces the upgrade and uploads FIRMWARE to each clock by TFTP, up to\n"
    "--transfers at once. A new-platform clock takes a .tar file, any other a\n"
    ".bin or .hex file. On a terminal a progress bar follows the upload of a\n"
    "single clock, and a count of the clocks done follows several.\n";

constexpr std::string_view kLogHelp =
    "Usage: marindo-cli log TARGET DIR [NAME] [--json]\n"
    "\n"
    "Downloads /usr/tftpfile/NAME (default log.txt) from each new-platform clock\n"
    "into DIR, as <address>log.txt; an existing file is never overwritten.\n";

bool TakesValue(std::string_view option) {
  return option == "--password-file" || option == "--unicast" || option == "--to" || option == "--clock" ||
         option == "--parallel" || option == "--transfers" || option == "--rate";
}

// A whole number from `least` to `most`, as an option's value.
std::optional<long> CountIn(std::string_view text, long least, long most) {
  if (text.empty() || text.size() > 9 || !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const long value = std::stol(std::string(text));
  if (value < least || value > most) return std::nullopt;
  return value;
}

// The numeric options; false with `problem` set when one is not a number in its range.
bool TakeNumber(CliArgs& args, std::string_view option, std::string_view text, std::string& problem) {
  struct Limits {
    std::string_view option;
    long least;
    long most;
  };
  constexpr std::array<Limits, 3> kLimits{{{"--parallel", 1, 1024}, {"--transfers", 1, 64}, {"--rate", 1, 1000000}}};
  const auto* limits = std::ranges::find(kLimits, option, &Limits::option);
  const std::optional<long> value = CountIn(text, limits->least, limits->most);
  if (!value) {
    problem = std::string(option) + " takes a whole number from " + std::to_string(limits->least) + " to " +
              std::to_string(limits->most);
    return false;
  }
  if (option == "--parallel") args.parallel = static_cast<std::size_t>(*value);
  if (option == "--transfers") args.transfers = static_cast<std::size_t>(*value);
  if (option == "--rate") args.rate = static_cast<int>(*value);
  return true;
}

std::optional<std::string>* OptionSlot(CliArgs& args, std::string_view option) {
  if (option == "--password-file") return &args.passwordFile;
  if (option == "--unicast") return &args.unicast;
  if (option == "--to") return &args.to;
  if (option == "--clock") return &args.clock;
  return nullptr;
}

std::optional<std::string> CheckOptionFitsCommand(const CliArgs& args) {
  if (args.unicast && args.command != "search") return "--unicast belongs to search";
  if (args.unicast && !args.operands.empty()) return "search takes --unicast IP or TARGET, not both";
  if ((args.to || args.clock) && args.command != "restore") return "--to and --clock belong to restore";
  return std::nullopt;
}

std::optional<std::string> CheckOperands(const CliArgs& args) {
  if (args.command.empty()) {
    if (!args.operands.empty()) return "unknown command \"" + args.operands.front() + "\"";
    return args.help ? std::nullopt : std::optional<std::string>("no command given");
  }
  const CommandShape* shape = FindCommand(args.command);
  const std::size_t count = args.operands.size();
  if (args.help) return std::nullopt;
  if (count < shape->minOperands) return args.command + ": missing arguments";
  if (count > shape->maxOperands) return args.command + ": unexpected argument \"" + args.operands.back() + "\"";
  return std::nullopt;
}

}  // namespace

std::variant<CliArgs, std::string> ParseCliArgs(std::span<const std::string> args) {
  CliArgs parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      parsed.help = true;
    } else if (!optionsEnded && arg == "--json") {
      parsed.json = true;
    } else if (!optionsEnded && TakesValue(arg)) {
      if (i + 1 >= args.size()) return arg + " needs a value";
      std::optional<std::string>* slot = OptionSlot(parsed, arg);
      if (slot == nullptr) {
        std::string problem;
        if (!TakeNumber(parsed, arg, args[++i], problem)) return problem;
        continue;
      }
      if (slot->has_value()) return arg + " is given twice";
      *slot = args[++i];
    } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
      return "unknown option \"" + arg + "\"";
    } else if (parsed.command.empty() && parsed.operands.empty() && FindCommand(arg) != nullptr) {
      parsed.command = arg;
    } else {
      parsed.operands.push_back(arg);
    }
  }
  if (auto problem = CheckOperands(parsed)) return *problem;
  if (auto problem = CheckOptionFitsCommand(parsed)) return *problem;
  return parsed;
}

std::string UsageText(std::string_view command) {
  if (command == "search") return std::string(kSearchHelp);
  if (command == "show") return std::string(kShowHelp);
  if (command == "apply") return std::string(kApplyHelp);
  if (command == "backup") return std::string(kBackupHelp);
  if (command == "restore") return std::string(kRestoreHelp);
  if (command == "upgrade") return std::string(kUpgradeHelp);
  if (command == "log") return std::string(kLogHelp);
  return std::string(kOverview);
}

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
  const std::optional<long> length = CountIn(bits, 0, 32);
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
