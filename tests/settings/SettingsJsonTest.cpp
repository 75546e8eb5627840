// A clock's settings as JSON fields: what is printed for a record, what a
// settings file may say, and the frames written from a record with a file's
// fields laid over it, which must be the windows' frames to the byte.

#include "settings/SettingsJson.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace marindo {
namespace {

using Built = std::variant<ClockFrame, std::string>;
using Bytes = std::vector<std::uint8_t>;
using Changes = std::map<std::size_t, std::uint8_t>;  // payload offset -> byte

constexpr CodePage kCp = CodePage::Cp1252;
constexpr const char* kMiddle = "\xE4\xB8\xAD";  // 中, two bytes in code page 936

template <std::size_t N>
void SetText(std::array<char, N>& field, std::string_view text) {
  field.fill(0);
  std::memcpy(field.data(), text.data(), std::min(N, text.size()));
}

void SetBell(ClockRecord& r, int number, BellEntry entry) { StoreBell(r.bells, number - 1, entry); }

std::string Repeated(std::string_view piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// A clock with every setting in use and within what the pages offer.
ClockRecord BaseRecord() {
  ClockRecord r;
  r.hour24 = 1;
  r.zoneHours = 8;            // UTC +8
  r.ipAddress = 0xC0A80114;   // 192.168.1.20
  r.subnetMask = 0xFFFFFF00;  // 255.255.255.0
  r.gateway = 0xC0A80101;     // 192.168.1.1
  r.dnsServer = 0x08080808;
  r.brightness = 2;  // Normal
  r.dstStartMonth = 3;
  r.dstStartWeek = 6;
  r.dstStartWeekday = 7;
  r.dstStartHour = 2;
  r.dstEndMonth = 10;
  r.dstEndWeek = 6;
  r.dstEndWeekday = 7;
  r.dstEndHour = 3;
  r.energyFrom = 22;
  r.energyTo = 6;
  r.energyClose = 1;
  r.countdownStart = {8, 30, 0};
  r.countdownDuration = {1, 0, 0};
  r.tempUnit = 1;
  r.humiture = Humiture{-5, 3, true, 45, 6};
  r.displayTimes = {5, 3, 0};
  r.radio = 0x85;
  r.ntpMode = 0;
  SetText(r.ntpServers[0].address, "10.0.0.1");
  SetText(r.ntpServers[1].address, "10.0.0.2");
  SetText(r.ntpServers[2].address, "0.0.0.0");
  r.textRoll = 1;
  r.textAlternateSeconds = 3;
  SetText(r.text, "HELLO");
  r.textLead = 12;
  SetBell(r, 1, {0, 7, 30, 0, 0xBE, 5});   // enabled, Mon-Fri
  SetBell(r, 2, {1, 12, 0, 0, 0x01, 10});  // Sunday, not enabled
  SetBell(r, 30, {29, 23, 59, 59, 0xC0, 15});
  return r;
}

Bytes BytesOf(const Built& built) {
  if (const auto* message = std::get_if<std::string>(&built)) {
    ADD_FAILURE() << "no frame: " << *message;
    return {};
  }
  const ClockFrame& frame = std::get<ClockFrame>(built);
  return {frame.Bytes().begin(), frame.Bytes().end()};
}

Bytes PayloadOf(const Built& built) {
  if (const auto* message = std::get_if<std::string>(&built)) {
    ADD_FAILURE() << "no frame: " << *message;
    return {};
  }
  const ClockFrame& frame = std::get<ClockFrame>(built);
  return {frame.Payload().begin(), frame.Payload().end()};
}

std::string MessageOf(const Built& built) {
  if (const auto* message = std::get_if<std::string>(&built)) return *message;
  ADD_FAILURE() << "a frame where a message was expected";
  return {};
}

Changes Differences(const Bytes& before, const Bytes& after) {
  Changes changes;
  EXPECT_EQ(before.size(), after.size());
  for (std::size_t i = 0; i < std::min(before.size(), after.size()); ++i) {
    if (before[i] != after[i]) changes[i] = after[i];
  }
  return changes;
}

Built Build(const ClockRecord& r, Section section, std::string_view fields, CodePage cp = kCp) {
  return BuildSectionFrame(r, section, fields.empty() ? Json() : Json::parse(fields), cp);
}

std::vector<std::string> Check(Section section, std::string_view fields) {
  return CheckSectionJson(section, Json::parse(fields));
}

// ---------------------------------------------------------------------------

TEST(SettingsJsonSectionTest, NamesQueriesAndWritability) {
  const struct {
    Section section;
    const char* name;
    std::vector<std::uint8_t> queries;
    bool writable;
  } cases[] = {
      {Section::Basic, "basic", {0x02}, true},     {Section::Ntp, "ntp", {0x03}, true},
      {Section::Display, "display", {0x05}, true}, {Section::Text, "text", {0x0A}, true},
      {Section::Bells, "bells", {0x04}, true},     {Section::System, "system", {0x10}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SectionName(c.section), c.name);
    EXPECT_EQ(SectionNamed(c.name), c.section);
    EXPECT_EQ(SectionQueries(c.section), c.queries) << c.name;
    EXPECT_EQ(SectionWritable(c.section), c.writable) << c.name;
  }
  EXPECT_EQ(SectionNamed("Basic"), std::nullopt);
  EXPECT_EQ(SectionNamed("bell"), std::nullopt);
}

// ---------------------------------------------------------------------------
// What is printed

TEST(SectionToJsonTest, PrintsEachSectionInThePagesOrder) {
  const ClockRecord r = BaseRecord();
  EXPECT_EQ(SectionToJson(r, Section::Basic, kCp), Json::parse(R"({
    "timeFormat": 24, "zone": "UTC +8", "addressing": "static",
    "ipAddress": "192.168.1.20", "subnetMask": "255.255.255.0", "gateway": "192.168.1.1", "dnsServer": "8.8.8.8",
    "dst": {"enabled": true,
            "start": {"hour": 2, "week": "Last", "weekday": "Sun", "month": "Mar"},
            "end": {"hour": 3, "week": "Last", "weekday": "Sun", "month": "Oct"}},
    "energySaving": {"enabled": true, "from": 22, "to": 6, "display": "close"},
    "brightness": "Normal"})"));
  EXPECT_EQ(SectionToJson(r, Section::Ntp, kCp), Json::parse(R"({
    "mode": "addresses", "servers": ["10.0.0.1", "10.0.0.2", "0.0.0.0", "0.0.0.0", "0.0.0.0"]})"));
  EXPECT_EQ(SectionToJson(r, Section::Display, kCp), Json::parse(R"({
    "countdownStart": {"hour": 8, "minute": 30, "second": 0},
    "countdownDuration": {"hours": 1, "minutes": 0, "seconds": 0},
    "sensor": true, "temperature": "-5.3\u00B0C", "humidity": "45.6 %", "unit": "C",
    "timeOnly": false, "timeSeconds": 5, "humitureSeconds": 3,
    "radio": {"on": true, "id": 5}})"));
  EXPECT_EQ(SectionToJson(r, Section::Text, kCp),
            Json::parse(R"({"mode": "alternate", "alternateSeconds": 3, "text": "HELLO", "limit": 32})"));
  EXPECT_EQ(SectionToJson(r, Section::System, kCp), Json::parse(R"({"newPlatform": false, "uptimeDays": 12})"));

  const Json bells = SectionToJson(r, Section::Bells, kCp);
  ASSERT_EQ(bells.size(), 30u);
  EXPECT_EQ(bells[0], Json::parse(R"({"bell": 1, "enabled": true, "time": "07:30:00",
                                      "days": ["Mon", "Tue", "Wed", "Thu", "Fri"], "duration": 5})"));
  EXPECT_EQ(bells[29], Json::parse(R"({"bell": 30, "enabled": true, "time": "23:59:59",
                                       "days": ["Sat"], "duration": 15})"));
  EXPECT_EQ(bells[5], Json::parse(R"({"bell": 6, "enabled": false, "time": "00:00:00", "days": [], "duration": 0})"));
}

TEST(SectionToJsonTest, OffSettingsAndMissingSensorLeaveTheirDetailsOut) {
  ClockRecord r = BaseRecord();
  r.dstEndMonth = 3;
  r.dstEndWeek = 6;  // same month and week: off
  r.energyTo = 22;
  r.tempUnit = 0;
  r.textRoll = 0;
  r.ntpMode = 1;
  SetText(r.ntpServers[0].name, "pool.ntp.org");
  r.uptimeDays = 400;
  r.newPlatform = true;
  const Json basic = SectionToJson(r, Section::Basic, kCp);
  EXPECT_EQ(basic["dst"], Json::parse(R"({"enabled": false})"));
  EXPECT_EQ(basic["energySaving"], Json::parse(R"({"enabled": false})"));
  const Json display = SectionToJson(r, Section::Display, kCp);
  EXPECT_EQ(display["sensor"], false);
  for (const char* key : {"temperature", "humidity", "unit", "timeOnly", "timeSeconds", "humitureSeconds"}) {
    EXPECT_FALSE(display.contains(key)) << key;
  }
  EXPECT_FALSE(SectionToJson(r, Section::Text, kCp).contains("alternateSeconds"));
  EXPECT_EQ(SectionToJson(r, Section::Ntp, kCp), Json::parse(R"({"mode": "names", "names": ["pool.ntp.org", ""]})"));
  EXPECT_EQ(SectionToJson(r, Section::System, kCp), Json::parse(R"({"newPlatform": true, "uptimeDays": 400})"));

  r.displayTimes[1] = 0;
  r.tempUnit = 2;
  const Json timeOnly = SectionToJson(r, Section::Display, kCp);
  EXPECT_EQ(timeOnly["unit"], "F");
  EXPECT_EQ(timeOnly["timeOnly"], true);
  EXPECT_FALSE(timeOnly.contains("timeSeconds"));
}

TEST(SectionToJsonTest, DoubleByteTextsPrintAsUtf8) {
  ClockRecord r = BaseRecord();
  SetText(r.text, "A\xD6\xD0\xCE\xC4");  // A中文 in code page 936
  r.ntpMode = 1;
  SetText(r.ntpServers[1].name, "\xD6\xD0");
  EXPECT_EQ(SectionToJson(r, Section::Text, CodePage::Cp936)["text"], "A\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(SectionToJson(r, Section::Ntp, CodePage::Cp936)["names"][1], kMiddle);
}

// ---------------------------------------------------------------------------
// An unchanged Modify: the windows' bytes

TEST(SettingsJsonUnchangedFrameTest, BasicIsTheWindowsFrame) {
  ClockRecord r;
  r.hour24 = 1;
  r.zoneHours = 8;
  r.dynamicIp = 1;
  r.ipAddress = 0xC0A80114;  // the address a dynamic clock got is not sent
  r.subnetMask = 0xFFFFFF00;
  r.gateway = 0xC0A80101;
  r.dnsServer = 0xC0A80101;
  r.brightness = 2;
  r.energyFrom = 22;  // 22 to 22 is off and goes out as 0 to 0
  r.energyTo = 22;
  r.energyClose = 1;
  r.dstStartMonth = 3;  // same month and week: off, sent as zeros
  r.dstEndMonth = 3;
  r.dstStartHour = 2;
  const Bytes expected{0x51, 0x4B, 0x80, 0x1B, 0x06, 0x40, 0xD0, 0x00, 0x00, 0x00, 0x00,
                       0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01, 0x01, 0xC0, 0xA8, 0x01,
                       0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4D, 0x00};
  EXPECT_EQ(BytesOf(Build(r, Section::Basic, "")), expected);
}

TEST(SettingsJsonUnchangedFrameTest, BasicCarriesTheRuleAndThePeriod) {
  const Bytes payload = PayloadOf(Build(BaseRecord(), Section::Basic, ""));
  const Bytes expected{0x06, 0x40, 0x90, 192, 168, 1, 20,   255, 255, 255,  0, 192, 168, 1,
                       1,    8,    8,    8,   8,   3, 0x67, 2,   10,  0x67, 3, 22,  0x34};
  EXPECT_EQ(payload, expected);
}

TEST(SettingsJsonUnchangedFrameTest, DisplayIsTheWindowsFrame) {
  const Bytes expected{0x51, 0x4B, 0x80, 0x0E, 0x09, 0x08, 0x1E, 0x00, 0x01, 0x00,
                       0x00, 0x01, 0x85, 0x00, 0x00, 0x00, 0x53, 0x30, 0xC4, 0x56};
  EXPECT_EQ(BytesOf(Build(BaseRecord(), Section::Display, "")), expected);
}

TEST(SettingsJsonUnchangedFrameTest, DisplayOfAClockWithoutSensorSendsNoUnitOrDurations) {
  ClockRecord r = BaseRecord();
  r.humiture.humidityWhole = 0;  // 0.0 %: no sensor, whatever the unit
  r.humiture.humidityTenths = 0;
  const Bytes payload = PayloadOf(Build(r, Section::Display, ""));
  ASSERT_EQ(payload.size(), 14u);
  EXPECT_EQ(payload[7], 0);
  EXPECT_EQ(payload[12], 0);
  EXPECT_EQ(payload[13], 0);
  r = BaseRecord();
  r.displayTimes[1] = 0;  // time only
  const Bytes timeOnly = PayloadOf(Build(r, Section::Display, ""));
  EXPECT_EQ(timeOnly[12], 0x10);
  EXPECT_EQ(timeOnly[13], 0);
}

TEST(SettingsJsonUnchangedFrameTest, TextIsTheWindowsFrameInTheClocksForm) {
  Bytes expected{0x51, 0x4B, 0x80, 0x24, 0x0B, 0x00, 0x83, 0x48, 0x45, 0x4C, 0x4C, 0x4F};
  expected.resize(expected.size() + 28, 0);
  expected.insert(expected.end(), {0x41, 0x7D});
  ClockRecord r = BaseRecord();
  EXPECT_EQ(BytesOf(Build(r, Section::Text, "")), expected);
  r.longText = true;
  const Bytes longForm = BytesOf(Build(r, Section::Text, ""));
  EXPECT_EQ(longForm.size(), 74u);
}

TEST(SettingsJsonUnchangedFrameTest, NtpAddressesAndNames) {
  Bytes expected{0x51, 0x4B, 0x80, 0x16, 0x07, 0x00, 0x0A, 0x00, 0x00, 0x01, 0x0A, 0x00, 0x00, 0x02};
  expected.resize(expected.size() + 12, 0);
  expected.insert(expected.end(), {0x27, 0x5C});
  ClockRecord r = BaseRecord();
  EXPECT_EQ(BytesOf(Build(r, Section::Ntp, "")), expected);

  r.ntpMode = 1;
  SetText(r.ntpServers[0].name, "pool.ntp.org");
  SetText(r.ntpServers[1].name, Repeated("t", 30));  // a full field has no terminator
  const Bytes payload = PayloadOf(Build(r, Section::Ntp, ""));
  ASSERT_EQ(payload.size(), 62u);
  EXPECT_EQ(payload[1], 1);
  EXPECT_EQ(std::string(payload.begin() + 2, payload.begin() + 14), "pool.ntp.org");
  EXPECT_EQ(payload[14], 0);
  EXPECT_EQ(std::string(payload.begin() + 32, payload.end()), Repeated("t", 30));
}

TEST(SettingsJsonUnchangedFrameTest, BellsAreWrittenWithTheirPositionsAsIndex) {
  ClockRecord r = BaseRecord();
  r.bells[6] = 0xEE;  // bell 2's index byte as some clock reported it
  const Bytes bytes = BytesOf(Build(r, Section::Bells, ""));
  ASSERT_EQ(bytes.size(), 187u);
  EXPECT_EQ(Bytes(bytes.begin() + 5, bytes.begin() + 11), (Bytes{0x00, 7, 30, 0, 0xBE, 5}));
  EXPECT_EQ(Bytes(bytes.begin() + 11, bytes.begin() + 17), (Bytes{0x01, 12, 0, 0, 0x01, 10}));
  EXPECT_EQ(Bytes(bytes.begin() + 41, bytes.begin() + 47), (Bytes{0x06, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(bytes.begin() + 179, bytes.begin() + 185), (Bytes{0x1D, 23, 59, 59, 0xC0, 15}));
}

// ---------------------------------------------------------------------------
// Printing and writing back: the same frame as an unchanged Modify

using Change = std::function<void(ClockRecord&)>;

struct RecordCase {
  const char* name;
  Change change;
};

std::vector<RecordCase> RecordsWithinThePagesRanges() {
  std::vector<RecordCase> cases{
      {"base", [](ClockRecord&) {}},
      {"12 hours, dynamic", [](ClockRecord& r) { r.hour24 = 0, r.dynamicIp = 1; }},
      {"dst off", [](ClockRecord& r) { r.dstStartMonth = r.dstEndMonth = 0; }},
      {"dst first Monday of January",
       [](ClockRecord& r) { r.dstStartMonth = 1, r.dstStartWeek = 1, r.dstStartWeekday = 1, r.dstStartHour = 0; }},
      {"dst in one month", [](ClockRecord& r) { r.dstEndMonth = 3, r.dstEndWeek = 2, r.dstEndHour = 23; }},
      {"energy off", [](ClockRecord& r) { r.energyTo = r.energyFrom; }},
      {"energy dim from 0", [](ClockRecord& r) { r.energyClose = 0, r.energyFrom = 0, r.energyTo = 23; }},
      {"no sensor", [](ClockRecord& r) { r.tempUnit = 0; }},
      {"fahrenheit, time only",
       [](ClockRecord& r) {
         r.tempUnit = 2, r.displayTimes = {0, 0, 7};
       }},
      {"durations at the ends",
       [](ClockRecord& r) {
         r.displayTimes = {15, 1, 3};
       }},
      {"radio closed, id 59", [](ClockRecord& r) { r.radio = 59; }},
      {"count-down at the ends",
       [](ClockRecord& r) {
         r.countdownStart = {23, 59, 59}, r.countdownDuration = {9, 59, 59};
       }},
      {"roll, empty text", [](ClockRecord& r) { r.textRoll = 0, r.textAlternateSeconds = 0, r.text.fill(0); }},
      {"long text", [](ClockRecord& r) { r.longText = true, SetText(r.text, Repeated("x", 64)); }},
      {"short text full", [](ClockRecord& r) { SetText(r.text, Repeated("\xE9", 32)); }},  // é in code page 1252
      {"names",
       [](ClockRecord& r) {
         r.ntpMode = 1, SetText(r.ntpServers[0].name, "pool.ntp.org"), SetText(r.ntpServers[1].name, "time.nist.gov");
       }},
      {"no bells", [](ClockRecord& r) { r.bells.fill(0); }},
      {"every bell",
       [](ClockRecord& r) {
         for (int n = 1; n <= kBellCount; ++n) {
           const auto k = static_cast<std::uint8_t>(n);
           SetBell(r, n,
                   {0, static_cast<std::uint8_t>(k % 24), static_cast<std::uint8_t>(k * 2 - 1),
                    static_cast<std::uint8_t>(59 - k), static_cast<std::uint8_t>(k * 9),
                    static_cast<std::uint8_t>(3 + k % 13)});
         }
       }},
  };
  for (std::uint8_t brightness = 0; brightness < kBrightnessChoices; ++brightness) {
    cases.push_back({kBrightnessNames[brightness].data(), [brightness](ClockRecord& r) { r.brightness = brightness; }});
  }
  for (std::string_view entry : kZoneEntries) {
    const std::uint8_t zone = ZoneByte(entry);
    cases.push_back({entry.data(), [zone](ClockRecord& r) {
                       r.zoneNegative = (zone & 0x80) != 0 ? 1 : 0;
                       r.zoneHours = static_cast<std::uint8_t>((zone >> 3) & 0x0F);
                       r.zoneMinuteCode = static_cast<std::uint8_t>((zone >> 1) & 0x03);
                     }});
  }
  return cases;
}

void ExpectRoundTrip(const ClockRecord& r, Section section, CodePage cp) {
  SCOPED_TRACE(SectionName(section));
  const Json printed = SectionToJson(r, section, cp);
  EXPECT_EQ(CheckSectionJson(section, printed), std::vector<std::string>{}) << printed.dump();
  const Bytes unchanged = BytesOf(BuildSectionFrame(r, section, {}, cp));
  EXPECT_FALSE(unchanged.empty());
  EXPECT_EQ(BytesOf(BuildSectionFrame(r, section, printed, cp)), unchanged) << printed.dump();
}

TEST(SettingsJsonRoundTripTest, PrintedSettingsWriteTheUnchangedFrame) {
  for (const RecordCase& c : RecordsWithinThePagesRanges()) {
    SCOPED_TRACE(c.name);
    ClockRecord r = BaseRecord();
    c.change(r);
    for (Section section : kAllSections) {
      if (SectionWritable(section)) ExpectRoundTrip(r, section, kCp);
    }
  }
}

TEST(SettingsJsonRoundTripTest, DoubleByteTextsAndNames) {
  ClockRecord r = BaseRecord();
  SetText(r.text, Repeated("\xD6\xD0", 16));  // 16 characters fill the 32 bytes
  r.ntpMode = 1;
  SetText(r.ntpServers[0].name, Repeated("\xD6\xD0", 15));
  SetText(r.ntpServers[1].name, "ntp.\xD6\xD0");
  ExpectRoundTrip(r, Section::Text, CodePage::Cp936);
  ExpectRoundTrip(r, Section::Ntp, CodePage::Cp936);
}

// ---------------------------------------------------------------------------
// Fields laid over the record change their bytes and nothing else

struct FieldCase {
  const char* fields;
  Changes changes;
};

void ExpectChanges(const ClockRecord& r, Section section, const std::vector<FieldCase>& cases) {
  const Bytes unchanged = PayloadOf(Build(r, section, ""));
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.fields);
    const Bytes changed = PayloadOf(Build(r, section, c.fields));
    if (changed.empty()) continue;
    EXPECT_EQ(Differences(unchanged, changed), c.changes);
  }
}

TEST(SettingsJsonFieldsTest, BasicFieldsChangeOnlyTheirBytes) {
  ExpectChanges(
      BaseRecord(), Section::Basic,
      {
          {R"({"timeFormat": 12})", {{2, 0x10}}},
          {R"({"timeFormat": 24})", {}},
          {R"({"zone": "UTC -9:30"})", {{1, 0xCA}}},
          {R"({"zone": "UTC -9 "})", {{1, 0xC8}}},
          {R"({"zone": "UTC  0"})", {{1, 0x00}}},
          {R"({"zone": null})", {}},
          {R"({"addressing": "dynamic"})", {{2, 0xD0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}}},
          {R"({"ipAddress": "10.0.0.9"})", {{3, 10}, {4, 0}, {5, 0}, {6, 9}}},
          {R"({"gateway": "192.168.1.254", "dnsServer": ""})", {{14, 254}, {15, 0}, {16, 0}, {17, 0}, {18, 0}}},
          {R"({"dst": {"enabled": false}})", {{19, 0}, {20, 0}, {21, 0}, {22, 0}, {23, 0}, {24, 0}}},
          {R"({"dst": {"start": {"month": "Apr", "hour": 23}}})", {{19, 4}, {21, 23}}},
          {R"({"dst": {"end": {"week": "First", "weekday": "Mon"}}})", {{23, 0x11}}},
          {R"({"dst": {"enabled": true, "start": {"week": null}}})", {}},
          {R"({"energySaving": {"enabled": false}})", {{25, 0}, {26, 0}}},
          {R"({"energySaving": {"display": "dim"}})", {{26, 0x30}}},
          {R"({"energySaving": {"from": 21, "to": 7}})", {{25, 21}, {26, 0x3C}}},
          {R"({"brightness": "Brilliant"})", {{2, 0xA0}}},
          {R"({"brightness": "OFF"})", {{2, 0x80}}},
      });
}

TEST(SettingsJsonFieldsTest, SwitchingOnNeedsEveryPartAndSendsIt) {
  ClockRecord r = BaseRecord();
  r.dstStartMonth = r.dstEndMonth = 0;
  r.energyTo = r.energyFrom;
  ExpectChanges(r, Section::Basic,
                {
                    {R"({"dst": {"enabled": true,
                                 "start": {"hour": 1, "week": "Second", "weekday": "Sat", "month": "Feb"},
                                 "end": {"hour": 4, "week": "Third", "weekday": "Fri", "month": "Nov"}}})",
                     {{19, 2}, {20, 0x26}, {21, 1}, {22, 11}, {23, 0x35}, {24, 4}}},
                    // Switching on checks "Display Dim".
                    {R"({"energySaving": {"enabled": true, "from": 0, "to": 5}})", {{26, 0x28}}},
                });
}

