// The "Basic  Info" page on the offscreen platform: its controls, what it shows
// of a clock's record, the operator's choices, and the frame Modify sends.

#include "pages/Basic.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <string>
#include <vector>

#include "link/ReplyDecoders.h"
#include "widgets/Ipv4Edit.h"

namespace marindo {
namespace {

class RecordingNotifier : public Notifier {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

class NoSelection : public ClockSelection {
 public:
  std::optional<std::uint32_t> SelectedClockIp() const override { return std::nullopt; }
  ClockRecord* SelectedRecord() override { return nullptr; }
};

// The zone list as the clocks' operators know it, with the value each entry
// stands for.
struct ZoneEntry {
  const char* text;
  std::uint8_t negative;
  std::uint8_t hours;
  std::uint8_t minuteCode;
};
constexpr ZoneEntry kZones[] = {
    {"UTC -12", 1, 12, 0},   {"UTC -11", 1, 11, 0},   {"UTC -10", 1, 10, 0},   {"UTC -9:30", 1, 9, 1},
    {"UTC -9 ", 1, 9, 0},    {"UTC -8 ", 1, 8, 0},    {"UTC -7 ", 1, 7, 0},    {"UTC -6 ", 1, 6, 0},
    {"UTC -5 ", 1, 5, 0},    {"UTC -4 ", 1, 4, 0},    {"UTC -3:30", 1, 3, 1},  {"UTC -3 ", 1, 3, 0},
    {"UTC -2 ", 1, 2, 0},    {"UTC -1 ", 1, 1, 0},    {"UTC  0", 0, 0, 0},     {"UTC +1 ", 0, 1, 0},
    {"UTC +2 ", 0, 2, 0},    {"UTC +3 ", 0, 3, 0},    {"UTC +3:30", 0, 3, 1},  {"UTC +4 ", 0, 4, 0},
    {"UTC +4:30", 0, 4, 1},  {"UTC +5 ", 0, 5, 0},    {"UTC +5:30", 0, 5, 1},  {"UTC +5:45", 0, 5, 2},
    {"UTC +6 ", 0, 6, 0},    {"UTC +6:30", 0, 6, 1},  {"UTC +7 ", 0, 7, 0},    {"UTC +8 ", 0, 8, 0},
    {"UTC +9 ", 0, 9, 0},    {"UTC +9:30", 0, 9, 1},  {"UTC +10", 0, 10, 0},   {"UTC +10:30", 0, 10, 1},
    {"UTC +11", 0, 11, 0},   {"UTC +11:30", 0, 11, 1}, {"UTC +12", 0, 12, 0},  {"UTC +12:45", 0, 12, 2},
    {"UTC +13", 0, 13, 0},   {"UTC +14", 0, 14, 0},
};

std::uint8_t ZoneByteOf(const ZoneEntry& zone) {
  return static_cast<std::uint8_t>((zone.negative << 7) | (zone.hours << 3) | (zone.minuteCode << 1));
}

// A clock at 10.213.0.10 in UTC -9:30, 12-hour display, static, brightness
// Bright, European DST, energy saving 22 to 6 with the display closed.
constexpr BasicPayload kReportedSettings{0x02, 0xCA, 0x18, 10, 213, 0,  10, 255, 255, 0,    0, 10, 213, 0,
                                         1,    10,   213,  0, 2,   3,  0x67, 2,  10,  0x67, 3, 22, 0x34};

// The record the link keeps after the clock answered query 0x02 with `reply`.
ClockRecord RecordFromReply(BasicPayload reply) {
  reply[0] = 0x02;
  ClockRecord record;
  EXPECT_TRUE(StoreReply(reply, static_cast<std::uint8_t>(reply.size()), record));
  return record;
}

QStringList Items(const QComboBox* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
  return items;
}

QStringList Hours() {
  QStringList hours;
  for (int h = 0; h < 24; ++h) hours << QString::number(h);
  return hours;
}

const QStringList kOrdinals{"First", "Second", "Third", "Fourth", "Fifth", "Last"};
const QStringList kWeekdays{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const QStringList kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr const char* kDstLists[] = {"dstStartHour", "dstStartWeek", "dstStartWeekday",
                                     "dstStartMonth", "dstEndHour",   "dstEndWeek",
                                     "dstEndWeekday", "dstEndMonth"};
constexpr const char* kAddressFields[] = {"ipAddress", "subnetMask", "gateway", "dnsServer"};

class BasicPageTest : public ::testing::Test {
 protected:
  BasicPageTest() : page_(selection_, notifier_, nullptr, CodePage::Cp936) {}

  template <class Widget>
  Widget* Get(const char* name) {
    auto* widget = page_.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QComboBox* List(const char* name) { return Get<QComboBox>(name); }
  QRadioButton* Radio(const char* name) { return Get<QRadioButton>(name); }
  QCheckBox* Check(const char* name) { return Get<QCheckBox>(name); }
  Ipv4Edit* Address(const char* name) { return Get<Ipv4Edit>(name); }
  QLabel* Text(const char* name) { return Get<QLabel>(name); }

  // What the operator does by picking an entry.
  void Choose(const char* list, const char* text) {
    QComboBox* box = List(list);
    const int index = box->findText(text);
    ASSERT_GE(index, 0) << list << ": " << text;
    box->setCurrentIndex(index);
  }

  std::optional<BasicPayload> BuildPayload() {
    const std::optional<ClockFrame> frame = page_.BuildBasicFrame();
    if (!frame) return std::nullopt;
    EXPECT_EQ(frame->Bytes().size(), 33u);
    BasicPayload payload{};
    const auto bytes = frame->Payload();
    std::copy(bytes.begin(), bytes.end(), payload.begin());
    return payload;
  }

  void ExpectCleared() {
    for (const char* text : {"firmwareVersion", "serial", "lastSyncTime"}) {
      EXPECT_TRUE(Text(text)->text().isEmpty()) << text;
    }
    EXPECT_TRUE(Address("syncServer")->IsBlank());
    for (const char* radio : {"hour12", "hour24", "dynamicIp", "staticIp", "displayDim",
                              "displayClose"}) {
      EXPECT_FALSE(Radio(radio)->isChecked()) << radio;
    }
    EXPECT_FALSE(Check("dstEnable")->isChecked());
    EXPECT_FALSE(Check("energySaving")->isChecked());
    EXPECT_TRUE(Check("energySaving")->isEnabled());
    EXPECT_EQ(List("zone")->currentIndex(), -1);
    EXPECT_EQ(List("brightness")->currentIndex(), -1);
    for (const char* field : kAddressFields) {
      EXPECT_TRUE(Address(field)->IsBlank()) << field;
      EXPECT_FALSE(Address(field)->isEnabled()) << field;
    }
    for (const char* list : {"energyFrom", "energyTo"}) {
      EXPECT_EQ(List(list)->currentIndex(), -1) << list;
      EXPECT_FALSE(List(list)->isEnabled()) << list;
    }
    EXPECT_FALSE(Radio("displayDim")->isEnabled());
    EXPECT_FALSE(Radio("displayClose")->isEnabled());
    ExpectDstLists(false);
  }

  void ExpectDstLists(bool enabled) {
    for (const char* list : kDstLists) {
      EXPECT_EQ(List(list)->isEnabled(), enabled) << list;
      if (!enabled) {
        EXPECT_EQ(List(list)->currentIndex(), -1) << list;
        EXPECT_TRUE(List(list)->currentText().isEmpty()) << list;
      }
    }
  }

  RecordingNotifier notifier_;
  NoSelection selection_;
  Basic page_;
};

TEST_F(BasicPageTest, ControlsCarryTheirTextsAndLists) {
  const std::pair<const char*, const char*> buttons[] = {
      {"hour12", "12"},           {"hour24", "24"},
      {"dynamicIp", "Dynamic IP"}, {"staticIp", "Static IP"},
      {"displayDim", "Display Dim"}, {"displayClose", "Display Close"},
  };
  for (const auto& [name, text] : buttons) {
    EXPECT_EQ(Radio(name)->text(), text) << name;
    // Both of a pair may be unchecked, which an auto-exclusive pair cannot show.
    EXPECT_FALSE(Radio(name)->autoExclusive()) << name;
  }
  EXPECT_EQ(Check("dstEnable")->text(), "Daylight Saving Time Enable");
  EXPECT_EQ(Check("energySaving")->text(), "Energy Saving Enable");

  QStringList groups;
  for (const QGroupBox* group : page_.findChildren<QGroupBox*>()) groups << group->title();
  groups.sort();
  EXPECT_EQ(groups, (QStringList{"Brightness  Setting", "Clock IP Setting", "Daylight Saving Time Setting",
                                 "Energy Saving Setting", "Time Setting", "Time Synchronization Information"}));
  QStringList labels;
  for (const QLabel* label : page_.findChildren<QLabel*>()) labels << label->text();
  for (const char* label : {"Firmware Version:", "SN:", "Last Sync Time:", "Sync Server:", "Time Format：",
                            "Time Zone：", "IP Address：", "Subnet Mask:", "Default Gateway:", "DNS Server:",
                            "Starts at:", "Ends at:", "O'clock        on the", "In", "Everyday From", "To",
                            "O'clock"}) {
    EXPECT_TRUE(labels.contains(QString::fromUtf8(label))) << label;
  }

  QStringList zones;
  for (const ZoneEntry& zone : kZones) zones << zone.text;
  EXPECT_EQ(zones.size(), 38);
  EXPECT_EQ(Items(List("zone")), zones);
  for (const char* hours : {"dstStartHour", "dstEndHour", "energyFrom", "energyTo"}) {
    EXPECT_EQ(Items(List(hours)), Hours()) << hours;
  }
  for (const char* ordinal : {"dstStartWeek", "dstEndWeek"}) EXPECT_EQ(Items(List(ordinal)), kOrdinals);
  for (const char* weekday : {"dstStartWeekday", "dstEndWeekday"}) {
    EXPECT_EQ(Items(List(weekday)), kWeekdays);
  }
  for (const char* month : {"dstStartMonth", "dstEndMonth"}) EXPECT_EQ(Items(List(month)), kMonths);
  EXPECT_EQ(Items(List("brightness")), (QStringList{"Brilliant", "Bright", "Normal", "Dim", "OFF"}));
  for (const QComboBox* list : page_.findChildren<QComboBox*>()) {
    EXPECT_FALSE(list->isEditable()) << list->objectName().toStdString();
  }
}

TEST_F(BasicPageTest, InitialStateBeforeTheFirstClear) {
  for (const QComboBox* list : page_.findChildren<QComboBox*>()) {
    EXPECT_EQ(list->currentIndex(), -1) << list->objectName().toStdString();
  }
  for (const QRadioButton* radio : page_.findChildren<QRadioButton*>()) {
    EXPECT_FALSE(radio->isChecked()) << radio->objectName().toStdString();
  }
  EXPECT_TRUE(Address("syncServer")->isEnabled());
  for (const char* field : kAddressFields) EXPECT_TRUE(Address(field)->isEnabled()) << field;
  for (const char* enabled : {"zone", "energyFrom", "energyTo", "brightness"}) {
    EXPECT_TRUE(List(enabled)->isEnabled()) << enabled;
  }
  EXPECT_FALSE(Check("dstEnable")->isChecked());
  EXPECT_FALSE(Check("energySaving")->isChecked());
  EXPECT_TRUE(Check("energySaving")->isEnabled());
  ExpectDstLists(false);
}

TEST_F(BasicPageTest, WorkedExampleFromTheControls) {
  page_.ClearBasic();
  Radio("hour24")->click();
  Choose("zone", "UTC +8 ");
  Radio("staticIp")->click();
  Address("subnetMask")->SetAddress(0xFFFFFF00);
  Address("gateway")->SetAddress(0xC0A80101);
  Address("dnsServer")->SetAddress(0xC0A80101);
  Radio("dynamicIp")->click();
  Choose("brightness", "Normal");

  const std::optional<ClockFrame> frame = page_.BuildBasicFrame();
  ASSERT_TRUE(frame);
  const auto bytes = frame->Bytes();
  const std::vector<std::uint8_t> expected{0x51, 0x4B, 0x80, 0x1B, 0x06, 0x40, 0xD0, 0x00, 0x00, 0x00, 0x00,
                                           0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0xA8, 0x01, 0x01, 0xC0, 0xA8, 0x01,
                                           0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x4D, 0x00};
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
  EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(BasicPageTest, ShowsEverySettingAndSendsItBackUnchanged) {
  const ClockRecord record = RecordFromReply(kReportedSettings);
  page_.ClearBasic();
  page_.ShowBasicSettings(&record);

  EXPECT_TRUE(Radio("hour12")->isChecked());
  EXPECT_FALSE(Radio("hour24")->isChecked());
  EXPECT_EQ(List("zone")->currentText(), "UTC -9:30");
  EXPECT_TRUE(Radio("staticIp")->isChecked());
  EXPECT_FALSE(Radio("dynamicIp")->isChecked());
  const std::uint32_t addresses[] = {0x0AD5000A, 0xFFFF0000, 0x0AD50001, 0x0AD50002};
  for (std::size_t i = 0; i < std::size(kAddressFields); ++i) {
    EXPECT_TRUE(Address(kAddressFields[i])->isEnabled()) << kAddressFields[i];
    EXPECT_EQ(Address(kAddressFields[i])->Address(), addresses[i]) << kAddressFields[i];
  }
  EXPECT_TRUE(Check("dstEnable")->isChecked());
  ExpectDstLists(true);
  const char* dstShown[] = {"2", "Last", "Sun", "Mar", "3", "Last", "Sun", "Oct"};
  for (std::size_t i = 0; i < std::size(kDstLists); ++i) {
    EXPECT_EQ(List(kDstLists[i])->currentText(), dstShown[i]) << kDstLists[i];
  }
  EXPECT_TRUE(Check("energySaving")->isChecked());
  EXPECT_EQ(List("energyFrom")->currentText(), "22");
  EXPECT_EQ(List("energyTo")->currentText(), "6");
  EXPECT_TRUE(Radio("displayClose")->isChecked());
  EXPECT_FALSE(Radio("displayDim")->isChecked());
  EXPECT_EQ(List("brightness")->currentText(), "Bright");

  BasicPayload expected = kReportedSettings;
  expected[0] = 0x06;
  EXPECT_EQ(BuildPayload(), expected);
}

TEST_F(BasicPageTest, DynamicModeSendsNoAddressButTheDisabledFieldsContents) {
  BasicPayload reply = kReportedSettings;
  reply[2] |= 0x40;
  const ClockRecord record = RecordFromReply(reply);
  page_.ClearBasic();
  page_.ShowBasicSettings(&record);
  EXPECT_TRUE(Radio("dynamicIp")->isChecked());
  for (const char* field : kAddressFields) EXPECT_FALSE(Address(field)->isEnabled()) << field;

  const std::optional<BasicPayload> sent = BuildPayload();
  ASSERT_TRUE(sent);
  EXPECT_EQ((*sent)[2], 0x58);
  EXPECT_EQ(std::vector<std::uint8_t>(sent->begin() + 3, sent->begin() + 19),
            (std::vector<std::uint8_t>{0, 0, 0, 0, 255, 255, 0, 0, 10, 213, 0, 1, 10, 213, 0, 2}));
}

TEST_F(BasicPageTest, EveryZoneEntryRoundTripsThroughTheClock) {
  for (int i = 0; i < static_cast<int>(std::size(kZones)); ++i) {
    const ZoneEntry& zone = kZones[i];
    page_.ClearBasic();
    List("zone")->setCurrentIndex(i);
    Radio("dynamicIp")->click();
    const std::optional<BasicPayload> sent = BuildPayload();
    ASSERT_TRUE(sent) << zone.text;
    EXPECT_EQ((*sent)[1], ZoneByteOf(zone)) << zone.text;

    // A clock that reports the byte it was sent shows the same entry again.
    const ClockRecord record = RecordFromReply(*sent);
    page_.ClearBasic();
    page_.ShowBasicSettings(&record);
    EXPECT_EQ(List("zone")->currentIndex(), i) << zone.text << " shown as "
                                                     << List("zone")->currentText().toStdString();
  }
}

TEST_F(BasicPageTest, ZoneShownForReportedValues) {
  const struct {
    std::uint8_t p1;
    const char* shown;
    std::uint8_t sentBack;
  } cases[] = {
      {0xC8, "UTC -9 ", 0xC8},  // not "UTC -9:30"
      {0x88, "UTC -1 ", 0x88},  // not "UTC -12"
      {0x80, "UTC  0", 0x00},   // zero with the sign set
      {0x06, "", 0x00},         // a minutes code the list has no entry for
      {0x78, "", 0x00},         // fifteen hours
  };
  for (const auto& c : cases) {
    BasicPayload reply = kReportedSettings;
    reply[1] = c.p1;
    const ClockRecord record = RecordFromReply(reply);
    page_.ClearBasic();
    page_.ShowBasicSettings(&record);
    EXPECT_EQ(List("zone")->currentText(), c.shown) << std::hex << int{c.p1};
    const std::optional<BasicPayload> sent = BuildPayload();
    ASSERT_TRUE(sent);
    EXPECT_EQ((*sent)[1], c.sentBack) << std::hex << int{c.p1};
  }
}

TEST_F(BasicPageTest, DstShownOnOrOffByTheClocksRule) {
  const struct {
    std::array<std::uint8_t, 6> reported;  // p[19..24]
    bool on;
    std::array<const char*, 8> shown;  // in the order of kDstLists
  } cases[] = {
      {{3, 0x67, 2, 3, 0x67, 3}, false, {"", "", "", "", "", "", "", ""}},
      {{0, 0x17, 2, 0, 0x27, 3}, false, {"", "", "", "", "", "", "", ""}},
      {{3, 0x17, 2, 3, 0x27, 3}, true, {"2", "First", "Sun", "Mar", "3", "Second", "Sun", "Mar"}},
      // Values without a list entry leave that list unselected.
      {{13, 0x70, 24, 1, 0x08, 5}, true, {"", "", "", "", "5", "", "", "Jan"}},
  };
  for (const auto& c : cases) {
    BasicPayload reply = kReportedSettings;
    std::copy(c.reported.begin(), c.reported.end(), reply.begin() + 19);
    const ClockRecord record = RecordFromReply(reply);
    page_.ClearBasic();
    page_.ShowBasicSettings(&record);
    EXPECT_EQ(Check("dstEnable")->isChecked(), c.on) << int{c.reported[0]} << " to " << int{c.reported[3]};
    ExpectDstLists(c.on);
    for (std::size_t i = 0; i < std::size(kDstLists); ++i) {
      EXPECT_EQ(List(kDstLists[i])->currentText(), c.shown[i]) << kDstLists[i];
    }
    const std::optional<BasicPayload> sent = BuildPayload();
    ASSERT_TRUE(sent);
    if (!c.on) {
      EXPECT_EQ(std::vector<std::uint8_t>(sent->begin() + 19, sent->begin() + 25), std::vector<std::uint8_t>(6, 0));
    }
  }
}

TEST_F(BasicPageTest, EnergySavingShownOnOrOffByTheClocksRule) {
  const struct {
    std::uint8_t from, to;
    bool close;
    bool on;
    const char* fromShown;
    const char* toShown;
    std::uint8_t p25, p26;  // sent back unchanged
  } cases[] = {
      {22, 22, false, false, "", "", 0, 0},  // off: sent as 0 to 0
      {22, 6, true, true, "22", "6", 22, 0x34},
      {1, 2, false, true, "1", "2", 1, 0x10},
      {5, 30, false, true, "5", "", 5, 0x00},  // an hour the list lacks
  };
  for (const auto& c : cases) {
    BasicPayload reply = kReportedSettings;
    reply[25] = c.from;
    reply[26] = static_cast<std::uint8_t>((c.to << 3) | (c.close ? 4 : 0));
    const ClockRecord record = RecordFromReply(reply);
    page_.ClearBasic();
    page_.ShowBasicSettings(&record);
    EXPECT_EQ(Check("energySaving")->isChecked(), c.on) << int{c.from} << " to " << int{c.to};
    for (const char* control : {"energyFrom", "energyTo"}) {
      EXPECT_EQ(List(control)->isEnabled(), c.on) << control;
    }
    EXPECT_EQ(Radio("displayDim")->isEnabled(), c.on);
    EXPECT_EQ(Radio("displayClose")->isEnabled(), c.on);
    EXPECT_EQ(Radio("displayClose")->isChecked(), c.on && c.close);
    EXPECT_EQ(Radio("displayDim")->isChecked(), c.on && !c.close);
    EXPECT_EQ(List("energyFrom")->currentText(), c.fromShown);
    EXPECT_EQ(List("energyTo")->currentText(), c.toShown);
    const std::optional<BasicPayload> sent = BuildPayload();
    ASSERT_TRUE(sent);
    EXPECT_EQ((*sent)[25], c.p25) << int{c.from} << " to " << int{c.to};
    EXPECT_EQ((*sent)[26], c.p26) << int{c.from} << " to " << int{c.to};
  }
}

// A page that showed a clock with an energy-saving period and then shows one
// without must not send the first clock's hours.
TEST_F(BasicPageTest, OffPeriodShownWithoutAClearSendsNoStaleHours) {
  const ClockRecord on = RecordFromReply(kReportedSettings);
  BasicPayload offReply = kReportedSettings;
  offReply[25] = 7;
  offReply[26] = 7 << 3;
  const ClockRecord off = RecordFromReply(offReply);
  page_.ClearBasic();
  page_.ShowBasicSettings(&on);
  page_.ShowBasicSettings(&off);
  const std::optional<BasicPayload> sent = BuildPayload();
  ASSERT_TRUE(sent);
  EXPECT_EQ((*sent)[25], 0);
  EXPECT_EQ((*sent)[26], 0);
}

TEST_F(BasicPageTest, BrightnessShownByNameAndAutoAsNoSelection) {
  const struct {
    std::uint8_t value;
    const char* shown;
  } cases[] = {{0, "OFF"}, {1, "Dim"}, {2, "Normal"}, {3, "Bright"}, {4, "Brilliant"}, {5, ""}, {7, ""}};
  for (const auto& c : cases) {
    BasicPayload reply = kReportedSettings;
    reply[2] = static_cast<std::uint8_t>(c.value << 3);
    const ClockRecord record = RecordFromReply(reply);
    page_.ClearBasic();
    page_.ShowBasicSettings(&record);
    EXPECT_EQ(List("brightness")->currentText(), c.shown) << int{c.value};
    const std::optional<BasicPayload> sent = BuildPayload();
    ASSERT_TRUE(sent);
    // "Auto" cannot be chosen here and goes back as OFF.
    EXPECT_EQ((*sent)[2], c.value < 5 ? reply[2] : 0) << int{c.value};
  }
}

TEST_F(BasicPageTest, IdentityShownAndSyncServerLockedForGood) {
  ClockRecord record;
  record.firmwareMajor = 1;
  record.firmwareMinor = 5;
  record.lastSyncTime = 1700000000;
  record.syncServerIp = 0x0AD50001;
  const char serial[] = "\xD6\xD3-A1";  // a two-byte character of CP936 first
  std::copy(std::begin(serial), std::end(serial), record.serial.begin());

  page_.ShowIdentity(nullptr);
  EXPECT_TRUE(Text("firmwareVersion")->text().isEmpty());
  EXPECT_TRUE(Address("syncServer")->isEnabled());

  page_.ShowIdentity(&record);
  EXPECT_EQ(Text("firmwareVersion")->text(), "1.05");
  EXPECT_EQ(Text("lastSyncTime")->text().toStdString(), FormatSyncTime(1700000000));
  EXPECT_EQ(Text("serial")->text(), QString::fromUtf8("钟-A1"));
  EXPECT_EQ(Address("syncServer")->Address(), 0x0AD50001u);
  EXPECT_FALSE(Address("syncServer")->isEnabled());

  page_.ClearBasic();
  ExpectCleared();
  EXPECT_FALSE(Address("syncServer")->isEnabled());
}

// The last synchronisation shows whole, seconds included, at the page's
// smallest size.
TEST_F(BasicPageTest, LastSyncTimeFitsItsField) {
  ClockRecord record;
  record.lastSyncTime = 1700000000;
  page_.ShowIdentity(&record);
  page_.resize(page_.minimumSizeHint());
  page_.show();
  QLabel* time = Text("lastSyncTime");
  const int room = time->contentsRect().width() - 2 * time->margin() - time->indent();
  EXPECT_GE(room, time->fontMetrics().horizontalAdvance(time->text())) << time->text().toStdString();
  page_.hide();
}

TEST_F(BasicPageTest, ClearEmptiesEverythingAShowFilled) {
  const ClockRecord record = RecordFromReply(kReportedSettings);
  page_.ShowIdentity(&record);
  page_.ShowBasicSettings(&record);
  page_.ClearBasic();
  ExpectCleared();
}

TEST_F(BasicPageTest, NullRecordShowsNothing) {
  const ClockRecord record = RecordFromReply(kReportedSettings);
  page_.ClearBasic();
  page_.ShowBasicSettings(&record);
  page_.ShowBasicSettings(nullptr);
  EXPECT_EQ(List("zone")->currentText(), "UTC -9:30");
  EXPECT_TRUE(Radio("staticIp")->isChecked());
}

TEST_F(BasicPageTest, ModifyRefusesWithoutModeOrUsableAddress) {
  page_.ClearBasic();
  EXPECT_FALSE(page_.BuildBasicFrame());
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Please choose static mode or dynamic mode"});

  Radio("staticIp")->click();
  Address("subnetMask")->SetAddress(0xFFFFFF00);
  notifier_.messages.clear();
  EXPECT_FALSE(page_.BuildBasicFrame()) << "blank address";
  Address("ipAddress")->SetAddress(0);
  EXPECT_FALSE(page_.BuildBasicFrame()) << "0.0.0.0";
  Address("ipAddress")->SetAddress(0xFFFFFFFF);
  EXPECT_FALSE(page_.BuildBasicFrame()) << "255.255.255.255";
  EXPECT_EQ(notifier_.messages, std::vector<std::string>(3, "Please input a valid IP address"));
  // The operator's input stays for correction.
  EXPECT_TRUE(Radio("staticIp")->isChecked());
  EXPECT_EQ(Address("subnetMask")->Address(), 0xFFFFFF00u);

  Address("ipAddress")->SetAddress(0x0A000005);
  const std::optional<BasicPayload> sent = BuildPayload();
  ASSERT_TRUE(sent);
  EXPECT_EQ(std::vector<std::uint8_t>(sent->begin() + 3, sent->begin() + 11),
            (std::vector<std::uint8_t>{10, 0, 0, 5, 255, 255, 255, 0}));
  EXPECT_EQ(notifier_.messages.size(), 3u);
}

// An address field with an octet cleared would go out with a zero there and
// leave the clock unreachable; the page refuses it as it refuses a blank one.
TEST_F(BasicPageTest, PartlyFilledAddressesAreRefused) {
  struct Case {
    const char* field;
    bool dynamic;
    bool refused;
  };
  const Case cases[] = {
      {"ipAddress", false, true},  {"subnetMask", false, true}, {"gateway", false, true},
      {"dnsServer", false, true},  {"gateway", true, true},
      {"ipAddress", true, false},  // not sent in dynamic mode
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + (c.dynamic ? " dynamic" : " static"));
    const ClockRecord record = RecordFromReply(kReportedSettings);
    page_.ClearBasic();
    page_.ShowBasicSettings(&record);
    Radio(c.dynamic ? "dynamicIp" : "staticIp")->click();
    Address(c.field)->Octet(0)->clear();
    notifier_.messages.clear();
    EXPECT_EQ(!page_.BuildBasicFrame().has_value(), c.refused);
    EXPECT_EQ(notifier_.messages,
              c.refused ? std::vector<std::string>{"Please input a valid IP address"} : std::vector<std::string>{});
  }
}

TEST_F(BasicPageTest, AddressingRadiosSwitchTheAddressFields) {
  page_.ClearBasic();
  Radio("staticIp")->click();
  EXPECT_FALSE(Radio("dynamicIp")->isChecked());
  for (const char* field : kAddressFields) EXPECT_TRUE(Address(field)->isEnabled()) << field;
  Radio("staticIp")->click();  // a second click keeps the choice
  EXPECT_TRUE(Radio("staticIp")->isChecked());

  Radio("dynamicIp")->click();
  EXPECT_TRUE(Radio("dynamicIp")->isChecked());
  EXPECT_FALSE(Radio("staticIp")->isChecked());
  for (const char* field : kAddressFields) EXPECT_FALSE(Address(field)->isEnabled()) << field;

  Radio("hour12")->click();
  Radio("hour24")->click();
  EXPECT_FALSE(Radio("hour12")->isChecked());
  EXPECT_TRUE(Radio("hour24")->isChecked());
}

TEST_F(BasicPageTest, DstCheckBoxEnablesAndEmptiesTheRule) {
  page_.ClearBasic();
  Radio("dynamicIp")->click();
  Check("dstEnable")->click();
  ExpectDstLists(true);

  // Partly chosen: the fields of unchosen lists go out as 0.
  Choose("dstStartMonth", "Mar");
  Choose("dstEndWeekday", "Sun");
  std::optional<BasicPayload> sent = BuildPayload();
  ASSERT_TRUE(sent);
  EXPECT_EQ(std::vector<std::uint8_t>(sent->begin() + 19, sent->begin() + 25),
            (std::vector<std::uint8_t>{3, 0, 0, 0, 0x07, 0}));

  Check("dstEnable")->click();
  ExpectDstLists(false);
  sent = BuildPayload();
  ASSERT_TRUE(sent);
  EXPECT_EQ(std::vector<std::uint8_t>(sent->begin() + 19, sent->begin() + 25), std::vector<std::uint8_t>(6, 0));
}

TEST_F(BasicPageTest, EnergySavingCheckBoxSwitchesThePeriod) {
  const ClockRecord record = RecordFromReply(kReportedSettings);  // 22 to 6, display closed
  page_.ClearBasic();
  page_.ShowBasicSettings(&record);

  Check("energySaving")->click();
  for (const char* list : {"energyFrom", "energyTo"}) {
    EXPECT_EQ(List(list)->currentIndex(), -1) << list;
    EXPECT_FALSE(List(list)->isEnabled()) << list;
  }
  EXPECT_FALSE(Radio("displayDim")->isChecked());
  EXPECT_FALSE(Radio("displayClose")->isChecked());
  EXPECT_FALSE(Radio("displayDim")->isEnabled());
  EXPECT_FALSE(Radio("displayClose")->isEnabled());

  // Checked again without choosing hours: sent as 0 to 0, which the clock
  // reads as off, and the display dimmed, never both choices at once.
  Check("energySaving")->click();
  EXPECT_TRUE(List("energyFrom")->isEnabled());
  EXPECT_TRUE(List("energyTo")->isEnabled());
  EXPECT_TRUE(Radio("displayDim")->isChecked());
  EXPECT_FALSE(Radio("displayClose")->isChecked());
  EXPECT_TRUE(Radio("displayClose")->isEnabled());
  std::optional<BasicPayload> sent = BuildPayload();
  ASSERT_TRUE(sent);
  EXPECT_EQ((*sent)[25], 0);
  EXPECT_EQ((*sent)[26], 0);

  Choose("energyFrom", "23");
  Choose("energyTo", "5");
  Radio("displayClose")->click();
  EXPECT_FALSE(Radio("displayDim")->isChecked());
  sent = BuildPayload();
  ASSERT_TRUE(sent);
  EXPECT_EQ((*sent)[25], 23);
  EXPECT_EQ((*sent)[26], (5 << 3) | 4);
}

// Before the first clear the display choices are open to the operator; the
// period switched on afterwards must still show one choice only.
TEST_F(BasicPageTest, EnergySavingSwitchedOnShowsTheDisplayDimmedOnly) {
  Radio("displayClose")->click();
  Check("energySaving")->click();
  EXPECT_TRUE(Radio("displayDim")->isChecked());
  EXPECT_FALSE(Radio("displayClose")->isChecked());
}

TEST_F(BasicPageTest, EnterAndEscapeCloseNothing) {
  QDialog window;
  auto* page = new Basic(selection_, notifier_, &window, CodePage::Cp1252);
  window.show();
  auto* radio = page->findChild<QRadioButton*>("hour12");
  ASSERT_NE(radio, nullptr);
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
    QTest::keyClick(radio, key);
    EXPECT_TRUE(window.isVisible()) << key;
  }
  EXPECT_TRUE(notifier_.messages.empty());
}

}  // namespace
}  // namespace marindo
