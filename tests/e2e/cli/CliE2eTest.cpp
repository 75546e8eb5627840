// marindo-cli run as a user runs it, inside the test LAN's tool namespace,
// against three simulated clocks (cli.json): what reached each clock is read
// from its simulator's record of received datagrams, what it keeps from its
// state file. Every test starts from the clocks of the config file.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "E2eSupport.h"
#include "JsonChanges.h"

namespace marindo::e2e {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kPassword = "Tulip@KVX";
constexpr const char* kSims[] = {"hall", "gym", "tower"};
constexpr int kModifyCodes[] = {0x06, 0x07, 0x08, 0x09, 0x0B};

// --- files and hex --------------------------------------------------------------

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A password file as its owner keeps it: marindo-cli refuses one others may read.
void WritePasswordFile(const fs::path& path, const std::string& password) {
  WriteFile(path, password + "\n");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

int Occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// --- what the simulators saw and keep ---------------------------------------------

fs::path RecordPath(const std::string& sim) { return RunFolder() / (sim + ".record.jsonl"); }

Json ClockState(const std::string& sim) {
  const Json state = Json::parse(FileText(RunFolder() / (sim + ".state.json")));
  return state.at("clocks").at(0);
}

// A clock's settings as its state shows them, without what only counts
// traffic (modify counters, last payloads, the form of the last text).
Json Settings(Json clock) {
  clock.erase("modifyCount");
  clock.erase("lastWrite");
  clock.at("text").erase("lastForm");
  return clock;
}

std::string Listed(const std::map<std::string, Json>& changes) {
  std::string text;
  for (const auto& [path, value] : changes) text += "  " + path + " = " + value.dump() + "\n";
  return text;
}

struct Datagram {
  int code = -1;
  Bytes payload;     // empty when the datagram is no well-formed frame
  std::string dst;   // the address it was sent to
  bool unicast = false;
};

// Where each simulator's record ended when the mark was taken; what came after.
class RecordMark {
 public:
  RecordMark() {
    for (const char* sim : kSims) {
      std::error_code error;
      const auto size = fs::file_size(RecordPath(sim), error);
      ends_[sim] = error ? 0 : size;
    }
  }

  std::vector<Json> Lines(const std::string& sim) const {
    std::ifstream in(RecordPath(sim), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(ends_.at(sim)));
    std::vector<Json> lines;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty()) lines.push_back(Json::parse(line));
    }
    return lines;
  }

  std::size_t LineCountEverywhere() const {
    std::size_t count = 0;
    for (const char* sim : kSims) count += Lines(sim).size();
    return count;
  }

  std::vector<Datagram> ClockDatagrams(const std::string& sim) const {
    std::vector<Datagram> datagrams;
    for (const Json& line : Lines(sim)) {
      if (line.value("proto", "") != "clock") continue;
      datagrams.push_back(Decoded(line));
    }
    return datagrams;
  }

  // The modify frames sent to this clock's own address, in arrival order.
  std::vector<Datagram> Modifies(const std::string& sim) const {
    std::vector<Datagram> modifies;
    for (const Datagram& datagram : ClockDatagrams(sim)) {
      if (datagram.unicast && std::find(std::begin(kModifyCodes), std::end(kModifyCodes), datagram.code) !=
                                  std::end(kModifyCodes)) {
        modifies.push_back(datagram);
      }
    }
    return modifies;
  }

  std::size_t ModifiesEverywhere() const {
    std::size_t count = 0;
    for (const char* sim : kSims) count += Modifies(sim).size();
    return count;
  }

 private:
  // Frame: magic (2), flags, payload length N, N payload bytes, checksum (2).
  static Datagram Decoded(const Json& line) {
    Datagram datagram;
    datagram.dst = line.value("dst", "");
    datagram.unicast = line.contains("clock") && line["clock"].is_string();
    const Bytes bytes = FromHex(line.value("hex", ""));
    constexpr std::size_t kHeader = 4;
    constexpr std::size_t kTrailer = 2;
    if (bytes.size() < kHeader + 1 + kTrailer) return datagram;
    const std::size_t length = bytes.at(3);
    if (length != bytes.size() - kHeader - kTrailer) return datagram;
    datagram.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(kHeader),
                           bytes.begin() + static_cast<std::ptrdiff_t>(kHeader + length));
    datagram.code = datagram.payload.at(0);
    return datagram;
  }

  std::map<std::string, std::uintmax_t> ends_;
};