TEST(SettingsJsonFieldsTest, DisplayFieldsChangeOnlyTheirBytes) {
  ExpectChanges(BaseRecord(), Section::Display,
                {
                    {R"({"countdownStart": {"minute": 45}})", {{2, 45}}},
                    {R"({"countdownDuration": {"hours": 9, "seconds": 59}})", {{4, 9}, {6, 59}}},
                    {R"({"unit": "F"})", {{7, 2}}},
                    {R"({"timeOnly": true})", {{12, 0x10}, {13, 0}}},
                    {R"({"timeOnly": false})", {}},
                    {R"({"timeSeconds": 0, "humitureSeconds": 15})", {{12, 0x0F}, {13, 0xF0}}},
                    {R"({"radio": {"on": false}})", {{8, 0x05}}},
                    {R"({"radio": {"id": 59}})", {{8, 0xBB}}},
                    {R"({"sensor": false, "temperature": "1.0\u00B0C", "humidity": "1.0 %"})", {}},
                });
  ClockRecord timeOnly = BaseRecord();
  timeOnly.displayTimes = {0, 0, 0};
  ExpectChanges(timeOnly, Section::Display,
                {{R"({"timeOnly": false, "humitureSeconds": 4})", {{12, 0x04}, {13, 0x40}}},
                 {R"({"timeOnly": false, "timeSeconds": 2, "humitureSeconds": 4})", {{12, 0x24}, {13, 0x40}}}});
}

