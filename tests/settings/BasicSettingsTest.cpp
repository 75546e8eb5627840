// The basic settings codec without any window: zone texts, the on/off rules,
// the list names and the payload of modify 0x06.

#include "settings/BasicSettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace marindo {
namespace {

TEST(ZoneByteTest, EachEntryGivesItsByte) {
  const struct {
    const char* entry;
    std::uint8_t expected;
  } cases[] = {
      {"UTC +5:45", 0x2C}, {"UTC -9:30", 0xCA}, {"UTC -12", 0xE0},    {"UTC  0", 0x00},
      {"UTC +8 ", 0x40},   {"UTC -9 ", 0xC8},   {"UTC -1 ", 0x88},    {"UTC +14", 0x70},
      {"UTC +12:45", 0x64}, {"UTC +10:30", 0x52},
      {"", 0x00},  // nothing selected
      // Text that is no entry: hours 0, sign and minutes as read.
      {"UTC -x", 0x80}, {"UTC +3:15", 0x18}, {"GMT +3", 0x00},
  };
  for (const auto& c : cases) EXPECT_EQ(ZoneByte(c.entry), c.expected) << '"' << c.entry << '"';
}

TEST(ZoneTextTest, RecordGivesTheEntryTextWithoutPadding) {
  const struct {
    std::uint8_t negative, hours, minuteCode;
    const char* expected;
  } cases[] = {
      {0, 0, 0, "UTC  0"},  {1, 0, 0, "UTC  0"},  {1, 9, 0, "UTC -9"},    {1, 9, 1, "UTC -9:30"},
      {1, 1, 0, "UTC -1"},  {1, 12, 0, "UTC -12"}, {0, 5, 2, "UTC +5:45"}, {0, 14, 0, "UTC +14"},
      {1, 0, 1, "UTC -0:30"},
      {0, 8, 3, ""},  // a minutes code the protocol does not define
  };
  for (const auto& c : cases) {
    ClockRecord record;
    record.zoneNegative = c.negative;
    record.zoneHours = c.hours;
    record.zoneMinuteCode = c.minuteCode;
    EXPECT_EQ(ZoneText(record), c.expected) << int{c.negative} << ' ' << int{c.hours} << ' ' << int{c.minuteCode};
  }
}

TEST(TrimTrailingBlanksTest, KeepsInnerBlanks) {
  EXPECT_EQ(TrimTrailingBlanks("UTC -9 "), "UTC -9");
  EXPECT_EQ(TrimTrailingBlanks("UTC  0"), "UTC  0");
  EXPECT_EQ(TrimTrailingBlanks("   "), "");
  EXPECT_EQ(TrimTrailingBlanks(""), "");
}

struct DstCase {
  std::uint8_t startMonth, startWeek, endMonth, endWeek;
  bool on;
};

TEST(DstRuleTest, OffOnlyForEqualMonthsWithNoneOrEqualOrdinals) {
  const DstCase cases[] = {
      {0, 0, 0, 0, false},   // never set
      {0, 1, 0, 2, false},   // no month: ordinals do not matter
      {3, 6, 3, 6, false},   // same month, same ordinal
      {3, 1, 3, 2, true},    // same month, different ordinals
      {3, 6, 10, 6, true},   // the usual European rule
      {0, 0, 10, 0, true},   // months differ
      {12, 5, 12, 5, false},
  };
  for (const DstCase& c : cases) {
    ClockRecord record;
    record.dstStartMonth = c.startMonth;
    record.dstStartWeek = c.startWeek;
    record.dstEndMonth = c.endMonth;
    record.dstEndWeek = c.endWeek;
    EXPECT_EQ(DstIsOn(record), c.on) << int{c.startMonth} << '/' << int{c.startWeek} << " to " << int{c.endMonth}
                                     << '/' << int{c.endWeek};
  }
}

TEST(EnergySavingRuleTest, OffWhenStartEqualsEnd) {
  const struct {
    std::uint8_t from, to;
    bool on;
  } cases[] = {{22, 22, false}, {0, 0, false}, {22, 6, true}, {0, 23, true}};
  for (const auto& c : cases) {
    ClockRecord record;
    record.energyFrom = c.from;
    record.energyTo = c.to;
    EXPECT_EQ(EnergySavingIsOn(record), c.on) << int{c.from} << " to " << int{c.to};
  }
}

TEST(ListNamesTest, NamesHaveTheirNumbersAndOtherTextsNone) {
  EXPECT_EQ(MonthNumber("Jan"), 1);
  EXPECT_EQ(MonthNumber("Dec"), 12);
  EXPECT_EQ(WeekdayNumber("Mon"), 1);
  EXPECT_EQ(WeekdayNumber("Sun"), 7);
  EXPECT_EQ(OrdinalNumber("First"), 1);
  EXPECT_EQ(OrdinalNumber("Fifth"), 5);
  EXPECT_EQ(OrdinalNumber("Last"), 6);
  EXPECT_EQ(BrightnessNumber("OFF"), 0);
  EXPECT_EQ(BrightnessNumber("Brilliant"), 4);
  for (const char* other : {"", "jan", "JAN", "Jan ", "Sixth"}) {
    EXPECT_EQ(MonthNumber(other), std::nullopt) << other;
    EXPECT_EQ(WeekdayNumber(other), std::nullopt) << other;
    EXPECT_EQ(OrdinalNumber(other), std::nullopt) << other;
  }
  // The clock's own choice is not the operator's.
  EXPECT_EQ(BrightnessNumber("Auto"), std::nullopt);
  EXPECT_EQ(BrightnessNumber("off"), std::nullopt);
}

TEST(IdentityTextTest, FirmwareVersionHasTwoMinorDigits) {
  EXPECT_EQ(FormatFirmwareVersion(1, 5), "1.05");
  EXPECT_EQ(FormatFirmwareVersion(2, 10), "2.10");
  EXPECT_EQ(FormatFirmwareVersion(0, 0), "0.00");
  EXPECT_EQ(FormatFirmwareVersion(255, 255), "255.255");
}

// Sets TZ for one test and restores the process's zone afterwards.
class LocalZone {
 public:
  explicit LocalZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~LocalZone() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  LocalZone(const LocalZone&) = delete;
  LocalZone& operator=(const LocalZone&) = delete;