// --- the frames the windows build from what a clock reported ----------------------

// A clock counts as having a sensor when it reports a unit and a humidity.
bool HasSensor(const Bytes& display) {
  return display.at(6) != 0 && ((display.at(9) >> 1) != 0 || (display.at(10) >> 4) != 0);
}

// The display frame written back unchanged: count-down as reported, the radio
// of the search reply; unit and durations only for a clock with a sensor,
// "time only" (no humiture duration) as 0x10, and never the readings.
Bytes DisplayWrite(const Json& clock) {
  const Bytes display = FromHex(clock.at("display").at("hex"));
  Bytes payload(14, 0);
  payload.at(0) = 0x09;
  for (std::size_t i = 0; i < 6; ++i) payload.at(1 + i) = display.at(i);
  if (HasSensor(display)) {
    const std::uint8_t unit = display.at(6);
    payload.at(7) = unit == 1 || unit == 2 ? unit : 0;
    const int timeSeconds = display.at(11) >> 4;
    const int humitureSeconds = display.at(12) >> 4;
    if (humitureSeconds == 0) {
      payload.at(12) = 0x10;
    } else {
      payload.at(12) = static_cast<std::uint8_t>(timeSeconds << 4 | humitureSeconds);
      payload.at(13) = static_cast<std::uint8_t>(humitureSeconds << 4);
    }
    if (payload.at(12) == 0) payload.at(12) = 0x01;
  }
  payload.at(8) = clock.at("radio").get<std::uint8_t>();
  return payload;
}

Bytes Prefixed(std::initializer_list<std::uint8_t> head, const Bytes& rest) {
  Bytes bytes(head);
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  return bytes;
}

// The modify payload that writes back exactly what the clock reported. The
// name form of the NTP reply reports form byte 1 in these configs, which is
// also what the modify carries.
Bytes UnchangedWrite(int code, const Json& clock) {
  switch (code) {
    case 0x06:
      return Prefixed({0x06}, FromHex(clock.at("basic").at("hex")));
    case 0x07:
      return Prefixed({0x07}, FromHex(clock.at("ntp").at("replyHex")));
    case 0x08:
      return Prefixed({0x08}, FromHex(clock.at("bells").at("hex")));
    case 0x09:
      return DisplayWrite(clock);
    default: {
      const Json& text = clock.at("text");
      Bytes payload = Prefixed({0x0B, 0x00, text.at("modeByte").get<std::uint8_t>()}, FromHex(text.at("textHex")));
      payload.push_back(0x00);
      return payload;
    }
  }
}

// A simulator records a datagram after it has answered it, so the record may
// lag behind the program's exit; a control request is handled only after
// every datagram before it, so its answer means the record has caught up.
bool Settled(const std::string& sim) {
  const std::string path = (RunFolder() / (sim + ".ctl")).string();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  path.copy(address.sun_path, path.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  bool answered = false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "{\"cmd\": \"ping\"}\n";
    if (::send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
      ::shutdown(fd, SHUT_WR);
      char reply[256];
      answered = ::recv(fd, reply, sizeof reply, 0) > 0;
    }
  }
  ::close(fd);
  return answered;
}

// --- running the program -------------------------------------------------------------

struct CliOutcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::ostream& operator<<(std::ostream& stream, const CliOutcome& outcome) {
  return stream << "status " << outcome.status << "\n--- stdout\n" << outcome.out << "--- stderr\n" << outcome.err;
}

std::string TestName() {
  std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

class CliE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    for (const char* sim : kSims) ASSERT_EQ(Control(sim, "reset"), 0) << sim;
    work_ = RunFolder() / "cli" / TestName();
    fs::remove_all(work_);
    fs::create_directories(work_);
    WritePasswordFile(work_ / "password.txt", kPassword);
  }

  fs::path Work(const std::string& name) const { return work_ / name; }

  fs::path WriteWork(const std::string& name, const std::string& text) const {
    WriteFile(Work(name), text);
    return Work(name);
  }

  // marindo-cli with the arguments (already quoted where needed), a settings
  // file of this test's own and the password file given.
  CliOutcome Cli(const std::string& arguments, const fs::path& passwordFile = {}) const {
    const fs::path password = passwordFile.empty() ? work_ / "password.txt" : passwordFile;
    const fs::path err = work_ / "stderr.txt";
    const std::string command = "MARINDO_SETTINGS=" + Quoted((work_ / "settings.ini").string()) + " " +
                                Quoted(MARINDO_CLI) + " --password-file " + Quoted(password.string()) + " " +
                                arguments + " </dev/null 2>" + Quoted(err.string());
    const CommandOutcome run = RunCommand(command);
    CliOutcome outcome{run.status, run.out, FileText(err)};
    for (const char* sim : kSims) EXPECT_TRUE(Settled(sim)) << sim << " does not answer its control socket";
    return outcome;
  }

  std::map<std::string, Json> States() const {
    std::map<std::string, Json> states;
    for (const char* sim : kSims) states[sim] = ClockState(sim);
    return states;
  }

  fs::path work_;
};