TEST(SettingsJsonFieldsTest, TextFieldsChangeOnlyTheirBytes) {
  ExpectChanges(BaseRecord(), Section::Text,
                {
                    {R"({"mode": "roll"})", {{2, 0}}},
                    {R"({"mode": "alternate"})", {}},
                    {R"({"alternateSeconds": 127})", {{2, 0xFF}}},
                    {R"({"text": "HI"})", {{4, 'I'}, {5, 0}, {6, 0}, {7, 0}}},
                    {R"({"limit": 64})", {}},
                });
  ClockRecord roll = BaseRecord();
  roll.textRoll = 0;
  // Choosing "Alternate(s):" selects its first entry, 2 seconds.
  ExpectChanges(
      roll, Section::Text,
      {{R"({"mode": "alternate"})", {{2, 0x82}}}, {R"({"mode": "alternate", "alternateSeconds": 9})", {{2, 0x89}}}});
}

TEST(SettingsJsonFieldsTest, BellFieldsChangeOnlyTheirBell) {
  ExpectChanges(BaseRecord(), Section::Bells,
                {
                    {R"([{"bell": 2, "enabled": true}])", {{11, 0x81}}},
                    {R"([{"bell": 1, "time": "08:15:30"}])", {{2, 8}, {3, 15}, {4, 30}}},
                    {R"([{"bell": 1, "days": ["Sat", "Sun"]}])", {{5, 0xC1}}},
                    {R"([{"bell": 30, "duration": 3}, {"bell": 1, "time": null}])", {{180, 3}}},
                    {R"([{"bell": 2, "enabled": false, "days": [], "duration": 0}])", {{11, 0}, {12, 0}}},
                    {R"([{"bell": 7, "enabled": true, "time": "06:00:00", "days": ["Mon"], "duration": 15}])",
                     {{38, 6}, {41, 0x82}, {42, 15}}},
                });
}

