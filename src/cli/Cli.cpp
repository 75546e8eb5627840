#include "cli/Cli.h"

#include <algorithm>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <fstream>
#include <memory>
#include <optional>
#include <semaphore>
#include <variant>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/CliOutput.h"
#include "cli/ClockSession.h"
#include "cli/Exporter.h"
#include "cli/TraceWriter.h"
#include "clocks/ClockNames.h"
#include "clocks/PasswordStore.h"
#include "link/CommandCodes.h"
#include "link/SiteEngine.h"
#include "platform/Ipv4.h"
#include "platform/Signals.h"
#include "settings/FirmwareUpgrade.h"
#include "settings/LogDownload.h"
#include "settings/ModifyMessages.h"
#include "settings/SectionPlan.h"
#include "settings/SettingsJson.h"
#include "site/SectionWriter.h"
#include "site/SiteFile.h"
#include "site/Targets.h"

namespace marindo {
namespace {

constexpr const char* kProgram = "marindo-cli";
constexpr int kPasswordTries = 3;

struct BadInput {
  std::string message;
};

// One clock's outcome, as one result line.
struct ClockResult {
  std::uint32_t ip = 0;
  std::string serial;
  bool ok = true;
  std::vector<std::pair<std::string, std::string>> parts;  // section or step, what happened
  std::vector<PlannedSection> plan;                        // --dry-run: the sections that have a frame
};

// "basic: Modify success!; ntp: Modify failed!".
std::string ResultText(const ClockResult& result) {
  std::string text;
  for (const auto& [part, message] : result.parts) {
    text += (text.empty() ? "" : "; ") + (part.empty() ? message : part + ": " + message);
  }
  return text;
}

// "10.213.0.20  HALL0001  firmware 1.05  old platform  hall".
std::string ClockHeading(const Json& clock) {
  std::string heading = clock["address"].get<std::string>() + "  " + clock["serial"].get<std::string>() +
                        "  firmware " + clock["firmware"].get<std::string>() + "  " +
                        clock["model"].get<std::string>();
  if (const std::string name = clock["name"]; !name.empty()) heading += "  " + name;
  return heading;
}

// An empty table cell reads as "-".
std::string Cell(const Json& text) {
  const std::string value = text;
  return value.empty() ? "-" : value;
}

// The start of a clock's line in a JSON report: who it is and whether it
// all went well.
Json ResultLine(const ClockResult& result) {
  Json line;
  line["address"] = FormatIpv4(result.ip);
  line["serial"] = result.serial;
  line["ok"] = result.ok;
  return line;
}

int StatusOf(const std::vector<ClockResult>& results) {
  const bool allOk = std::ranges::all_of(results, [](const ClockResult& result) { return result.ok; });
  return allOk ? kCliDone : kCliClockFailed;
}

// What jobs running at once leave, one slot per target; the targets may
// grow in number while the jobs run (a search still finding clocks).
template <typename T>
class Slots {
 public:
  T& At(std::size_t index) {
    const std::lock_guard lock(mutex_);
    // Growing a deque at its end leaves the slots already handed out in place.
    if (items_.size() <= index) items_.resize(index + 1);
    return items_[index];
  }
  std::vector<T> Take(std::size_t count) {
    const std::lock_guard lock(mutex_);
    items_.resize(count);
    return {std::make_move_iterator(items_.begin()), std::make_move_iterator(items_.end())};
  }

 private:
  std::mutex mutex_;
  std::deque<T> items_;
};

class CliRun {
 public:
  CliRun(const CliArgs& args, CliEnvironment& env)
      : args_(args), env_(env), names_(env.settingsFile, env.codePage) {}

  int Run();

 private:
  int RunCommand();
  // Checks made before anything is sent.
  std::optional<BadInput> CheckInput();
  std::optional<BadInput> CheckOwnAddress() const;
  int Login();
  bool OpenLink();
  std::variant<std::vector<std::uint32_t>, BadInput> ResolveTargets(const Targets& targets);
  // The clocks to work on, or the exit status when there are none.
  std::variant<std::vector<std::uint32_t>, int> TargetClocks();

  int Search();
  int Show();
  int Apply();
  int Backup();
  int Restore();
  int Upgrade();
  int Log();
  int Serve();
  // The exporter's settings from its config file and the command line.
  std::variant<ExporterOptions, BadInput> ServeOptions();

  Json ClockJson(std::uint32_t ip, const std::vector<Section>& sections, ClockResult& result);
  // Writes the clock object's sections, or with --dry-run plans them.
  void WriteSections(std::uint32_t ip, const Json& clock, ClockResult& result);
  std::optional<BadInput> ChooseSavedClocks();
  // The clock of a saved clock the broadcast did not find, at its saved address.
  std::optional<std::uint32_t> FindUnheardClock(const Json& saved);
  ClockResult MissingClock(const Json& saved);