// --- backup and restore ---------------------------------------------------------------

TEST_F(CliE2eTest, BackupThenRestoreWritesBackExactlyWhatEachClockReported) {
  const std::map<std::string, Json> before = States();
  const RecordMark backupMark;
  const CliOutcome backup = Cli("backup all");
  ASSERT_EQ(backup.status, 0) << backup;
  const Json site = Json::parse(backup.out);
  EXPECT_EQ(site.value("format", ""), "marindo-site");
  ASSERT_EQ(site.at("clocks").size(), 3u) << backup.out;
  for (const Json& clock : site["clocks"]) {
    EXPECT_TRUE(clock.contains("serial") && clock.contains("mac")) << clock.dump();
  }
  EXPECT_EQ(backupMark.ModifiesEverywhere(), 0u) << "a backup only reads";
  const fs::path saved = WriteWork("site.json", backup.out);

  const RecordMark restoreMark;
  const CliOutcome restore = Cli("restore " + Quoted(saved.string()));
  EXPECT_EQ(restore.status, 0) << restore;
  for (const char* sim : kSims) {
    SCOPED_TRACE(sim);
    const std::vector<Datagram> modifies = restoreMark.Modifies(sim);
    std::map<int, int> counts;
    for (const Datagram& modify : modifies) {
      ++counts[modify.code];
      EXPECT_EQ(ToHex(modify.payload), ToHex(UnchangedWrite(modify.code, before.at(sim))))
          << "modify 0x" << std::hex << modify.code;
    }
    EXPECT_EQ(counts, (std::map<int, int>{{0x06, 1}, {0x07, 1}, {0x08, 1}, {0x09, 1}, {0x0B, 1}}));
    // A new address takes effect at once: the basic settings must come last.
    ASSERT_FALSE(modifies.empty());
    EXPECT_EQ(modifies.back().code, 0x06);
    const auto changes = Changes(Settings(before.at(sim)), Settings(ClockState(sim)));
    EXPECT_TRUE(changes.empty()) << "changed by the restore:\n" << Listed(changes);
  }
}

TEST_F(CliE2eTest, RestoreToAnotherAddressCopiesOneSavedClock) {
  const CliOutcome backup = Cli("backup all");
  ASSERT_EQ(backup.status, 0) << backup;
  const fs::path saved = WriteWork("site.json", backup.out);
  const Json tower = ClockState("tower");

  const RecordMark mark;
  const CliOutcome restore = Cli("restore " + Quoted(saved.string()) + " --to 10.213.0.10 --clock TOWER003");
  EXPECT_EQ(restore.status, 0) << restore;
  EXPECT_EQ(mark.Modifies("tower").size(), 0u);
  EXPECT_EQ(mark.Modifies("gym").size(), 0u);
  EXPECT_EQ(mark.Modifies("hall").size(), 5u);

  // Both clocks have a sensor and a 64-character text: everything the tower
  // keeps but its readings is now the hall's.
  const Json hall = ClockState("hall");
  EXPECT_EQ(hall["basic"]["hex"], tower["basic"]["hex"]);
  EXPECT_EQ(hall["ntp"]["replyHex"], tower["ntp"]["replyHex"]);
  EXPECT_EQ(hall["bells"]["hex"], tower["bells"]["hex"]);
  EXPECT_EQ(hall["text"]["modeByte"], tower["text"]["modeByte"]);
  EXPECT_EQ(hall["text"]["textHex"], tower["text"]["textHex"]);
  EXPECT_EQ(hall["radio"], tower["radio"]);
  for (const char* field :
       {"countdownStart", "countdownDuration", "tempUnit", "timeDisplay", "humitureDisplay", "keptNibble"}) {
    EXPECT_EQ(hall["display"][field], tower["display"][field]) << field;
  }
  EXPECT_EQ(hall["display"]["tempWhole"], 5) << "the readings are the hall's own sensor's";
}