TEST(SettingsJsonFieldsTest, NtpServersAndNames) {
  const ClockRecord r = BaseRecord();
  // Entries not given are 0.0.0.0, as blank rows are.
  Bytes payload = PayloadOf(Build(r, Section::Ntp, R"({"servers": ["10.0.0.3"]})"));
  Bytes expected(22, 0);
  expected[0] = 0x07;
  expected[2] = 10;
  expected[5] = 3;
  EXPECT_EQ(payload, expected);

  payload = PayloadOf(Build(r, Section::Ntp, R"({"mode": "names", "names": ["pool.ntp.org"]})"));
  ASSERT_EQ(payload.size(), 62u);
  EXPECT_EQ(payload[1], 1);
  EXPECT_EQ(std::string(payload.begin() + 2, payload.begin() + 14), "pool.ntp.org");
  EXPECT_TRUE(std::all_of(payload.begin() + 14, payload.end(), [](std::uint8_t b) { return b == 0; }));

  ClockRecord names = r;
  names.ntpMode = 1;
  SetText(names.ntpServers[0].name, "a.example");
  SetText(names.ntpServers[1].name, "b.example");
  payload = PayloadOf(Build(names, Section::Ntp, R"({"mode": "addresses", "servers": ["1.2.3.4", "", "5.6.7.8"]})"));
  expected = Bytes(22, 0);
  expected[0] = 0x07;
  std::copy_n(Bytes{1, 2, 3, 4}.begin(), 4, expected.begin() + 2);
  std::copy_n(Bytes{5, 6, 7, 8}.begin(), 4, expected.begin() + 10);
  EXPECT_EQ(payload, expected);

  payload = PayloadOf(Build(names, Section::Ntp, R"({"names": ["", "c.example"]})"));
  ASSERT_EQ(payload.size(), 62u);
  EXPECT_EQ(payload[2], 0);
  EXPECT_EQ(std::string(payload.begin() + 32, payload.begin() + 41), "c.example");
}