  // Runs job(i) for each of `count` clocks, many at once, with the progress
  // line on a terminal.
  void OnEveryClock(std::size_t count, const std::function<void(std::size_t)>& job);
  // job(i, ip) for every target clock, many at once: for "all" while the
  // broadcast search still finds them, each as soon as it is found. The
  // targets in order, or the exit status when there are none.
  std::variant<std::vector<std::uint32_t>, int> OnEveryTarget(
      const std::function<void(std::size_t, std::uint32_t)>& job);
  // job(i, ip) for the i-th clock the broadcast search finds, as soon as it
  // is found, many at once; the progress line counts them.
  void OnEveryClockFound(const std::function<void(std::size_t, std::uint32_t)>& job);
  // Every section of `sections` from every target clock: the targets, their
  // results and their settings, or the exit status when there are none.
  struct ReadClocks {
    std::vector<std::uint32_t> ips;
    std::vector<ClockResult> results;
    std::vector<Json> clocks;
  };
  std::variant<ReadClocks, int> ReadEveryTarget(const std::vector<Section>& sections);
  ClockResult StartResult(std::uint32_t ip);
  int Report(const std::vector<ClockResult>& results, const std::string& resultHeading);
  int ReportPlan(const std::vector<ClockResult>& results);
  // apply and restore: what the clocks answered, or with --dry-run the plan.
  int Finish(const std::vector<ClockResult>& results) {
    return args_.dryRun ? ReportPlan(results) : Report(results, "sections");
  }
  void PrintError(const std::string& message) { env_.err << kProgram << ": " << message << "\n"; }
  // Opens the --trace file before anything is sent.
  std::optional<BadInput> OpenTrace();
  LinkServices Services() {
    LinkServices services{env_.adapters, env_.neighbours, env_.probe, names_};
    services.trace = trace_.get();
    return services;
  }
  int Fail(const BadInput& bad) {
    PrintError(bad.message);
    return kCliBadInput;
  }