TEST_F(CliE2eTest, RestoreFindsAClockThatMovedToAnotherAddress) {
  const CliOutcome backup = Cli("backup all");
  ASSERT_EQ(backup.status, 0) << backup;
  const fs::path saved = WriteWork("site.json", backup.out);
  ASSERT_EQ(TestLan("readdress gym 10.213.0.50"), 0);
  struct MoveBack {
    ~MoveBack() { TestLan("readdress gym 10.213.0.11"); }
  } moveBack;

  const RecordMark mark;
  const CliOutcome restore = Cli("restore " + Quoted(saved.string()));
  EXPECT_EQ(restore.status, 0) << restore;
  const std::vector<Datagram> modifies = mark.Modifies("gym");
  EXPECT_EQ(modifies.size(), 5u);
  for (const Datagram& modify : modifies) {
    EXPECT_EQ(modify.dst, "10.213.0.50");
  }
}

// --- apply ---------------------------------------------------------------------------------

struct FieldChange {
  const char* name;
  const char* sim;
  const char* ip;
  const char* file;
  int code;  // the one modify frame the clock must receive
  // Every settings leaf that must change, with its new value (null: any).
  std::vector<std::pair<std::string, Json>> changes;
};

void PrintTo(const FieldChange& change, std::ostream* stream) { *stream << change.name; }

class CliApplyFieldTest : public CliE2eTest, public ::testing::WithParamInterface<FieldChange> {};

TEST_P(CliApplyFieldTest, ChangesExactlyThatField) {
  const FieldChange& change = GetParam();
  const std::map<std::string, Json> before = States();
  const fs::path file = WriteWork("change.json", change.file);
  const RecordMark mark;
  const CliOutcome apply = Cli(std::string("apply ") + change.ip + " " + Quoted(file.string()));
  EXPECT_EQ(apply.status, 0) << apply;
  EXPECT_EQ(Occurrences(apply.out, "Modify success!"), 1) << apply;

  for (const char* sim : kSims) {
    SCOPED_TRACE(sim);
    const std::vector<Datagram> modifies = mark.Modifies(sim);
    const auto changed = Changes(Settings(before.at(sim)), Settings(ClockState(sim)));
    if (std::string(sim) != change.sim) {
      EXPECT_TRUE(modifies.empty());
      EXPECT_TRUE(changed.empty()) << Listed(changed);
      continue;
    }
    ASSERT_EQ(modifies.size(), 1u);
    EXPECT_EQ(modifies.front().code, change.code);
    std::set<std::string> expectedPaths;
    for (const auto& [path, value] : change.changes) {
      expectedPaths.insert(path);
      if (value.is_null()) continue;
      const auto found = changed.find(path);
      ASSERT_NE(found, changed.end()) << path << " did not change:\n" << Listed(changed);
      EXPECT_EQ(found->second, value) << path;
    }
    std::set<std::string> changedPaths;
    for (const auto& [path, value] : changed) changedPaths.insert(path);
    EXPECT_EQ(changedPaths, expectedPaths) << Listed(changed);
  }
}

const Json kAny = nullptr;