// ---------------------------------------------------------------------------
// Values the pages cannot show: refused unless the file gives a new one

struct HeldCase {
  const char* name;
  Change change;
  Section section;
  const char* message;
  const char* newValue;  // fields that replace the held value
  std::size_t offset;    // and the payload byte they give
  std::uint8_t byte;
};

TEST(SettingsJsonHeldValueTest, RefusedUntilTheFileGivesANewValue) {
  const HeldCase cases[] = {
      {"auto brightness", [](ClockRecord& r) { r.brightness = 5; }, Section::Basic,
       "basic.brightness: the clock holds \"Auto\", which cannot be written back as it is; the file must give a value",
       R"({"brightness": "Dim"})", 2, 0x88},
      {"brightness beyond the table", [](ClockRecord& r) { r.brightness = 7; }, Section::Basic,
       "basic.brightness: the clock holds 7, which cannot be written back as it is; the file must give a value",
       R"({"brightness": "Bright"})", 2, 0x98},
      {"zone minutes code 3", [](ClockRecord& r) { r.zoneMinuteCode = 3; }, Section::Basic,
       "basic.zone: the clock holds a zone with minutes code 3, which cannot be written back as it is; the file must "
       "give a value",
       R"({"zone": "UTC -12"})", 1, 0xE0},
      {"zone beyond the list", [](ClockRecord& r) { r.zoneHours = 15; }, Section::Basic,
       "basic.zone: the clock holds \"UTC +15\", which cannot be written back as it is; the file must give a value",
       R"({"zone": "UTC +14"})", 1, 0x70},
      {"dst month 13", [](ClockRecord& r) { r.dstStartMonth = 13; }, Section::Basic,
       "basic.dst.start.month: the clock holds 13, which cannot be written back as it is; the file must give a value",
       R"({"dst": {"start": {"month": "Apr"}}})", 19, 4},
      {"dst hour 24", [](ClockRecord& r) { r.dstEndHour = 24; }, Section::Basic,
       "basic.dst.end.hour: the clock holds 24, which cannot be written back as it is; the file must give a value",
       R"({"dst": {"end": {"hour": 1}}})", 24, 1},
      {"energy hour 30", [](ClockRecord& r) { r.energyTo = 30; }, Section::Basic,
       "basic.energySaving.to: the clock holds 30, which cannot be written back as it is; the file must give a value",
       R"({"energySaving": {"to": 5}})", 26, 0x2C},
      {"count-down hour 24", [](ClockRecord& r) { r.countdownStart[0] = 24; }, Section::Display,
       "display.countdownStart.hour: the clock holds 24, which cannot be written back as it is; the file must give "
       "a value",
       R"({"countdownStart": {"hour": 0}})", 1, 0},
      {"count-down hours 10", [](ClockRecord& r) { r.countdownDuration[0] = 10; }, Section::Display,
       "display.countdownDuration.hours: the clock holds 10, which cannot be written back as it is; the file must "
       "give a value",
       R"({"countdownDuration": {"hours": 9}})", 4, 9},
      {"radio id 75", [](ClockRecord& r) { r.radio = 0x80 | 75; }, Section::Display,
       "display.radio.id: the clock holds 75, which cannot be written back as it is; the file must give a value",
       R"({"radio": {"id": 1}})", 8, 0x81},
      {"unknown unit", [](ClockRecord& r) { r.tempUnit = 3; }, Section::Display,
       "display.unit: the clock holds unit 3, which cannot be written back as it is; the file must give a value",
       R"({"unit": "C"})", 7, 1},
      {"time duration 20", [](ClockRecord& r) { r.displayTimes[0] = 20; }, Section::Display,
       "display.timeSeconds: the clock holds 20, which cannot be written back as it is; the file must give a value",
       R"({"timeSeconds": 4})", 12, 0x43},
      {"alternate seconds not in the list", [](ClockRecord& r) { r.textAlternateSeconds = 10; }, Section::Text,
       "text.alternateSeconds: the clock holds 10, which cannot be written back as it is; the file must give a value",
       R"({"alternateSeconds": 10})", 2, 0x8A},
      {"text longer than the field", [](ClockRecord& r) { SetText(r.text, Repeated("y", 40)); }, Section::Text,
       "text.text: the clock holds a text that has 40 characters, more than the 32 allowed; the file must give a "
       "value",
       R"({"text": "OK"})", 3, 'O'},
      {"bell hour 24",
       [](ClockRecord& r) {
         SetBell(r, 3, {2, 24, 0, 0, 0x80, 5});
       },
       Section::Bells,
       "bells: bell 3 time: the clock holds 24:00:00, which cannot be written back as it is; the file must give a "
       "value",
       R"([{"bell": 3, "time": "21:00:00"}])", 14, 21},
      {"bell duration 2",
       [](ClockRecord& r) {
         SetBell(r, 4, {3, 6, 0, 0, 0x02, 2});
       },
       Section::Bells,
       "bells: bell 4 duration: the clock holds 2, which cannot be written back as it is; the file must give a value",
       R"([{"bell": 4, "duration": 3}])", 24, 3},
  };
  for (const HeldCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClockRecord r = BaseRecord();
    c.change(r);
    // What is printed for such a clock still passes the check.
    const Json printed = SectionToJson(r, c.section, kCp);
    EXPECT_EQ(CheckSectionJson(c.section, printed), std::vector<std::string>{}) << printed.dump();
    EXPECT_EQ(MessageOf(Build(r, c.section, "")), c.message);
    const Bytes payload = PayloadOf(Build(r, c.section, c.newValue));
    ASSERT_GT(payload.size(), c.offset);
    EXPECT_EQ(payload[c.offset], c.byte);
  }
}

