#include "cli/CliArgs.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <map>

namespace marindo {
namespace {

struct CommandShape {
  std::string_view name;
  std::size_t minOperands;
  std::size_t maxOperands;
};

constexpr std::array<CommandShape, 8> kCommands{{
    {"search", 0, 1},
    {"show", 1, 2},
    {"apply", 2, 2},
    {"backup", 1, 1},
    {"restore", 1, 1},
    {"upgrade", 2, 2},
    {"log", 2, 3},
    {"serve", 0, 1},
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
    "  serve [TARGET] [--listen ADDR:PORT] [--interval SECONDS] [--config FILE]\n"
    "                                 export the site's clocks to Prometheus\n"
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
    "  --dry-run             apply, restore: read the clocks and print what would\n"
    "                        change on each, field by field; nothing is written\n"
    "  --trace FILE          write one line per frame and TFTP packet sent or\n"
    "                        received to FILE (\"-\": standard error)\n"
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
    "Usage: marindo-cli apply TARGET FILE.json [--dry-run] [--json]\n"
    "\n"
    "Writes the sections present in FILE.json (the schema show --json prints; a\n"
    "section may give only some of its fields). Each section goes to each clock\n"
    "as one modify frame, built from the clock's current settings with the\n"
    "file's fields laid over them. Prints per clock what it answered for each\n"
    "section. The whole file is checked before anything is sent.\n"
    "\n"
    "With --dry-run the clocks are only read: each field that would change is\n"
    "printed as FIELD: OLD \u2192 NEW, a section with nothing to change as \"no\n"
    "change\". --json prints the same plan with the frame each section would send.\n";

constexpr std::string_view kBackupHelp =
    "Usage: marindo-cli backup TARGET > site.json\n"
    "\n"
    "Prints every setting of every target clock as JSON, keyed by serial and MAC.\n"
    "One result line per clock goes to standard error.\n";

constexpr std::string_view kRestoreHelp =
    "Usage: marindo-cli restore site.json [--to IP] [--clock SERIAL|MAC] [--dry-run] [--json]\n"
    "\n"
    "Writes each clock's saved settings back onto the clock with the same serial\n"
    "and MAC, wherever it is now. With --to, one saved clock (the only one in the\n"
    "file, or the one --clock names) is written onto the clock at IP, for\n"
    "example a replacement. With --dry-run nothing is written: the clocks are\n"
    "read and what would change is printed, as apply --dry-run prints it.\n";

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

constexpr std::string_view kServeHelp =
    "Usage: marindo-cli serve [TARGET] [--listen ADDR:PORT] [--interval SECONDS]\n"
    "                         [--forget-after SECONDS] [--config FILE]\n"
    "                         [--parallel N] [--rate N]\n"
    "\n"
    "The site exporter for Prometheus. Every --interval seconds (default 60) it\n"
    "searches the site as search does (broadcast, plus the addresses and ranges\n"
    "of TARGET) and reads each clock's display settings for its sensor; it\n"
    "serves the result at http://ADDR:PORT/metrics (default 127.0.0.1:9477).\n"
    "A scrape is answered from memory. A clock that stops answering is reported\n"
    "with marindo_clock_up 0 and its last values until it has been silent for\n"
    "--forget-after seconds (default 86400).\n"
    "\n"
    "  --listen ADDR:PORT     address and port of the HTTP server; 0.0.0.0 for all\n"
    "  --interval SECONDS     seconds between refreshes, 1 to 86400\n"
    "  --forget-after SECONDS how long a silent clock is still reported\n"
    "  --config FILE          read [exporter] listen, interval, forget-after and\n"
    "                         targets from FILE; the command line overrides it\n"
    "\n"
    "It reads no password and changes nothing on the clocks; names come from the\n"
    "settings file when it can be read. It logs one line per refresh to standard\n"
    "error and stops on SIGTERM or SIGINT with status 0. A port in use, a bad\n"
    "--listen, a malformed range or config file end it with status 2 before\n"
    "anything is sent.\n";

// A whole number from `least` to `most`, as an option's value.
std::optional<long> CountIn(std::string_view text, long least, long most) {
  if (text.empty() || text.size() > 9 || !std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  const long value = std::stol(std::string(text));
  if (value < least || value > most) return std::nullopt;
  return value;
}

// The options as CLI11 reads them. None is bound to a variable: each value
// is checked afterwards, in the order given, so that the first mistake on the
// line is the one told, in our own words. No option is tied to a command, so
// that "--unicast" after "show" is reported as misplaced rather than unknown.
struct TextOption {
  const CLI::Option* option;
  std::optional<std::string> CliArgs::*slot;  // may be given once
};

struct NumberOption {
  const CLI::Option* option;
  long least;
  long most;
  void (*store)(CliArgs&, long);  // given more than once, the last one counts
};

// One option as it came on the line, with the number of other words CLI11
// had set aside (unknown options, operands) before it and of the words left
// to read after its value.
struct Given {
  const CLI::Option* option;
  std::string value;
  std::size_t wordsBefore;
  std::size_t wordsAfter;
};

struct OptionSet {
  const CLI::Option* help = nullptr;
  const CLI::Option* json = nullptr;
  const CLI::Option* dryRun = nullptr;
  std::array<TextOption, 7> texts{};
  std::array<NumberOption, 5> numbers{};
};

OptionSet AddOptions(CLI::App& app, const std::vector<std::string>& unread, std::vector<Given>& given) {
  // The usage texts are ours, and so is what --help does.
  app.set_help_flag();
  // Unknown options and every operand land in remaining(), as given: a
  // positional option of CLI11 would read "[a,b]" as a list of two.
  app.allow_extras();
  // Each value is written down as it is read; CLI11 itself refuses nothing.
  const auto noted = [&](CLI::Option* option) {
    option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->trigger_on_parse()
        ->each([&app, &unread, &given, option](const std::string& value) {
          given.push_back({option, value, app.remaining_size(), unread.size()});
        });
    return option;
  };
  const auto valued = [&](const std::string& name) { return noted(app.add_option(name)); };
  OptionSet set;
  set.help = noted(app.add_flag("-h,--help"));
  set.json = noted(app.add_flag("--json"));
  set.dryRun = noted(app.add_flag("--dry-run"));
  set.texts = {{{valued("--password-file"), &CliArgs::passwordFile},
                {valued("--unicast"), &CliArgs::unicast},
                {valued("--to"), &CliArgs::to},
                {valued("--clock"), &CliArgs::clock},
                {valued("--listen"), &CliArgs::listen},
                {valued("--config"), &CliArgs::config},
                {valued("--trace"), &CliArgs::trace}}};
  set.numbers = {{
      {valued("--parallel"), 1, 1024, [](CliArgs& args, long n) { args.parallel = static_cast<std::size_t>(n); }},
      {valued("--transfers"), 1, 64, [](CliArgs& args, long n) { args.transfers = static_cast<std::size_t>(n); }},
      {valued("--rate"), 1, 1000000, [](CliArgs& args, long n) { args.rate = static_cast<int>(n); }},
      {valued("--interval"), 1, 86400, [](CliArgs& args, long n) { args.interval = n; }},
      {valued("--forget-after"), 1, 31536000, [](CliArgs& args, long n) { args.forgetAfter = n; }},
  }};
  return set;
}

// The words CLI11 set aside hold, in order, the unknown options, then "--"
// if it was given, and every operand: a word with a dash before "--" is an
// option. Returns the place of the first unknown option, or words.size().
std::size_t TakeOperands(const std::vector<std::string>& words, CliArgs& args) {
  std::size_t unknown = words.size();
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && word.size() > 1 && word.front() == '-') {
      unknown = std::min(unknown, i);
    } else if (args.command.empty() && args.operands.empty() && FindCommand(word) != nullptr) {
      args.command = word;
    } else {
      args.operands.push_back(word);
    }
  }
  return unknown;
}

// CLI11 reads "--rate= 500" as "--rate 500"; an empty value after "=" is
// taken as none instead, so that "--password-file= apply ..." does not read
// the command as the file.
bool EmptyAfterEquals(std::span<const std::string> line, const Given& given) {
  const std::size_t at = line.size() - given.wordsAfter - 1;  // the word that gave the value
  const std::string assigned = given.option->get_name() + "=";
  return line[at] != assigned + given.value && at > 0 && line[at - 1] == assigned;
}

std::optional<std::string> TakeOption(std::span<const std::string> line, const OptionSet& set, const Given& given,
                                      std::map<const CLI::Option*, int>& seen, CliArgs& args) {
  const CLI::Option* option = given.option;
  if (option == set.help || option == set.json || option == set.dryRun) {
    // A flag holds "true"; anything else came as --flag=VALUE.
    if (given.value != "true") return "unknown option \"" + option->get_name() + "=" + given.value + "\"";
    (option == set.help ? args.help : option == set.json ? args.json : args.dryRun) = true;
    return std::nullopt;
  }
  if (EmptyAfterEquals(line, given)) return option->get_name() + " needs a value";
  if (const auto* text = std::ranges::find(set.texts, option, &TextOption::option); text != set.texts.end()) {
    if (seen[option]++ > 0) return option->get_name() + " is given twice";
    args.*(text->slot) = given.value;
    return std::nullopt;
  }
  const auto* number = std::ranges::find(set.numbers, option, &NumberOption::option);
  const std::optional<long> count = CountIn(given.value, number->least, number->most);
  if (!count) {
    return option->get_name() + " takes a whole number from " + std::to_string(number->least) + " to " +
           std::to_string(number->most);
  }
  number->store(args, *count);
  return std::nullopt;
}

std::optional<std::string> CheckOptionFitsCommand(const CliArgs& args) {
  if (args.unicast && args.command != "search") return "--unicast belongs to search";
  if (args.unicast && !args.operands.empty()) return "search takes --unicast IP or TARGET, not both";
  if ((args.to || args.clock) && args.command != "restore") return "--to and --clock belong to restore";
  if ((args.listen || args.config || args.interval || args.forgetAfter) && args.command != "serve") {
    return "--listen, --interval, --forget-after and --config belong to serve";
  }
  if (args.passwordFile && args.command == "serve") return "serve reads no password: leave out --password-file";
  if (args.dryRun && args.command != "apply" && args.command != "restore") {
    return "--dry-run belongs to apply and restore";
  }
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
  CLI::App app;
  // CLI11 takes the words last one first, and pops each one it reads.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  std::vector<Given> given;
  const OptionSet set = AddOptions(app, reversed, given);
  std::optional<std::string> missingValue;
  try {
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch&) {
    // An option's value is whatever word follows it, so only the last word
    // of the line ("--rate", "--rate=") can lack one. Everything before it
    // has been read, and a mistake there comes first.
    const std::string& last = args.back();
    missingValue = last.substr(0, last.find('=')) + " needs a value";
  } catch (const CLI::ParseError& error) {
    return error.what();
  }
  CliArgs parsed;
  const std::size_t unknown = TakeOperands(app.remaining(), parsed);
  std::map<const CLI::Option*, int> seen;
  for (const Given& option : given) {
    if (unknown < option.wordsBefore) break;
    if (auto problem = TakeOption(args, set, option, seen, parsed)) return *problem;
  }
  if (unknown < app.remaining_size()) return "unknown option \"" + app.remaining()[unknown] + "\"";
  if (missingValue) return *missingValue;
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
  if (command == "serve") return std::string(kServeHelp);
  return std::string(kOverview);
}

}  // namespace marindo