INSTANTIATE_TEST_SUITE_P(
    OneField, CliApplyFieldTest,
    ::testing::Values(
        FieldChange{"brightness", "hall", "10.213.0.10", R"({"basic": {"brightness": "Bright"}})", 0x06,
                    {{"basic.brightness", 3}, {"basic.hex", kAny}}},
        // Only the sign and the hours differ between UTC -9:30 and UTC +5:30.
        FieldChange{"zone", "gym", "10.213.0.11", R"({"basic": {"zone": "UTC +5:30"}})", 0x06,
                    {{"basic.zoneNegative", false}, {"basic.zoneHours", 5}, {"basic.hex", kAny}}},
        FieldChange{"ntpName", "tower", "10.213.0.12",
                    R"({"ntp": {"names": ["ntp.example.org", "time.example"]}})", 0x07,
                    {{"ntp.names[0]", "ntp.example.org"}, {"ntp.namesHex[0]", kAny}, {"ntp.replyHex", kAny}}},
        FieldChange{"countdown", "hall", "10.213.0.10",
                    R"({"display": {"countdownStart": {"hour": 9, "minute": 30, "second": 0}}})", 0x09,
                    {{"display.countdownStart[0]", 9}, {"display.hex", kAny}}},
        // The radio travels in the display frame and comes back in the search reply.
        FieldChange{"radio", "gym", "10.213.0.11", R"({"display": {"radio": {"on": true, "id": 7}}})", 0x09,
                    {{"radio", 135}}},
        FieldChange{"text", "hall", "10.213.0.10", R"({"text": {"text": "NEW"}})", 0x0B,
                    {{"text.text", "NEW"}, {"text.textHex", kAny}}},
        FieldChange{"bellTime", "tower", "10.213.0.12", R"({"bells": [{"bell": 2, "time": "08:15:30"}]})", 0x08,
                    {{"bells.entries[1].hour", 8},
                     {"bells.entries[1].minute", 15},
                     {"bells.entries[1].second", 30},
                     {"bells.hex", kAny}}},
        FieldChange{"bellOff", "gym", "10.213.0.11", R"({"bells": [{"bell": 1, "enabled": false}]})", 0x08,
                    {{"bells.entries[0].enabled", false}, {"bells.entries[0].flags", 1}, {"bells.hex", kAny}}}),
    [](const ::testing::TestParamInfo<FieldChange>& param) { return std::string(param.param.name); });

// --- the plan before a change ------------------------------------------------------------

// One count-down field that hall already has and gym and tower do not: the
// plan names exactly those two changes and no clock gets a modify; the real
// run then sends each clock the very frame the plan gave.
TEST_F(CliE2eTest, DryRunPlansExactlyTheChangesTheRealRunSends) {
  const fs::path file = WriteWork("countdown.json", R"({"display": {"countdownDuration": {"hours": 1}}})");
  const RecordMark planMark;
  const CliOutcome plan = Cli("apply all " + Quoted(file.string()) + " --dry-run");
  EXPECT_EQ(plan.status, 0) << plan;
  EXPECT_EQ(Occurrences(plan.out, "\u2192"), 2) << plan;
  EXPECT_NE(plan.out.find("GYM0002   display.countdownDuration.hours: 9 \u2192 1"), std::string::npos) << plan;
  EXPECT_NE(plan.out.find("TOWER003  display.countdownDuration.hours: 0 \u2192 1"), std::string::npos) << plan;
  EXPECT_NE(plan.out.find("HALL0001  display: no change"), std::string::npos) << plan;
  EXPECT_EQ(planMark.ModifiesEverywhere(), 0u);

  const CliOutcome planJson = Cli("--json apply all " + Quoted(file.string()) + " --dry-run");
  ASSERT_EQ(planJson.status, 0) << planJson;
  std::map<std::string, std::string> frames;  // serial -> the planned frame
  const Json planDocument = Json::parse(planJson.out);
  for (const Json& clock : planDocument.at("plan")) {
    const std::string serial = clock.at("serial").get<std::string>();
    const Json& display = clock.at("sections").at("display");
    frames[serial] = display.at("frame").get<std::string>();
    EXPECT_EQ(display.at("changes").size(), serial == "HALL0001" ? 0u : 1u) << clock.dump();
  }
  ASSERT_EQ(frames.size(), 3u) << planJson;

  const RecordMark applyMark;
  const CliOutcome apply = Cli("apply all " + Quoted(file.string()));
  EXPECT_EQ(apply.status, 0) << apply;
  const std::map<std::string, std::string> serials{{"hall", "HALL0001"}, {"gym", "GYM0002"}, {"tower", "TOWER003"}};
  for (const char* sim : kSims) {
    SCOPED_TRACE(sim);
    const std::vector<Datagram> modifies = applyMark.Modifies(sim);
    ASSERT_EQ(modifies.size(), 1u);
    const Bytes planned = FromHex(frames.at(serials.at(sim)));
    ASSERT_GT(planned.size(), 6u);
    EXPECT_EQ(ToHex(modifies.front().payload), ToHex(Bytes(planned.begin() + 4, planned.end() - 2)));
  }
}