 private:
  std::optional<std::string> old_;
};

TEST(IdentityTextTest, SyncTimeIsShownInLocalTime) {
  {
    LocalZone utc("UTC0");
    EXPECT_EQ(FormatSyncTime(1700000000), "2023-11-14 22:13:20");
    EXPECT_EQ(FormatSyncTime(0), "1970-01-01 00:00:00");
    // Unsigned on the wire: the last second the clock can report is in 2106.
    EXPECT_EQ(FormatSyncTime(0xFFFFFFFFu), "2106-02-07 06:28:15");
  }
  LocalZone beijing("CST-8");
  EXPECT_EQ(FormatSyncTime(1700000000), "2023-11-15 06:13:20");
}

BasicForm StaticForm(std::uint32_t ip) {
  BasicForm form;
  form.staticIp = true;
  form.ipAddress = ip;
  return form;
}

const BasicPayload& PayloadOf(const std::variant<BasicPayload, BasicRefusal>& encoded) {
  static const BasicPayload kNone{};
  const auto* payload = std::get_if<BasicPayload>(&encoded);
  EXPECT_NE(payload, nullptr) << "refused";
  return payload != nullptr ? *payload : kNone;
}

TEST(EncodeBasicFormTest, AddressingIsRefusedWithoutModeOrWithoutUsableAddress) {
  EXPECT_EQ(RefusalMessage(BasicRefusal::NoAddressingMode), "Please choose static mode or dynamic mode");
  EXPECT_EQ(RefusalMessage(BasicRefusal::InvalidIpAddress), "Please input a valid IP address");

  BasicForm noMode;
  noMode.ipAddress = 0x0A000005;
  EXPECT_EQ(std::get<BasicRefusal>(EncodeBasicForm(noMode)), BasicRefusal::NoAddressingMode);
  for (std::uint32_t bad : {0u, 0xFFFFFFFFu}) {
    const auto encoded = EncodeBasicForm(StaticForm(bad));
    ASSERT_TRUE(std::holds_alternative<BasicRefusal>(encoded)) << bad;
    EXPECT_EQ(std::get<BasicRefusal>(encoded), BasicRefusal::InvalidIpAddress);
  }
}

TEST(EncodeBasicFormTest, StaticSendsTheAddressDynamicSendsZeroAndBothTheRest) {
  BasicForm form = StaticForm(0xC0A80114);
  form.subnetMask = 0xFFFFFF00;
  form.gateway = 0xC0A80101;
  form.dnsServer = 0x08080808;
  const BasicPayload staticPayload = PayloadOf(EncodeBasicForm(form));
  const BasicPayload expectedStatic{0x06, 0x00, 0x00, 0xC0, 0xA8, 0x01, 0x14, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01,
                                    0x01, 0x08, 0x08, 0x08, 0x08, 0,    0,    0,    0,    0,    0,    0,    0};
  EXPECT_EQ(staticPayload, expectedStatic);

  form.staticIp = false;
  form.dynamicIp = true;
  BasicPayload expectedDynamic = expectedStatic;
  expectedDynamic[2] = 0x40;
  expectedDynamic[3] = expectedDynamic[4] = expectedDynamic[5] = expectedDynamic[6] = 0;
  EXPECT_EQ(PayloadOf(EncodeBasicForm(form)), expectedDynamic);
}

TEST(EncodeBasicFormTest, EnergySavingHoursAndDisplayChoice) {
  const struct {
    const char* from;
    const char* to;
    bool close;
    std::uint8_t p25, p26;
  } cases[] = {
      {"", "", false, 0, 0},          // switched off: lists emptied
      {"", "", true, 0, 0x04},        // checked without hours
      {"22", "6", true, 22, 0x34},    // 6 << 3 | close
      {"0", "23", false, 0, 0xB8},    // 23 << 3
      {"23", "33", false, 23, 0x08},  // masked to the five bits of the field
  };
  for (const auto& c : cases) {
    BasicForm form = StaticForm(0x0A000001);
    form.energyFrom = c.from;
    form.energyTo = c.to;
    form.displayClose = c.close;
    const BasicPayload p = PayloadOf(EncodeBasicForm(form));
    EXPECT_EQ(p[25], c.p25) << c.from << " to " << c.to;
    EXPECT_EQ(p[26], c.p26) << c.from << " to " << c.to;
  }
}

TEST(EncodeBasicFormTest, BrightnessFromTheOperatorsFiveNames) {
  const struct {
    const char* name;
    std::uint8_t p2;
  } cases[] = {{"OFF", 0x00}, {"Dim", 0x08}, {"Normal", 0x10}, {"Bright", 0x18},
               {"Brilliant", 0x20}, {"", 0x00}, {"Auto", 0x00}};
  for (const auto& c : cases) {
    BasicForm form = StaticForm(0x0A000001);
    form.brightness = c.name;
    form.hour24 = true;
    EXPECT_EQ(PayloadOf(EncodeBasicForm(form))[2], 0x80 | c.p2) << c.name;
  }
}

TEST(EncodeBasicFormTest, DstFieldsOnlyWhenEnabledAndOnlyFromChosenLists) {
  BasicForm form = StaticForm(0x0A000001);
  form.dstStart = {"2", "Last", "Sun", "Mar"};
  form.dstEnd = {"3", "Last", "Sun", "Oct"};
  BasicPayload p = PayloadOf(EncodeBasicForm(form));
  EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 19, p.begin() + 25), std::vector<std::uint8_t>(6, 0))
      << "rule not enabled";

  form.dstEnabled = true;
  p = PayloadOf(EncodeBasicForm(form));
  EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 19, p.begin() + 25),
            (std::vector<std::uint8_t>{3, 0x67, 2, 10, 0x67, 3}));

  // Partly chosen: lists without a selection, or with a text that is no name,
  // leave their field 0.
  form.dstStart = {"", "", "Sun", "Mar"};
  form.dstEnd = {"0", "Second", "", "Smarch"};
  p = PayloadOf(EncodeBasicForm(form));
  EXPECT_EQ(std::vector<std::uint8_t>(p.begin() + 19, p.begin() + 25),
            (std::vector<std::uint8_t>{3, 0x07, 0, 0, 0x20, 0}));
}

}  // namespace
}  // namespace marindo