TEST(SettingsJsonHeldValueTest, EveryProblemIsReportedOnItsOwnLine) {
  ClockRecord r = BaseRecord();
  r.brightness = 5;
  r.zoneMinuteCode = 3;
  const std::string message = MessageOf(Build(r, Section::Basic, R"({"ipAddress": "0.0.0.0"})"));
  EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 2) << message;
  EXPECT_EQ(message.rfind("basic.zone: ", 0), 0u) << message;
  EXPECT_NE(message.find("\nbasic.brightness: "), std::string::npos) << message;
  EXPECT_NE(message.find("\nbasic.ipAddress: "), std::string::npos) << message;
}

// ---------------------------------------------------------------------------
// What the windows refuse, and files that cannot mean what they say

struct RefusalCase {
  const char* name;
  Change change;
  Section section;
  std::string fields;
  std::string message;
  CodePage cp = kCp;
};

TEST(SettingsJsonRefusalTest, FieldsThatCannotGoToThisClock) {
  const auto none = [](ClockRecord&) {};
  const auto namesForm = [](ClockRecord& r) { r.ntpMode = 1; };
  const auto dstOff = [](ClockRecord& r) { r.dstStartMonth = r.dstEndMonth = 0; };
  const auto energyOff = [](ClockRecord& r) { r.energyTo = r.energyFrom; };
  const auto noSensor = [](ClockRecord& r) { r.tempUnit = 0; };
  const auto timeOnly = [](ClockRecord& r) { r.displayTimes[1] = 0; };
  const RefusalCase cases[] = {
      {"static without address", none, Section::Basic, R"({"ipAddress": "0.0.0.0"})",
       "basic.ipAddress: Please input a valid IP address"},
      {"static with a blank address", none, Section::Basic, R"({"ipAddress": ""})",
       "basic.ipAddress: Please input a valid IP address"},
      {"switching to static", [](ClockRecord& r) { r.dynamicIp = 1, r.ipAddress = 0xFFFFFFFF; }, Section::Basic,
       R"({"addressing": "static"})", "basic.ipAddress: Please input a valid IP address"},
      {"brightness Auto", none, Section::Basic, R"({"brightness": "Auto"})",
       "basic.brightness: \"Auto\" is the clock's own choice and cannot be written; give OFF, Dim, Normal, Bright, "
       "Brilliant"},
      {"energy from equals to", none, Section::Basic, R"({"energySaving": {"from": 6}})",
       "basic.energySaving: \"from\" and \"to\" are both 6; a period needs two different hours (or \"enabled\": "
       "false)"},
      {"energy switched on without hours", energyOff, Section::Basic, R"({"energySaving": {"enabled": true, "to": 5}})",
       "basic.energySaving.from: energy saving is off on the clock; the file must give a value to switch it on"},
      {"energy hours while off", none, Section::Basic, R"({"energySaving": {"enabled": false, "from": 3}})",
       "basic.energySaving.from: energy saving stays off; give \"enabled\": true to use it"},
      {"dst switched on in part", dstOff, Section::Basic,
       R"({"dst": {"enabled": true, "start": {"hour": 1, "week": "First", "weekday": "Sun"},
                   "end": {"hour": 1, "week": "Last", "weekday": "Sun", "month": "Oct"}}})",
       "basic.dst.start.month: daylight saving is off on the clock; the file must give a value to switch it on"},
      {"dst rule that reads as off", none, Section::Basic, R"({"dst": {"end": {"month": "Mar"}}})",
       "basic.dst: a rule that starts and ends in the same week of the same month is off on the clock; give "
       "different ones or \"enabled\": false"},
      {"dst rule while off", dstOff, Section::Basic, R"({"dst": {"end": {"month": "Mar"}}})",
       "basic.dst.end: daylight saving stays off; give \"enabled\": true to use it"},
      {"addresses without servers", namesForm, Section::Ntp, R"({"mode": "addresses"})",
       "ntp.servers: the clock holds its servers as names; the file must give \"servers\" to switch to addresses"},
      {"names without names", none, Section::Ntp, R"({"mode": "names"})",
       "ntp.names: the clock holds its servers as addresses; the file must give \"names\" to switch to names"},
      {"names in address form", none, Section::Ntp, R"({"names": ["pool.ntp.org"]})",
       "ntp.names: the mode is \"addresses\"; give \"mode\": \"names\" to use it"},
      {"servers in name form", namesForm, Section::Ntp, R"({"servers": ["1.2.3.4"]})",
       "ntp.servers: the mode is \"names\"; give \"mode\": \"addresses\" to use it"},
      {"name over 30 bytes", namesForm, Section::Ntp, R"({"names": ["a", ")" + Repeated("\\u4e2d", 16) + R"("]})",
       "ntp.names[1]: \"" + Repeated(kMiddle, 16) + "\" is 32 bytes in code page 936, more than its 30-byte field",
       CodePage::Cp936},
      {"unit without sensor", noSensor, Section::Display, R"({"unit": "C", "timeSeconds": null})",
       "display.unit: this clock has no humiture sensor"},
      {"alternating without durations", timeOnly, Section::Display, R"({"timeOnly": false})",
       "display.humitureSeconds: alternating with the humiture is off on the clock; the file must give a value to "
       "switch it on"},
      {"alternating for no time", none, Section::Display, R"({"humitureSeconds": 0})",
       "display.humitureSeconds: 0 shows the time alone; give 1-15 or \"timeOnly\": true"},
      {"durations with time only", timeOnly, Section::Display, R"({"timeSeconds": 3})",
       "display.timeSeconds: the time shows alone; give \"timeOnly\": false to use it"},
      {"seconds while rolling", none, Section::Text, R"({"mode": "roll", "alternateSeconds": 3})",
       "text.alternateSeconds: the mode is \"roll\"; give \"mode\": \"alternate\" to use it"},
      {"text over the limit", none, Section::Text, R"({"text": "123456789012345678901234567890123"})",
       "text.text: \"123456789012345678901234567890123\" has 33 characters, more than the 32 allowed"},
      {"text over the field", none, Section::Text, R"({"text": ")" + Repeated("\\u4e2d", 16) + R"(!"})",
       "text.text: \"" + Repeated(kMiddle, 16) + "!\" is 33 bytes in code page 936, more than its 32-byte field",
       CodePage::Cp936},
      {"text the code page lacks", none, Section::Text, R"({"text": "a\u4e2d"})",
       "text.text: \"a\xE4\xB8\xAD\" has characters that code page 1252 cannot write"},
      {"bell without duration", none, Section::Bells, R"([{"bell": 12, "days": ["Sun"]}])",
       "bells: Please set duration for bell 12"},
      {"bell without day", none, Section::Bells, R"([{"bell": 2, "days": []}])",
       "bells: Please select a day of the week for bell 2"},
      {"system", none, Section::System, "", "system: read only; nothing of it can be written"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    ClockRecord r = BaseRecord();
    c.change(r);
    EXPECT_EQ(MessageOf(Build(r, c.section, c.fields, c.cp)), c.message);
  }
}