TEST_F(CliE2eTest, RefusingClockFailsAloneAndSetsTheStatus) {
  ASSERT_EQ(Control("gym", "faults refuse=true"), 0);
  const fs::path file = WriteWork("bright.json", R"({"basic": {"brightness": "Bright"}})");

  const CliOutcome table = Cli("apply all " + Quoted(file.string()));
  EXPECT_EQ(table.status, 1) << table;
  EXPECT_EQ(Occurrences(table.out, "Modify success!"), 2) << table;
  EXPECT_EQ(Occurrences(table.out, "Modify failed!"), 1) << table;
  EXPECT_EQ(ClockState("hall")["basic"]["brightness"], 3);
  EXPECT_EQ(ClockState("tower")["basic"]["brightness"], 3);
  EXPECT_EQ(ClockState("gym")["basic"]["brightness"], 4);

  const CliOutcome json = Cli("--json apply all " + Quoted(file.string()));
  EXPECT_EQ(json.status, 1) << json;
  const Json results = Json::parse(json.out).at("results");
  ASSERT_EQ(results.size(), 3u) << json.out;
  std::map<std::string, std::pair<bool, std::string>> byAddress;
  for (const Json& result : results) {
    byAddress[result.at("address").get<std::string>()] = {result.at("ok").get<bool>(),
                                                          result.at("sections").at("basic").get<std::string>()};
  }
  EXPECT_EQ(byAddress, (std::map<std::string, std::pair<bool, std::string>>{
                           {"10.213.0.10", {true, "Modify success!"}},
                           {"10.213.0.11", {false, "Modify failed!"}},
                           {"10.213.0.12", {true, "Modify success!"}}}));
}

// A stray datagram before every answer and one lost request: the lost one is
// tried again, the strays answer nothing, and the command succeeds.
TEST_F(CliE2eTest, StraysAndALostRequestStillEndInSuccess) {
  ASSERT_EQ(Control("hall", "faults strayBefore=true dropFirst=1"), 0);
  const fs::path file = WriteWork("bright.json", R"({"basic": {"brightness": "Bright"}})");
  const fs::path trace = Work("trace.txt");
  const CliOutcome outcome = Cli("--trace " + Quoted(trace.string()) + " apply 10.213.0.10 " + Quoted(file.string()));
  EXPECT_EQ(outcome.status, 0) << outcome;
  EXPECT_EQ(Occurrences(outcome.out, "Modify success!"), 1) << outcome;
  EXPECT_EQ(ClockState("hall")["basic"]["brightness"], 3);
  // The trace tells what became of each: the strays came from another port
  // and answered nothing; the modify went with the new brightness and its
  // answer ended the exchange.
  const std::string traced = FileText(trace);
  EXPECT_NE(traced.find(" 0x0D no-action "), std::string::npos) << traced;
  EXPECT_NE(traced.find("-> stray from port "), std::string::npos) << traced;
  EXPECT_NE(traced.find("send 10.213.0.10:7000 0x06 modify-basic-settings"), std::string::npos) << traced;
  EXPECT_NE(traced.find("\"brightness\":\"Bright\""), std::string::npos) << traced;
  EXPECT_NE(traced.find("fields={\"applied\":true} -> answer to 0x06 from 10.213.0.10"), std::string::npos)
      << traced;
}

// A backup that could not be written is no saved site.
TEST_F(CliE2eTest, BackupIntoAFullDiskFails) {
  const CliOutcome outcome = Cli("backup all >/dev/full");
  EXPECT_EQ(outcome.status, 1) << outcome;
  EXPECT_NE(outcome.err.find("could not be written"), std::string::npos) << outcome;
}

// --- input refused before anything is written ---------------------------------------------

struct BadInput {
  const char* name;
  const char* command;  // "%F" stands for the file
  const char* file;
  const char* password;
  int status;
  const char* errorPart;  // in standard error
  bool silent;            // nothing at all reaches any clock, not even a search
};

void PrintTo(const BadInput& bad, std::ostream* stream) { *stream << bad.name; }

class CliBadInputTest : public CliE2eTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(CliBadInputTest, SendsNoModify) {
  const BadInput& bad = GetParam();
  const std::map<std::string, Json> before = States();
  const fs::path file = WriteWork("input.json", bad.file);
  std::string command = bad.command;
  command.replace(command.find("%F"), 2, Quoted(file.string()));
  const fs::path password = Work("given-password.txt");
  WritePasswordFile(password, bad.password);

  const RecordMark mark;
  const CliOutcome outcome = Cli(command, password);
  EXPECT_EQ(outcome.status, bad.status) << outcome;
  EXPECT_NE(outcome.err.find(bad.errorPart), std::string::npos) << outcome;
  EXPECT_EQ(mark.ModifiesEverywhere(), 0u);
  if (bad.silent) {
    EXPECT_EQ(mark.LineCountEverywhere(), 0u) << "something reached a clock";
  }
  for (const char* sim : kSims) {
    const auto changed = Changes(Settings(before.at(sim)), Settings(ClockState(sim)));
    EXPECT_TRUE(changed.empty()) << sim << "\n" << Listed(changed);
  }
}