  const CliArgs& args_;
  CliEnvironment& env_;
  ClockNames names_;
  // Before the link, which writes to it until it goes.
  std::ofstream traceFile_;
  std::unique_ptr<TraceWriter> trace_;
  std::unique_ptr<ClockSession> session_;
  std::unique_ptr<SectionWriter> writer_;  // over the session's link
  Targets targets_;
  std::optional<Section> showSection_;  // none: all
  Json settings_;                       // apply: the clock object; restore: the site
  std::optional<std::uint32_t> restoreTo_;
  std::vector<const Json*> savedClocks_;  // restore: the clocks of the file to write
};

std::optional<BadInput> CliRun::OpenTrace() {
  if (!args_.trace) return std::nullopt;
  if (*args_.trace == "-") {
    trace_ = std::make_unique<TraceWriter>(env_.err, env_.codePage);
    return std::nullopt;
  }
  traceFile_.open(*args_.trace, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!traceFile_) return BadInput{*args_.trace + ": the trace file cannot be written; nothing was sent"};
  trace_ = std::make_unique<TraceWriter>(traceFile_, env_.codePage);
  return std::nullopt;
}

int CliRun::Run() {
  if (std::optional<BadInput> bad = OpenTrace()) return Fail(*bad);
  const int status = RunCommand();
  writer_.reset();
  session_.reset();
  if (!traceFile_.is_open() || traceFile_.flush()) return status;
  PrintError(*args_.trace + ": the trace could not be written in full");
  return status == kCliDone ? kCliClockFailed : status;
}

int CliRun::RunCommand() {
  // The exporter reads no password and keeps its own order of checks.
  if (args_.command == "serve") return Serve();
  if (std::optional<BadInput> bad = CheckInput()) return Fail(*bad);
  if (int status = Login(); status != kCliDone) return status;
  if (!OpenLink()) return kCliClockFailed;
  if (args_.command == "search") return Search();
  if (args_.command == "show") return Show();
  if (args_.command == "apply") return Apply();
  if (args_.command == "backup") return Backup();
  if (args_.command == "restore") return Restore();
  if (args_.command == "upgrade") return Upgrade();
  return Log();
}

std::optional<BadInput> CliRun::CheckInput() {
  const std::string& command = args_.command;
  if (command == "search") {
    if (args_.unicast) {
      auto address = ParseClockAddress(*args_.unicast);
      if (auto* problem = std::get_if<std::string>(&address)) return BadInput{"--unicast: " + *problem};
      targets_.addresses.push_back(std::get<std::uint32_t>(address));
      targets_.required = targets_.addresses;
    } else if (!args_.operands.empty()) {
      auto targets = ParseTargets(args_.operands[0]);
      if (auto* problem = std::get_if<std::string>(&targets)) return BadInput{*problem};
      targets_ = std::get<Targets>(targets);
    } else {
      targets_.all = true;
    }
    return std::nullopt;
  }
  if (command == "restore") {
    if (args_.to) {
      auto address = ParseClockAddress(*args_.to);
      if (auto* problem = std::get_if<std::string>(&address)) return BadInput{"--to: " + *problem};
      restoreTo_ = std::get<std::uint32_t>(address);
    }
    auto site = LoadSiteFile(args_.operands[0]);
    if (auto* problem = std::get_if<std::string>(&site)) return BadInput{*problem};
    settings_ = std::move(std::get<Json>(site));
    return ChooseSavedClocks();
  }
  auto targets = ParseTargets(args_.operands[0]);
  if (auto* problem = std::get_if<std::string>(&targets)) return BadInput{*problem};
  targets_ = std::get<Targets>(targets);
  if (command == "show" && args_.operands.size() > 1 && args_.operands[1] != "all") {
    showSection_ = SectionNamed(args_.operands[1]);
    if (!showSection_) return BadInput{"unknown section \"" + args_.operands[1] + "\""};
  }
  if (command == "apply") {
    auto clock = LoadClockSettings(args_.operands[1]);
    if (auto* problem = std::get_if<std::string>(&clock)) return BadInput{*problem};
    settings_ = std::move(std::get<Json>(clock));
    return CheckOwnAddress();
  }
  if (command == "upgrade") {
    std::ifstream firmware(args_.operands[1], std::ios::binary);
    if (!firmware) return BadInput{args_.operands[1] + ": cannot be read"};
  }
  if (command == "log") {
    std::error_code error;
    if (!std::filesystem::is_directory(args_.operands[1], error)) {
      return BadInput{args_.operands[1] + ": is not a folder"};
    }
    if (args_.operands.size() > 2 && args_.operands[2].empty()) return BadInput{kFillInFileName};
  }
  return std::nullopt;
}

// A clock's own address belongs to that clock alone: `show A --json > f;
// apply all f` would give every clock A's address and cut them all off.
std::optional<BadInput> CliRun::CheckOwnAddress() const {
  const bool severalClocks = targets_.all || targets_.addresses.size() > 1;
  if (!severalClocks) return std::nullopt;
  if (std::optional<std::string> problem = OwnAddressProblem(settings_, args_.operands[1])) return BadInput{*problem};
  return std::nullopt;
}

int CliRun::Login() {
  const PasswordStore store(env_.settingsFile);
  if (args_.passwordFile) {
    const auto password = ReadPasswordFile(*args_.passwordFile);
    if (const auto* problem = std::get_if<PasswordFileProblem>(&password)) {
      return Fail(BadInput{PasswordFileProblemText(*problem, *args_.passwordFile)});
    }
    std::string refusal;
    if (store.MatchesLoginPassword(std::get<std::string>(password), &refusal)) return kCliDone;
    // A settings file that was refused is no wrong password: say why.
    if (!refusal.empty()) return Fail(BadInput{refusal});
    PrintError("Wrong password!");
    return kCliWrongPassword;
  }
  for (int attempt = 0; attempt < kPasswordTries; ++attempt) {
    const std::optional<std::string> typed = env_.passwords.AskPassword("Password: ");
    if (!typed) {
      return Fail(BadInput{"no password: type it on a terminal when asked, or give --password-file FILE"});
    }
    std::string refusal;
    if (store.MatchesLoginPassword(*typed, &refusal)) return kCliDone;
    if (!refusal.empty()) return Fail(BadInput{refusal});
    PrintError("Wrong password!");
  }
  return kCliWrongPassword;
}

bool CliRun::OpenLink() {
  session_ = std::make_unique<ClockSession>(Services(), env_.linkTimings);
  writer_ = std::make_unique<SectionWriter>(session_->Link(), env_.codePage);
  if (!session_->Link().Bound()) {
    PrintError(kPortUnusable);
    return false;
  }
  return true;
}

std::variant<std::vector<std::uint32_t>, BadInput> CliRun::ResolveTargets(const Targets& targets) {
  if (targets.all) {
    std::vector<std::uint32_t> found = session_->SearchAll();
    if (found.empty()) PrintError("no clock answered the search");
    return found;
  }
  std::vector<std::uint32_t> found = session_->SearchEach(targets.addresses, args_.rate);
  std::string silent;
  for (std::uint32_t ip : targets.required) {
    if (std::ranges::find(found, ip) == found.end()) silent += (silent.empty() ? "" : ", ") + FormatIpv4(ip);
  }
  if (!silent.empty()) return BadInput{"unknown address: no clock answers at " + silent + "; nothing was changed"};
  if (found.empty()) PrintError("no clock answered at " + args_.operands[0]);
  return found;
}

std::variant<std::vector<std::uint32_t>, int> CliRun::TargetClocks() {
  auto resolved = ResolveTargets(targets_);
  if (auto* bad = std::get_if<BadInput>(&resolved)) return Fail(*bad);
  auto& ips = std::get<std::vector<std::uint32_t>>(resolved);
  if (ips.empty()) return kCliClockFailed;
  return std::move(ips);
}

void CliRun::OnEveryClock(std::size_t count, const std::function<void(std::size_t)>& job) {
  SiteProgress progress(env_.progress, args_.command, count);
  std::size_t done = 0;
  SiteEngine(session_->Link(), args_.parallel).Run(count, job, [&](std::size_t) { progress.Done(++done); });
  progress.Close();
}

std::variant<std::vector<std::uint32_t>, int> CliRun::OnEveryTarget(
    const std::function<void(std::size_t, std::uint32_t)>& job) {
  if (!targets_.all) {
    auto targets = TargetClocks();
    if (const auto* ips = std::get_if<std::vector<std::uint32_t>>(&targets)) {
      OnEveryClock(ips->size(), [&](std::size_t i) { job(i, (*ips)[i]); });
    }
    return targets;
  }
  OnEveryClockFound(job);
  std::vector<std::uint32_t> ips;
  for (const ClockRecord& record : session_->Link().SnapshotAll()) ips.push_back(record.ip);
  if (ips.empty()) {
    PrintError("no clock answered the search");
    return kCliClockFailed;
  }
  return ips;
}

void CliRun::OnEveryClockFound(const std::function<void(std::size_t, std::uint32_t)>& job) {
  ClockLink& link = session_->Link();
  link.ClearClocks();
  SiteProgress progress(env_.progress, args_.command, 0);
  std::size_t done = 0;
  SiteEngine(link, args_.parallel)
      .RunWhile([&] { link.SearchBroadcast(); }, [&] { return link.ClockCount(); },
                [&](std::size_t i) {
                  const std::uint32_t ip = link.ClockIpAt(i);
                  link.CompleteRecord(ip);
                  job(i, ip);
                },
                [&](std::size_t) { progress.Done(++done); });
  progress.Close();
}

std::variant<CliRun::ReadClocks, int> CliRun::ReadEveryTarget(const std::vector<Section>& sections) {
  Slots<ClockResult> results;
  Slots<Json> clocks;
  auto targets = OnEveryTarget([&](std::size_t i, std::uint32_t ip) {
    ClockResult& result = results.At(i);
    result = StartResult(ip);
    clocks.At(i) = ClockJson(ip, sections, result);
  });
  if (const int* status = std::get_if<int>(&targets)) return *status;
  ReadClocks read;
  read.ips = std::move(std::get<std::vector<std::uint32_t>>(targets));
  read.results = results.Take(read.ips.size());
  read.clocks = clocks.Take(read.ips.size());
  return read;
}

ClockResult CliRun::StartResult(std::uint32_t ip) {
  ClockResult result;
  result.ip = ip;
  if (const std::optional<ClockRecord> record = session_->Record(ip)) {
    result.serial = FromCodePage(std::string_view(record->serial.data()), env_.codePage);
  }
  return result;
}

int CliRun::Report(const std::vector<ClockResult>& results, const std::string& resultHeading) {
  if (args_.json) {
    Json report = Json::array();
    for (const ClockResult& result : results) {
      Json line = ResultLine(result);
      // A step of its own goes under the heading by name; the one result
      // of a command without steps (an upgrade, a download) is "result".
      Json parts = Json::object();
      for (const auto& [part, text] : result.parts) {
        if (part.empty()) {
          line["result"] = text;
        } else {
          parts[part] = text;
        }
      }
      if (!parts.empty()) line[resultHeading] = parts;
      report.push_back(line);
    }
    env_.out << JsonDocument(Json{{"results", report}}) << "\n";
  } else {
    TextTable table({"ADDRESS", "SERIAL", "RESULT"});
    for (const ClockResult& result : results) {
      table.AddRow({FormatIpv4(result.ip), result.serial, ResultText(result)});
    }
    env_.out << table.Render();
  }
  return StatusOf(results);
}

// Every changed field on a line of its own, so that a site's plan can be
// read and grepped clock by clock.
int CliRun::ReportPlan(const std::vector<ClockResult>& results) {
  const auto planOf = [](const ClockResult& result, const std::string& section) -> const PlannedSection* {
    const auto found = std::ranges::find(result.plan, section, &PlannedSection::section);
    return found == result.plan.end() ? nullptr : &*found;
  };
  if (args_.json) {
    Json report = Json::array();
    for (const ClockResult& result : results) {
      Json line = ResultLine(result);
      Json sections = Json::object();
      for (const auto& [part, text] : result.parts) {
        if (part.empty()) {
          line["result"] = text;
          continue;
        }
        const PlannedSection* planned = planOf(result, part);
        if (planned == nullptr) {
          sections[part] = Json{{"result", text}};
          continue;
        }
        Json changes = Json::array();
        for (const FieldChange& change : planned->changes) {
          Json item;
          item["field"] = change.field;
          if (change.before) item["old"] = *change.before;
          if (change.after) item["new"] = *change.after;
          changes.push_back(std::move(item));
        }
        sections[part] = Json{{"changes", std::move(changes)}, {"frame", planned->frame}};
      }
      if (!sections.empty()) line["sections"] = std::move(sections);
      report.push_back(std::move(line));
    }
    env_.out << JsonDocument(Json{{"plan", report}}) << "\n";
    return StatusOf(results);
  }
  TextTable table({"ADDRESS", "SERIAL", "PLAN"});
  for (const ClockResult& result : results) {
    const auto row = [&](std::string text) { table.AddRow({FormatIpv4(result.ip), result.serial, std::move(text)}); };
    for (const auto& [part, text] : result.parts) {
      const PlannedSection* planned = part.empty() ? nullptr : planOf(result, part);
      if (planned == nullptr || planned->changes.empty()) {
        row(part.empty() ? text : part + ": " + text);
        continue;
      }
      for (const FieldChange& change : planned->changes) row(FieldChangeText(change));
    }
  }
  env_.out << table.Render();
  return StatusOf(results);
}

int CliRun::Search() {
  std::vector<std::uint32_t> found;
  if (targets_.all) {
    found = session_->SearchAll();
  } else if (args_.unicast) {
    if (session_->SearchOne(targets_.addresses.front())) found = targets_.addresses;
  } else {
    found = session_->SearchEach(targets_.addresses, args_.rate);
  }
  const std::int64_t now = env_.now();
  if (args_.json) {
    Json clocks = Json::array();
    for (std::uint32_t ip : found) {
      const ClockRecord record = *session_->Record(ip);
      Json identity = IdentityJson(record, names_, env_.codePage);
      // Scripts compare numbers: seconds since the last synchronisation, null
      // for a clock that never synchronised.
      identity["lastSyncAgeSeconds"] =
          record.lastSyncTime == 0 ? Json(nullptr) : Json(now - static_cast<std::int64_t>(record.lastSyncTime));
      clocks.push_back(identity);
    }
    env_.out << JsonDocument(Json{{"clocks", clocks}}) << "\n";
  } else {
    TextTable table({"ADDRESS", "SERIAL", "FIRMWARE", "MAC", "NAME", "MODEL", "LAST SYNC", "AGE"});
    for (std::uint32_t ip : found) {
      const ClockRecord record = *session_->Record(ip);
      const Json identity = IdentityJson(record, names_, env_.codePage);
      table.AddRow({identity["address"], identity["serial"], identity["firmware"], identity["mac"],
                    Cell(identity["name"]), identity["model"], Cell(identity["lastSync"]),
                    AgeText(now, record.lastSyncTime)});
    }
    env_.out << table.Render();
    env_.out << found.size() << (found.size() == 1 ? " clock" : " clocks") << " found\n";
  }
  if (args_.unicast && found.empty()) {
    PrintError(NoResponseMessage(targets_.addresses.front()));
    return kCliClockFailed;
  }
  std::string silent;
  for (std::uint32_t ip : targets_.required) {
    if (std::ranges::find(found, ip) == found.end() && !args_.unicast) {
      silent += (silent.empty() ? "" : ", ") + FormatIpv4(ip);
    }
  }
  if (!silent.empty()) {
    PrintError("no clock answers at " + silent);
    return kCliClockFailed;
  }
  return kCliDone;
}

Json CliRun::ClockJson(std::uint32_t ip, const std::vector<Section>& sections, ClockResult& result) {
  Json clock = writer_->ReadClock(ip, sections, names_).value_or(Json::object());
  for (Section section : sections) {
    const std::string name(SectionName(section));
    if (clock.contains(name)) continue;
    result.ok = false;
    result.parts.emplace_back(name, NoResponseMessage(ip));
  }
  if (result.ok) result.parts.emplace_back("", "ok");
  return clock;
}

int CliRun::Show() {
  std::vector<Section> sections(kAllSections.begin(), kAllSections.end());
  if (showSection_) sections = {*showSection_};
  auto read = ReadEveryTarget(sections);
  if (const int* status = std::get_if<int>(&read)) return *status;
  auto& [ips, results, shown] = std::get<ReadClocks>(read);
  Json clocks = Json::array();
  for (std::size_t i = 0; i < ips.size(); ++i) {
    const std::uint32_t ip = ips[i];
    Json& clock = shown[i];
    if (args_.json) {
      clocks.push_back(std::move(clock));
      continue;
    }
    env_.out << ClockHeading(clock) << "\n";
    for (Section section : sections) {
      const std::string name(SectionName(section));
      env_.out << "[" << name << "]\n";
      if (clock.contains(name)) {
        env_.out << SectionText(section, clock[name]);
      } else {
        env_.out << NoResponseMessage(ip) << "\n";
      }
    }
    env_.out << "\n";
  }
  if (args_.json) env_.out << JsonDocument(Json{{"clocks", clocks}}) << "\n";
  return StatusOf(results);
}

void CliRun::WriteSections(std::uint32_t ip, const Json& clock, ClockResult& result) {
  for (SectionOutcome& outcome : writer_->WriteAll(ip, clock, args_.dryRun ? &result.plan : nullptr)) {
    result.ok = result.ok && outcome.ok;
    result.parts.emplace_back(std::string(SectionName(outcome.section)), std::move(outcome.text));
  }
}

int CliRun::Apply() {
  Slots<ClockResult> results;
  const auto targets = OnEveryTarget([&](std::size_t i, std::uint32_t ip) {
    ClockResult& result = results.At(i);
    result = StartResult(ip);
    WriteSections(ip, settings_, result);
  });
  if (const int* status = std::get_if<int>(&targets)) return *status;
  return Finish(results.Take(std::get<std::vector<std::uint32_t>>(targets).size()));
}

int CliRun::Backup() {
  auto read = ReadEveryTarget({kAllSections.begin(), kAllSections.end()});
  if (const int* status = std::get_if<int>(&read)) return *status;
  auto& [ips, results, saved] = std::get<ReadClocks>(read);
  Json clocks = Json::array();
  TextTable table({"ADDRESS", "SERIAL", "RESULT"});
  for (std::size_t i = 0; i < ips.size(); ++i) {
    const ClockResult& result = results[i];
    clocks.push_back(std::move(saved[i]));
    table.AddRow({FormatIpv4(ips[i]), result.serial, result.ok ? "saved" : ResultText(result)});
  }
  env_.out << JsonDocument(SiteDocument(std::move(clocks))) << "\n";
  env_.err << table.Render();
  return StatusOf(results);
}

std::optional<BadInput> CliRun::ChooseSavedClocks() {
  for (const Json& clock : settings_["clocks"]) {
    const bool named = !args_.clock || clock.value("serial", "") == *args_.clock ||
                       NormalMac(*args_.clock) == NormalMac(clock.value("mac", ""));
    if (named) savedClocks_.push_back(&clock);
  }
  if (args_.clock && savedClocks_.size() != 1) {
    return BadInput{"--clock " + *args_.clock + " names " + std::to_string(savedClocks_.size()) +
                    " saved clocks; it must name one"};
  }
  if (restoreTo_ && savedClocks_.size() != 1) {
    return BadInput{"the file holds " + std::to_string(savedClocks_.size()) +
                    " clocks; name the one for --to with --clock SERIAL|MAC"};
  }
  return std::nullopt;
}

std::optional<std::uint32_t> CliRun::FindUnheardClock(const Json& saved) {
  const auto address = ParseClockAddress(saved.value("address", ""));
  const auto* ip = std::get_if<std::uint32_t>(&address);
  if (ip == nullptr || !session_->SearchOne(*ip)) return std::nullopt;
  if (!IsSavedClock(saved, *session_->Record(*ip), env_.codePage)) return std::nullopt;
  return *ip;
}

ClockResult CliRun::MissingClock(const Json& saved) {
  ClockResult missing;
  missing.serial = saved.value("serial", "");
  missing.ok = false;
  const auto address = ParseClockAddress(saved.value("address", ""));
  if (const auto* ip = std::get_if<std::uint32_t>(&address)) missing.ip = *ip;
  missing.parts.emplace_back("", "no clock with serial " + missing.serial + " and MAC " + saved.value("mac", "") +
                                     " answers");
  return missing;
}

int CliRun::Restore() {
  std::vector<ClockResult> results;
  if (restoreTo_) {
    if (!session_->SearchOne(*restoreTo_)) {
      return Fail(BadInput{"unknown address: no clock answers at " + FormatIpv4(*restoreTo_) +
                           "; nothing was changed"});
    }
    ClockResult result = StartResult(*restoreTo_);
    WriteSections(*restoreTo_, *savedClocks_.front(), result);
    results.push_back(std::move(result));
    return Finish(results);
  }
  // Saved clocks by serial and MAC: each clock the broadcast search finds is
  // written as soon as it is found.
  std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> savedByKey;
  for (std::size_t i = 0; i < savedClocks_.size(); ++i) {
    const Json& saved = *savedClocks_[i];
    savedByKey[{saved.value("serial", ""), NormalMac(saved.value("mac", ""))}].push_back(i);
  }
  Slots<ClockResult> slots;
  std::vector<char> written(savedClocks_.size(), 0);
  OnEveryClockFound([&](std::size_t, std::uint32_t ip) {
    const ClockRecord record = *session_->Record(ip);
    const auto key =
        std::make_pair(FromCodePage(std::string_view(record.serial.data()), env_.codePage), MacText(record.mac));
    const auto saved = savedByKey.find(key);
    if (saved == savedByKey.end()) return;
    for (std::size_t i : saved->second) {
      written[i] = 1;
      ClockResult& result = slots.At(i);
      result = StartResult(ip);
      WriteSections(ip, *savedClocks_[i], result);
    }
  });
  // A clock on another subnet does not hear the broadcast; it is tried where
  // it was.
  std::vector<std::size_t> unheard;
  for (std::size_t i = 0; i < savedClocks_.size(); ++i) {
    if (written[i] == 0) unheard.push_back(i);
  }
  OnEveryClock(unheard.size(), [&](std::size_t u) {
    const std::size_t i = unheard[u];
    const Json& saved = *savedClocks_[i];
    ClockResult& result = slots.At(i);
    const std::optional<std::uint32_t> ip = FindUnheardClock(saved);
    if (!ip) {
      result = MissingClock(saved);
      return;
    }
    result = StartResult(*ip);
    WriteSections(*ip, saved, result);
  });
  return Finish(slots.Take(savedClocks_.size()));
}

int CliRun::Upgrade() {
  const auto targets = TargetClocks();
  if (const int* status = std::get_if<int>(&targets)) return *status;
  const auto& ips = std::get<std::vector<std::uint32_t>>(targets);
  const std::string& path = args_.operands[1];
  const std::string pathInCodePage = ToCodePage(path, env_.codePage);
  // Every clock must take the file before any of them gets it.
  for (std::uint32_t ip : ips) {
    const bool newPlatform = session_->Record(ip)->newPlatform;
    if (!FirmwareTypeAccepted(pathInCodePage, newPlatform)) {
      return Fail(BadInput{FormatIpv4(ip) + ": " + FirmwareTypeRefusal(newPlatform)});
    }
  }
  std::vector<ClockResult> results(ips.size());
  std::counting_semaphore<> transfers(static_cast<std::ptrdiff_t>(args_.transfers));
  OnEveryClock(ips.size(), [&](std::size_t i) {
    const std::uint32_t ip = ips[i];
    results[i] = StartResult(ip);
    // The clock's answer to the announcement does not matter: the upload
    // follows in any case, as in the windows.
    const ClockFrame announcement = BuildUpgradeAnnouncement();
    session_->Link().Exchange(ip, announcement);
    // One clock's upload draws its bar; several draw the count of clocks done.
    TerminalProgress bar(env_.progress, FormatIpv4(ip));
    QuietProgress quiet;
    UploadProgress& progress = ips.size() == 1 ? static_cast<UploadProgress&>(bar) : quiet;
    transfers.acquire();
    TftpClient tftp(env_.codePage, env_.tftpTimings);
    tftp.SetTrace(trace_.get());
    const bool uploaded = tftp.UploadFile(ip, path, progress) == 0;
    transfers.release();
    bar.Close();
    results[i].ok = uploaded;
    results[i].parts.emplace_back("", uploaded ? kUpgradeSucceeded : kUpgradeFailed);
  });
  return Report(results, "upgrade");
}

int CliRun::Log() {
  const auto targets = TargetClocks();
  if (const int* status = std::get_if<int>(&targets)) return *status;
  const auto& ips = std::get<std::vector<std::uint32_t>>(targets);
  const std::string& folder = args_.operands[1];
  const std::string name = args_.operands.size() > 2 ? args_.operands[2] : kLogDefaultName;
  std::vector<ClockResult> results(ips.size());
  std::counting_semaphore<> transfers(static_cast<std::ptrdiff_t>(args_.transfers));
  OnEveryClock(ips.size(), [&](std::size_t i) {
    const std::uint32_t ip = ips[i];
    ClockResult& result = results[i];
    result = StartResult(ip);
    if (!session_->Record(ip)->newPlatform) {
      result.ok = false;
      result.parts.emplace_back("", "an old-platform clock keeps no log to download");
      return;
    }
    transfers.acquire();
    TftpClient tftp(env_.codePage, env_.tftpTimings);
    tftp.SetTrace(trace_.get());
    const DownloadOutcome outcome = tftp.DownloadFile(ip, name, folder);
    transfers.release();
    result.ok = outcome == DownloadOutcome::Done;
    result.parts.emplace_back("", DownloadOutcomeMessage(outcome, ip, name));
  });
  return Report(results, "log");
}

std::variant<ExporterOptions, BadInput> CliRun::ServeOptions() {
  ExporterConfig config;
  if (args_.config) {
    auto read = ReadExporterConfig(*args_.config);
    if (auto* problem = std::get_if<std::string>(&read)) return BadInput{*problem};
    config = std::move(std::get<ExporterConfig>(read));
  }
  ExporterOptions options;
  // The config file's own values were checked as it was read.
  auto listen = ParseListenAddress(args_.listen.value_or(config.listen.value_or(std::string(kDefaultListen))));
  if (auto* problem = std::get_if<std::string>(&listen)) return BadInput{"--listen: " + *problem};
  options.listen = std::get<ListenAddress>(listen);
  options.interval = std::chrono::seconds(args_.interval.value_or(config.interval.value_or(kDefaultInterval)));
  options.forgetAfter = args_.forgetAfter.value_or(config.forgetAfter.value_or(kDefaultForgetAfter));
  const std::string targets = args_.operands.empty() ? config.targets.value_or("") : args_.operands[0];
  if (!targets.empty()) {
    auto parsed = ParseTargets(targets);
    if (auto* problem = std::get_if<std::string>(&parsed)) return BadInput{*problem};
    if (!std::get<Targets>(parsed).all) options.sweep = std::move(std::get<Targets>(parsed).addresses);
  }
  options.parallel = args_.parallel;
  options.rate = args_.rate;
  return options;
}

int CliRun::Serve() {
  // Before any thread starts, so that every thread leaves the signals to the
  // wait below.
  std::optional<TerminationSignals> signals;
  if (!env_.waitForStop) signals.emplace();
  const auto failed = [this](const std::string& message) {
    PrintError(message);
    env_.err << "Try '" << kProgram << " serve --help'.\n";
    return kCliBadInput;
  };
  auto options = ServeOptions();
  if (const auto* bad = std::get_if<BadInput>(&options)) return failed(bad->message);
  // Both ports are bound before the first datagram leaves.
  ClockLink link(Services(), env_.linkTimings);
  if (!link.Bound()) return failed(kPortUnusable);
  Exporter exporter(link, names_, env_.codePage, std::move(std::get<ExporterOptions>(options)), env_.now, env_.err);
  if (std::optional<std::string> problem = exporter.Listen()) return failed(*problem);
  exporter.Start();
  if (signals) {
    signals->Wait();
  } else {
    env_.waitForStop();
  }
  exporter.Stop();
  return kCliDone;
}

// Output that did not reach its file is a failure whatever the clocks did:
// a backup printed into a full disk must not look like a saved site.
int FinishOutput(CliEnvironment& env, int status) {
  env.out.flush();
  if (env.out) return status;
  env.err << kProgram << ": the output could not be written in full (a full disk, or a closed pipe)\n";
  return status == kCliDone ? kCliClockFailed : status;
}

}  // namespace

int RunCli(std::span<const std::string> args, CliEnvironment& env) {
  auto parsed = ParseCliArgs(args);
  if (auto* problem = std::get_if<std::string>(&parsed)) {
    env.err << kProgram << ": " << *problem << "\n" << "Try '" << kProgram << " --help'.\n";
    return kCliBadInput;
  }
  const CliArgs& cliArgs = std::get<CliArgs>(parsed);
  if (cliArgs.help || cliArgs.command.empty()) {
    env.out << UsageText(cliArgs.command);
    return FinishOutput(env, kCliDone);
  }
  CliRun run(cliArgs, env);
  const int status = run.Run();
  return FinishOutput(env, status);
}

}  // namespace marindo