TEST(SettingsJsonRefusalTest, TextsThatFitAreSentWhole) {
  ClockRecord r = BaseRecord();
  const std::string sixteen = Repeated(kMiddle, 16);
  Bytes payload = PayloadOf(BuildSectionFrame(r, Section::Text, Json{{"text", sixteen}}, CodePage::Cp936));
  ASSERT_EQ(payload.size(), 36u);
  EXPECT_EQ(std::string(payload.begin() + 3, payload.begin() + 35), Repeated("\xD6\xD0", 16));
  r.longText = true;
  payload = PayloadOf(BuildSectionFrame(r, Section::Text, Json{{"text", Repeated("z", 64)}}, kCp));
  ASSERT_EQ(payload.size(), 68u);
  EXPECT_EQ(std::string(payload.begin() + 3, payload.begin() + 67), Repeated("z", 64));
  EXPECT_EQ(payload[67], 0);
  r.ntpMode = 1;
  payload = PayloadOf(BuildSectionFrame(r, Section::Ntp, Json{{"names", {Repeated(kMiddle, 15)}}}, CodePage::Cp936));
  ASSERT_EQ(payload.size(), 62u);
  EXPECT_EQ(std::string(payload.begin() + 2, payload.begin() + 32), Repeated("\xD6\xD0", 15));
}

// ---------------------------------------------------------------------------
// The schema, without any clock

struct SchemaCase {
  Section section;
  const char* fields;
  std::vector<std::string> problems;
};

