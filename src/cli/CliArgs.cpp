#include "cli/CliArgs.h"

#include <algorithm>
#include <array>

#include "platform/Ipv4.h"

namespace marindo {
namespace {

struct CommandShape {
  std::string_view name;
  std::size_t minOperands;
  std::size_t maxOperands;
};

constexpr std::array<CommandShape, 7> kCommands{{
    {"search", 0, 0},
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
    "Finds the wall clocks on the LAN and reads or writes their settings, one\n"
    "clock after another, with the same frames as the marindo windows.\n"
    "\n"
    "Commands:\n"
    "  search [--unicast IP]          list the clocks that answer a search\n"
    "  show TARGET [SECTION]          print settings (basic|ntp|display|text|bells|system|all)\n"
    "  apply TARGET FILE.json         write the sections present in FILE.json\n"
    "  backup TARGET                  print every setting of the clocks as JSON\n"
    "  restore FILE.json [--to IP] [--clock SERIAL|MAC]\n"
    "                                 write a backup back onto its clocks\n"
    "  upgrade TARGET FIRMWARE        upload firmware by TFTP\n"
    "  log TARGET DIR [NAME]          download a clock's log file into DIR\n"
    "\n"
    "TARGET is an address, a comma-separated list of addresses, or \"all\" (every\n"
    "clock a broadcast search finds).\n"
    "\n"
    "Options:\n"
    "  --password-file FILE  read the login password from the first line of FILE;\n"
    "                        without it the password is asked on the terminal\n"
    "  --json                print JSON for scripts instead of a table\n"
    "  --help                this text; COMMAND --help explains one command\n"
    "\n"
    "Exit status: 0 all clocks done, 1 a clock failed, 2 bad input (nothing was\n"
    "sent), 3 wrong password.\n";

constexpr std::string_view kSearchHelp =
    "Usage: marindo-cli search [--unicast IP] [--json]\n"
    "\n"
    "Broadcasts the search request on every local network (or sends it to IP\n"
    "alone) and lists the clocks that answer: address, serial, firmware, MAC,\n"
    "stored name, model, last time synchronisation in local time and its age.\n";

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
    "Announces the upgrade and uploads FIRMWARE to each clock by TFTP. A\n"
    "new-platform clock takes a .tar file, any other a .bin or .hex file. On a\n"
    "terminal a progress bar follows each upload.\n";

constexpr std::string_view kLogHelp =
    "Usage: marindo-cli log TARGET DIR [NAME] [--json]\n"
    "\n"
    "Downloads /usr/tftpfile/NAME (default log.txt) from each new-platform clock\n"
    "into DIR, as <address>log.txt; an existing file is never overwritten.\n";

bool TakesValue(std::string_view option) {
  return option == "--password-file" || option == "--unicast" || option == "--to" || option == "--clock";
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

std::variant<Targets, std::string> ParseTargets(std::string_view text) {
  Targets targets;
  if (text == "all") {
    targets.all = true;
    return targets;
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view part = text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
    auto address = ParseClockAddress(part);
    if (auto* problem = std::get_if<std::string>(&address)) return "target " + *problem;
    const std::uint32_t ip = std::get<std::uint32_t>(address);
    if (std::find(targets.addresses.begin(), targets.addresses.end(), ip) == targets.addresses.end()) {
      targets.addresses.push_back(ip);
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return targets;
}

}  // namespace marindo