constexpr const char* kBright = R"({"basic": {"brightness": "Bright"}})";

INSTANTIATE_TEST_SUITE_P(
    Refused, CliBadInputTest,
    ::testing::Values(
        BadInput{"unknownField", "apply all %F", R"({"basic": {"colour": 1}})", kPassword, 2, "colour", true},
        BadInput{"bellTimeOutOfRange", "apply all %F", R"({"bells": [{"bell": 1, "time": "25:00:00"}]})", kPassword,
                 2, "25:00:00", true},
        BadInput{"zoneNotInTheList", "apply all %F", R"({"basic": {"zone": "UTC +15"}})", kPassword, 2, "UTC +15",
                 true},
        BadInput{"malformedJson", "apply all %F", R"({"basic": {"brightness": "Bright")", kPassword, 2,
                 "malformed JSON", true},
        BadInput{"restoreValueOutOfRange", "restore %F",
                 R"({"format": "marindo-site", "version": 1, "clocks": [{"serial": "HALL0001",
                     "mac": "02-13-0A-D5-00-0A", "display": {"radio": {"on": true, "id": 60}}}]})",
                 kPassword, 2, "radio", true},
        BadInput{"restoreToWithoutChoosingAClock", "restore %F --to 10.213.0.10",
                 R"({"clocks": [{"serial": "HALL0001", "mac": "02-13-0A-D5-00-0A", "basic": {"brightness": "Dim"}},
                                {"serial": "GYM0002", "mac": "02-13-0A-D5-00-0B", "basic": {"brightness": "Dim"}}]})",
                 kPassword, 2, "--clock", true},
        // The clocks that answer get searched, and nothing more.
        BadInput{"unknownAddress", "apply 10.213.0.10,10.213.0.99,10.213.0.12 %F", kBright, kPassword, 2,
                 "10.213.0.99", false},
        BadInput{"wrongPassword", "apply all %F", kBright, "tulip@kvx", 3, "Wrong password!", true}),
    [](const ::testing::TestParamInfo<BadInput>& param) { return std::string(param.param.name); });

// --- search and show -----------------------------------------------------------------------

TEST_F(CliE2eTest, SearchListsEveryClockWithItsIdentity) {
  const RecordMark mark;
  const CliOutcome search = Cli("search --json");
  ASSERT_EQ(search.status, 0) << search;
  std::map<std::string, std::vector<std::string>> found;
  const Json listed = Json::parse(search.out);
  for (const Json& clock : listed.at("clocks")) {
    std::vector<std::string> identity;
    for (const char* key : {"serial", "mac", "firmware", "model"}) identity.push_back(clock.at(key).get<std::string>());
    found[clock.at("address").get<std::string>()] = identity;
  }
  EXPECT_EQ(found, (std::map<std::string, std::vector<std::string>>{
                       {"10.213.0.10", {"HALL0001", "02-13-0A-D5-00-0A", "2.05", "old platform"}},
                       {"10.213.0.11", {"GYM0002", "02-13-0A-D5-00-0B", "1.05", "old platform"}},
                       {"10.213.0.12", {"TOWER003", "02-13-0A-D5-00-0C", "4.02", "new platform"}}}))
      << search.out;
  EXPECT_EQ(mark.ModifiesEverywhere(), 0u);
}

TEST_F(CliE2eTest, ShowPrintsTheBasicSettingsAsTheWindowsNameThem) {
  const RecordMark mark;
  const CliOutcome show = Cli("show 10.213.0.10,10.213.0.11,10.213.0.12 basic --json");
  ASSERT_EQ(show.status, 0) << show;
  struct Expected {
    const char* zone;
    const char* brightness;
    const char* addressing;
    int timeFormat;
  };
  const std::map<std::string, Expected> expected{
      {"10.213.0.10", {"UTC +5:45", "Normal", "static", 24}},
      {"10.213.0.11", {"UTC -9:30", "Brilliant", "static", 12}},
      {"10.213.0.12", {"UTC +10:30", "OFF", "dynamic", 24}},
  };
  const Json clocks = Json::parse(show.out).at("clocks");
  ASSERT_EQ(clocks.size(), 3u) << show.out;
  for (const Json& clock : clocks) {
    const std::string address = clock.at("address").get<std::string>();
    SCOPED_TRACE(address);
    ASSERT_TRUE(expected.contains(address));
    const Json& basic = clock.at("basic");
    EXPECT_EQ(basic.at("zone"), expected.at(address).zone);
    EXPECT_EQ(basic.at("brightness"), expected.at(address).brightness);
    EXPECT_EQ(basic.at("addressing"), expected.at(address).addressing);
    EXPECT_EQ(basic.at("timeFormat"), expected.at(address).timeFormat);
    EXPECT_FALSE(clock.contains("ntp")) << "only the section asked for";
  }
  EXPECT_EQ(mark.ModifiesEverywhere(), 0u);
}