TEST(CheckSectionJsonTest, EachProblemNamesItsPath) {
  const SchemaCase cases[] = {
      {Section::Basic, R"({"timeFormat": "24"})", {"basic.timeFormat: \"24\" is not a number"}},
      {Section::Basic, R"({"timeFormat": 13})", {"basic.timeFormat: 13 is not 12 or 24"}},
      {Section::Basic, R"({"timeFormat": -24})", {"basic.timeFormat: -24 is not 12 or 24"}},
      {Section::Basic, R"({"zone": "UTC +15"})", {"basic.zone: \"UTC +15\" is not a time zone"}},
      {Section::Basic, R"({"zone": "UTC 0"})", {"basic.zone: \"UTC 0\" is not a time zone"}},
      {Section::Basic, R"({"addressing": "DHCP"})", {"basic.addressing: \"DHCP\" is not one of static, dynamic"}},
      {Section::Basic,
       R"({"ipAddress": "10.1", "gateway": 5})",
       {"basic.ipAddress: \"10.1\" is not a dotted IPv4 address", "basic.gateway: 5 is not a text"}},
      {Section::Basic, R"({"dst": {"start": {"hour": 25}}})", {"basic.dst.start.hour: 25 is out of range 0-23"}},
      {Section::Basic,
       R"({"dst": {"end": {"week": "Sixth"}}})",
       {"basic.dst.end.week: \"Sixth\" is not one of First, Second, Third, Fourth, Fifth, Last"}},
      {Section::Basic,
       R"({"dst": {"enabled": "yes", "start": []}})",
       {"basic.dst.enabled: \"yes\" is not true or false", "basic.dst.start: [] is not an object"}},
      {Section::Basic,
       R"({"energySaving": {"from": 5.5, "to": -1, "display": "off"}})",
       {"basic.energySaving.from: 5.5 is not a whole number", "basic.energySaving.to: -1 is out of range 0-23",
        "basic.energySaving.display: \"off\" is not one of dim, close"}},
      {Section::Basic,
       R"({"brightness": "normal"})",
       {"basic.brightness: \"normal\" is not one of OFF, Dim, Normal, Bright, Brilliant, Auto"}},
      {Section::Basic,
       R"({"Zone": "UTC +8", "dst": {"start": {"day": "Sun"}}})",
       {"basic.Zone: unknown key", "basic.dst.start.day: unknown key"}},
      {Section::Basic, R"([])", {"basic: [] is not an object"}},
      {Section::Ntp,
       R"({"mode": "ip", "servers": []})",
       {"ntp.mode: \"ip\" is not one of addresses, names", "ntp.servers: has 0 entries; give 1 to 5"}},
      {Section::Ntp,
       R"({"servers": ["1.1.1.1", "1.1.1.1", "1.1.1.1", "1.1.1.1", "1.1.1.1", "1.1.1.1"]})",
       {"ntp.servers: has 6 entries; give 1 to 5"}},
      {Section::Ntp,
       R"({"servers": ["1.1.1.1", "300.1.1.1"], "names": "x"})",
       {"ntp.servers[1]: \"300.1.1.1\" is not a dotted IPv4 address", "ntp.names: \"x\" is not a list"}},
      {Section::Ntp, R"({"names": ["a", "b", "c"]})", {"ntp.names: has 3 entries; give 1 to 2"}},
      {Section::Ntp,
       R"({"names": [7, "1234567890123456789012345678901"]})",
       {"ntp.names[0]: 7 is not a text", "ntp.names[1]: has 31 characters, more than the 30 a name field takes"}},
      {Section::Display,
       R"({"countdownDuration": {"hours": 10}, "countdownStart": {"hours": 1}})",
       {"display.countdownStart.hours: unknown key", "display.countdownDuration.hours: 10 is out of range 0-9"}},
      {Section::Display,
       R"({"radio": {"id": 60, "on": 1}, "timeSeconds": 16, "unit": "K"})",
       {"display.unit: \"K\" is not one of C, F", "display.timeSeconds: 16 is out of range 0-15",
        "display.radio.on: 1 is not true or false", "display.radio.id: 60 is out of range 0-59"}},
      {Section::Display,
       R"({"sensor": "no", "humidity": 45})",
       {"display.sensor: \"no\" is not true or false", "display.humidity: 45 is not a text"}},
      {Section::Text,
       R"({"mode": "scroll", "alternateSeconds": 128, "limit": 40})",
       {"text.mode: \"scroll\" is not one of roll, alternate", "text.alternateSeconds: 128 is out of range 0-127",
        "text.limit: 40 is not 32 or 64"}},
      {Section::Text,
       R"({"text": "12345678901234567890123456789012345678901234567890123456789012345"})",
       {"text.text: has 65 characters, more than the 64 any clock takes"}},
      {Section::Bells, R"({"bell": 1})", {"bells: {\"bell\":1} is not a list"}},
      {Section::Bells,
       R"([{"time": "07:00:00"}, {"bell": 31}, {"bell": 0.5}])",
       {"bells[0].bell: missing; each entry names its bell", "bells[1].bell: 31 is out of range 1-30",
        "bells[2].bell: 0.5 is not a whole number"}},
      {Section::Bells,
       R"([{"bell": 3, "time": "25:00:00"}, {"bell": 4, "time": "7:00:00"}])",
       {"bells[0].time: \"25:00:00\" is not a time of day (HH:MM:SS)",
        "bells[1].time: \"7:00:00\" is not a time of day (HH:MM:SS)"}},
      {Section::Bells,
       R"([{"bell": 3, "duration": 2, "days": ["Mon", "mon", "Mon"]}, {"bell": 3, "enabled": 0}])",
       {"bells[0].days[1]: \"mon\" is not one of Sun, Mon, Tue, Wed, Thu, Fri, Sat",
        "bells[0].days[2]: \"Mon\" is given twice", "bells[0].duration: 2 is not 0 or 3-15",
        "bells[1].enabled: 0 is not true or false", "bells[1].bell: bell 3 is given twice"}},
      {Section::Bells,
       R"([{"bell": 3, "duration": 16, "ring": true}])",
       {"bells[0].ring: unknown key", "bells[0].duration: 16 is out of range 0-15"}},
      {Section::System,
       R"({"uptimeDays": -1, "newPlatform": "yes"})",
       {"system.newPlatform: \"yes\" is not true or false", "system.uptimeDays: -1 is out of range 0-65535"}},
  };
  for (const SchemaCase& c : cases) {
    EXPECT_EQ(Check(c.section, c.fields), c.problems) << c.fields;
  }
}

TEST(CheckSectionJsonTest, AcceptsSubsetsNullsAndReadOnlyKeys) {
  const std::pair<Section, const char*> cases[] = {
      {Section::Basic, R"({})"},
      {Section::Basic, R"({"zone": "UTC +8 ", "brightness": null, "dst": {"start": {"month": null, "hour": 0}}})"},
      {Section::Basic, R"({"ipAddress": "", "energySaving": {"from": null, "to": 23}})"},
      {Section::Ntp, R"({"servers": ["1.2.3.4"], "names": [""]})"},
      {Section::Display, R"({"sensor": true, "temperature": "x", "unit": null, "radio": {"id": null}})"},
      {Section::Text, R"({"limit": 64, "text": "", "alternateSeconds": null})"},
      {Section::Bells, R"([])"},
      {Section::Bells, R"([{"bell": 30}, {"bell": 1, "time": null, "duration": null, "days": []}])"},
      {Section::System, R"({"uptimeDays": 65535})"},
  };
  for (const auto& [section, fields] : cases) {
    EXPECT_EQ(Check(section, fields), std::vector<std::string>{}) << fields;
  }
  for (Section section : kAllSections) EXPECT_TRUE(CheckSectionJson(section, {}).empty());
}

TEST(CheckSectionJsonTest, BuildingRefusesWhatTheCheckRefuses) {
  EXPECT_EQ(MessageOf(Build(BaseRecord(), Section::Basic, R"({"brightness": 3, "zone": "UTC 8"})")),
            "basic.zone: \"UTC 8\" is not a time zone\nbasic.brightness: 3 is not a text");
  EXPECT_EQ(MessageOf(Build(BaseRecord(), Section::Bells, R"([{"bell": 2, "time": "12:60:00"}])")),
            "bells[0].time: \"12:60:00\" is not a time of day (HH:MM:SS)");
}

}  // namespace
}  // namespace marindo
