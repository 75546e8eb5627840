// What a modify frame would change, field by field: the frames come from the
// same codecs the command line sends, so a layout laid over the record at the
// wrong offset shows here as a change nobody asked for.

#include "settings/SectionPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "link/CommandCodes.h"

namespace marindo {
namespace {

constexpr CodePage kCp = CodePage::Cp1252;

template <std::size_t N>
void SetText(std::array<char, N>& field, std::string_view text) {
  field.fill(0);
  std::memcpy(field.data(), text.data(), std::min(N, text.size()));
}

// A clock with a sensor, DST and energy saving on, alternating text and
// three bells set.
ClockRecord Record() {
  ClockRecord r;
  r.hour24 = 1;
  r.zoneHours = 8;
  r.ipAddress = 0xC0A80114;
  r.subnetMask = 0xFFFFFF00;
  r.gateway = 0xC0A80101;
  r.dnsServer = 0x08080808;
  r.brightness = 2;
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
  r.tempUnit = kUnitCelsius;
  r.humiture = Humiture{-5, 3, true, 45, 6};
  r.displayTimes = {5, 3, 0};
  r.radio = 0x85;
  r.ntpMode = 0;
  SetText(r.ntpServers[0].address, "10.0.0.1");
  SetText(r.ntpServers[1].address, "10.0.0.2");
  SetText(r.ntpServers[2].address, "0.0.0.0");
  SetText(r.ntpServers[3].address, "0.0.0.0");
  SetText(r.ntpServers[4].address, "0.0.0.0");
  r.textRoll = 1;
  r.textAlternateSeconds = 3;
  SetText(r.text, "HELLO");
  r.textLead = 12;
  StoreBell(r.bells, 0, {0, 7, 30, 0, 0xBE, 5});
  StoreBell(r.bells, 1, {1, 12, 0, 0, 0x01, 10});
  StoreBell(r.bells, 29, {29, 23, 59, 59, 0xC0, 15});
  return r;
}

ClockFrame FrameFor(const ClockRecord& record, Section section, const Json& fields) {
  auto built = BuildSectionFrame(record, section, fields, kCp);
  if (const auto* refusal = std::get_if<std::string>(&built)) ADD_FAILURE() << *refusal;
  return std::get<ClockFrame>(built);
}

std::vector<std::string> PlanText(const ClockRecord& record, Section section, const Json& fields) {
  const ClockFrame frame = FrameFor(record, section, fields);
  std::vector<std::string> lines;
  for (const FieldChange& change : PlanSection(record, section, frame, kCp)) lines.push_back(FieldChangeText(change));
  return lines;
}

struct PlanCase {
  const char* name;
  Section section;
  const char* fields;
  std::vector<std::string> expected;
};

const std::vector<PlanCase> kCases{
    {"basic unchanged", Section::Basic, R"({})", {}},
    {"basic given its own values", Section::Basic, R"({"timeFormat": 24, "brightness": "Normal"})", {}},
    {"basic one field", Section::Basic, R"({"timeFormat": 12})", {"basic.timeFormat: 24 → 12"}},
    {"basic address", Section::Basic, R"({"gateway": "192.168.1.254"})",
     {R"(basic.gateway: "192.168.1.1" → "192.168.1.254")"}},
    {"basic DST off: its rows vanish",
     Section::Basic,
     R"({"brightness": "Bright", "dst": {"enabled": false}})",
     {"basic.dst.enabled: true → false", "basic.dst.start.hour: 2 → (none)",
      R"(basic.dst.start.week: "Last" → (none))", R"(basic.dst.start.weekday: "Sun" → (none))",
      R"(basic.dst.start.month: "Mar" → (none))", "basic.dst.end.hour: 3 → (none)",
      R"(basic.dst.end.week: "Last" → (none))", R"(basic.dst.end.weekday: "Sun" → (none))",
      R"(basic.dst.end.month: "Oct" → (none))", R"(basic.brightness: "Normal" → "Bright")"}},
    {"ntp unchanged", Section::Ntp, R"({})", {}},
    {"ntp one server", Section::Ntp, R"({"servers": ["10.0.0.1", "10.0.0.9"]})",
     {R"(ntp.servers[1]: "10.0.0.2" → "10.0.0.9")"}},
    {"ntp to names",
     Section::Ntp,
     R"({"mode": "names", "names": ["pool.example", "time.example"]})",
     {R"(ntp.mode: "addresses" → "names")", R"(ntp.servers[0]: "10.0.0.1" → (none))",
      R"(ntp.servers[1]: "10.0.0.2" → (none))", R"(ntp.servers[2]: "0.0.0.0" → (none))",
      R"(ntp.servers[3]: "0.0.0.0" → (none))", R"(ntp.servers[4]: "0.0.0.0" → (none))",
      R"(ntp.names[0]: (none) → "pool.example")", R"(ntp.names[1]: (none) → "time.example")"}},
    {"display unchanged: the sensor's readings stay", Section::Display, R"({})", {}},
    {"display radio", Section::Display, R"({"radio": {"id": 7}})", {"display.radio.id: 5 → 7"}},
    // The sensor's reading is the clock's to take anew in the new unit.
    {"display several",
     Section::Display,
     R"({"countdownStart": {"hour": 9}, "unit": "F", "timeOnly": true, "radio": {"on": false}})",
     {"display.countdownStart.hour: 8 → 9", R"(display.unit: "C" → "F")", "display.timeOnly: false → true",
      "display.timeSeconds: 5 → (none)", "display.humitureSeconds: 3 → (none)", "display.radio.on: true → false"}},
    {"text unchanged: the form and its limit stay", Section::Text, R"({})", {}},
    {"text words", Section::Text, R"({"text": "BYE"})", {R"(text.text: "HELLO" → "BYE")"}},
    {"text to roll",
     Section::Text,
     R"({"mode": "roll", "text": "HELLO AGAIN"})",
     {R"(text.mode: "alternate" → "roll")", "text.alternateSeconds: 3 → (none)",
      R"(text.text: "HELLO" → "HELLO AGAIN")"}},
    {"bells unchanged", Section::Bells, R"([])", {}},
    {"bells one time", Section::Bells, R"([{"bell": 2, "time": "12:30:00"}])",
     {R"(bells[1].time: "12:00:00" → "12:30:00")"}},
    {"bells days are one field",
     Section::Bells,
     R"([{"bell": 1, "days": ["Sat"], "duration": 8}, {"bell": 30, "enabled": false}])",
     {R"(bells[0].days: ["Mon","Tue","Wed","Thu","Fri"] → ["Sat"])", "bells[0].duration: 5 → 8",
      "bells[29].enabled: true → false"}},
};

TEST(SectionPlanTest, ListsExactlyTheFieldsTheFrameChanges) {
  const ClockRecord record = Record();
  for (const PlanCase& c : kCases) {
    EXPECT_EQ(PlanText(record, c.section, Json::parse(c.fields)), c.expected) << c.name;
  }
}

// What the plan says the clock will hold must be what it writes back: the
// frame rebuilt from the changed record, with nothing laid over it, is the
// frame that was planned.
TEST(SectionPlanTest, ChangedRecordRebuildsThePlannedFrame) {
  const ClockRecord record = Record();
  for (const PlanCase& c : kCases) {
    const ClockFrame planned = FrameFor(record, c.section, Json::parse(c.fields));
    const std::optional<ClockRecord> after = RecordAfterModify(record, planned);
    ASSERT_TRUE(after) << c.name;
    const Json none = c.section == Section::Bells ? Json::array() : Json::object();
    const ClockFrame again = FrameFor(*after, c.section, none);
    EXPECT_TRUE(std::ranges::equal(planned.Bytes(), again.Bytes())) << c.name;
  }
}

TEST(SectionPlanTest, OnlyASectionsOwnModifyIsLaid) {
  const ClockRecord record = Record();
  const ClockFrame query = ClockFrame::Query(code::kQueryBasic);
  EXPECT_FALSE(RecordAfterModify(record, query));
  const ClockFrame text = FrameFor(record, Section::Text, Json::parse(R"({"text": "BYE"})"));
  EXPECT_TRUE(PlanSection(record, Section::Basic, text, kCp).empty());
}

TEST(SectionPlanTest, TextsAndHex) {
  EXPECT_EQ(FieldChangeText({"basic.zone", Json(nullptr), Json("UTC +1:00")}), R"(basic.zone: null → "UTC +1:00")");
  const ClockFrame query = ClockFrame::Query(code::kQueryBasic);
  EXPECT_EQ(FrameHex(query).size(), 14U);
  EXPECT_TRUE(FrameHex(query).starts_with("514b800102"));
}

}  // namespace
}  // namespace marindo