// --- firmware and log ----------------------------------------------------------------------

std::string Sha256(const fs::path& path) {
  const std::string line = Shell("sha256sum " + Quoted(path.string()));
  return line.substr(0, line.find(' '));
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  return bytes;
}

TEST_F(CliE2eTest, UpgradeTakesOnlyTheFirmwareTypeOfTheModel) {
  const fs::path tar = WriteWork("fw.tar", Pattern(3000));
  const CliOutcome upgrade = Cli("--json upgrade 10.213.0.12 " + Quoted(tar.string()));
  EXPECT_EQ(upgrade.status, 0) << upgrade;
  // Each result names its clock and what became of it, under named keys.
  EXPECT_EQ(Json::parse(upgrade.out),
            Json::parse(R"({"results": [{"address": "10.213.0.12", "serial": "TOWER003", "ok": true,
                                          "result": "Upgrade success"}]})"))
      << upgrade;
  Json tower = ClockState("tower");
  ASSERT_EQ(tower["uploads"].size(), 1u) << tower["uploads"].dump();
  EXPECT_EQ(tower["uploads"][0]["name"], "fw.tar");
  EXPECT_EQ(tower["uploads"][0]["complete"], true);
  EXPECT_EQ(tower["uploads"][0]["sha256"], Sha256(tar));
  EXPECT_EQ(tower["announcements"], 1);

  // A new-platform clock takes .tar only: refused before the announcement.
  const fs::path bin = WriteWork("fw.bin", Pattern(3000));
  const RecordMark mark;
  const CliOutcome refused = Cli("upgrade 10.213.0.12 " + Quoted(bin.string()));
  EXPECT_EQ(refused.status, 2) << refused;
  for (const Json& line : mark.Lines("tower")) {
    EXPECT_NE(line.value("proto", ""), "tftp") << line.dump();
    EXPECT_NE(line.value("code", Json()), Json(0x0C)) << line.dump();
  }
  tower = ClockState("tower");
  EXPECT_EQ(tower["uploads"].size(), 1u);
  EXPECT_EQ(tower["announcements"], 1);
}

TEST_F(CliE2eTest, LogIsDownloadedOnceAndNeverOverwritten) {
  const fs::path folder = Work("logs");
  fs::create_directories(folder);
  const std::string served = FileText(RunFolder() / "tftp" / "10.213.0.12" / "log" / "log.txt");
  ASSERT_GT(served.size(), 512u) << "the log should need more than one block";

  const CliOutcome log = Cli("log 10.213.0.12 " + Quoted(folder.string()));
  EXPECT_EQ(log.status, 0) << log;
  const fs::path saved = folder / "10.213.0.12log.txt";
  EXPECT_EQ(FileText(saved), served);

  WriteFile(saved, "kept\n");
  const CliOutcome again = Cli("log 10.213.0.12 " + Quoted(folder.string()));
  EXPECT_EQ(again.status, 1) << again;
  EXPECT_NE(again.out.find("already exists"), std::string::npos) << again;
  EXPECT_EQ(FileText(saved), "kept\n");

  // An old-platform clock keeps no log: it fails without any TFTP exchange.
  const RecordMark mark;
  const CliOutcome old = Cli("log 10.213.0.10 " + Quoted(folder.string()));
  EXPECT_EQ(old.status, 1) << old;
  for (const Json& line : mark.Lines("hall")) {
    EXPECT_NE(line.value("proto", ""), "tftp") << line.dump();
  }
  EXPECT_FALSE(fs::exists(folder / "10.213.0.10log.txt"));
}

}  // namespace
}  // namespace marindo::e2e
