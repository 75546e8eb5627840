// The other display settings page: what it shows of a clock's display
// settings and text, the operator's choices, and the display and text frames
// it builds, byte for byte.

#include "pages/Other.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QVBoxLayout>

#include <cstring>
#include <string>
#include <vector>

#include "link/ReplyDecoders.h"
#include "platform/CodePage.h"

namespace marindo {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kClockIp = 0x0A000064;

class RecordingNotifier : public Notifier {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

// The selection as the main window keeps it: an address, looked up afresh.
class ListSelection : public ClockSelection {
 public:
  explicit ListSelection(ClockList& clocks) : clocks_(clocks) {}
  std::optional<std::uint32_t> SelectedClockIp() const override { return selected; }
  ClockRecord* SelectedRecord() override { return selected ? clocks_.FindByIp(*selected) : nullptr; }
  std::optional<std::uint32_t> selected;

 private:
  ClockList& clocks_;
};

Bytes BytesOf(const std::optional<ClockFrame>& frame) {
  if (!frame) return {};
  const auto bytes = frame->Bytes();
  return Bytes(bytes.begin(), bytes.end());
}

Bytes Hex(std::string_view hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

// Payload byte k of a whole frame.
std::uint8_t P(const Bytes& frame, std::size_t k) { return frame.at(ClockFrame::kHeaderSize + k); }

Bytes Slice(const Bytes& frame, std::size_t payloadFrom, std::size_t count) {
  const std::size_t from = ClockFrame::kHeaderSize + payloadFrom;
  return Bytes(frame.begin() + static_cast<std::ptrdiff_t>(from),
               frame.begin() + static_cast<std::ptrdiff_t>(from + count));
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The display reply (code 0x05) of a clock, p[1] to p[13].
struct DisplayReply {
  std::array<std::uint8_t, 6> countdown{8, 30, 0, 1, 0, 0};
  std::uint8_t unit = 1;
  std::uint8_t p8 = 0x85;  // -5
  std::uint8_t p9 = 0x30;  // .3
  std::uint8_t p10 = 0x5A;  // 45
  std::uint8_t p11 = 0x60;  // .6
  std::uint8_t p12 = 0x50;  // time 5
  std::uint8_t p13 = 0x30;  // humiture 3

  Bytes Payload() const {
    Bytes p{0x05};
    p.insert(p.end(), countdown.begin(), countdown.end());
    p.insert(p.end(), {unit, p8, p9, p10, p11, p12, p13});
    return p;
  }
};

Bytes TextReply(std::uint8_t mode, std::string_view text, std::size_t width) {
  Bytes p{0x0A, 12, mode};
  p.insert(p.end(), text.begin(), text.end());
  p.resize(3 + width, 0);
  return p;
}

class OtherTest : public ::testing::Test {
 protected:
  explicit OtherTest(CodePage cp = CodePage::Cp1252)
      : selection_(clocks_), page_(clocks_, selection_, notifier_, nullptr, cp) {
    ClockRecord clock;
    clock.ip = kClockIp;
    clock.firmwareMajor = 1;
    clock.radio = 0x85;
    clocks_.Append(clock);
    selection_.selected = kClockIp;
    page_.show();
  }

  ClockRecord& Clock() { return *clocks_.FindByIp(kClockIp); }

  void StoreDisplay(const DisplayReply& reply) {
    const Bytes payload = reply.Payload();
    ASSERT_TRUE(StoreReply(payload, static_cast<std::uint8_t>(payload.size()), Clock()));
  }
  void StoreText(std::uint8_t mode, std::string_view text, std::size_t width) {
    const Bytes payload = TextReply(mode, text, width);
    ASSERT_TRUE(StoreReply(payload, static_cast<std::uint8_t>(payload.size()), Clock()));
  }
  // What the main window does on the Other tab.
  void ShowClock() {
    page_.ClearOther();
    page_.ShowDisplaySettings(kClockIp);
    page_.ShowTextSettings(kClockIp);
  }

  template <class T>
  T* Control(const char* name) {
    T* control = page_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QComboBox* List(const char* name) { return Control<QComboBox>(name); }
  QRadioButton* Radio(const char* name) { return Control<QRadioButton>(name); }
  QLabel* Label(const char* name) { return Control<QLabel>(name); }
  QLineEdit* TextField() { return Control<QLineEdit>("text"); }
  QString Counter() { return Label("textCounter")->text(); }

  void Click(const char* name) { Radio(name)->click(); }
  void Choose(const char* list, const char* text) {
    QComboBox* combo = List(list);
    const int index = combo->findText(QString::fromLatin1(text));
    ASSERT_GE(index, 0) << list << " " << text;
    combo->setCurrentIndex(index);
  }
  void TypeInto(const char* list, const char* text) {
    List(list)->clearEditText();
    QTest::keyClicks(List(list)->lineEdit(), text);
  }

  Bytes DisplayFrame() { return BytesOf(page_.BuildDisplayFrame()); }

  static constexpr const char* kCountdown[] = {"startHour",     "startMinute",     "startSecond",
                                               "durationHours", "durationMinutes", "durationSeconds"};

  ClockList clocks_;
  ListSelection selection_;
  RecordingNotifier notifier_;
  Other page_;
};

class OtherCp936Test : public OtherTest {
 protected:
  OtherCp936Test() : OtherTest(CodePage::Cp936) {}
};

QStringList Numbers(int from, int to) {
  QStringList numbers;
  for (int i = from; i <= to; ++i) numbers << QString::number(i);
  return numbers;
}

QStringList Items(const QComboBox* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
  return items;
}

TEST_F(OtherTest, ControlsStartAsTheTemplateHasThem) {
  struct ListCase {
    const char* name;
    int from, to;
    bool editable, enabled;
  };
  const ListCase lists[] = {
      {"startHour", 0, 23, false, false},         {"startMinute", 0, 59, false, false},
      {"startSecond", 0, 59, false, false},       {"durationHours", 0, 9, false, false},
      {"durationMinutes", 0, 59, false, false},   {"durationSeconds", 0, 59, false, false},
      {"timeDisplayDuration", 0, 15, true, false}, {"humitureDisplayDuration", 0, 15, true, false},
      {"alternateSeconds", 2, 5, true, false},    {"radioId", 0, 59, false, true},
  };
  for (const ListCase& c : lists) {
    SCOPED_TRACE(c.name);
    QComboBox* list = List(c.name);
    EXPECT_EQ(Items(list), Numbers(c.from, c.to));
    EXPECT_EQ(list->isEditable(), c.editable);
    EXPECT_EQ(list->isEnabled(), c.enabled);
    EXPECT_EQ(list->currentIndex(), -1);
  }
  struct RadioCase {
    const char* name;
    const char* text;
    bool enabled;
  };
  const RadioCase radios[] = {
      {"celsius", "\u00B0C", false}, {"fahrenheit", "\u00B0F", false}, {"timeOnlyYes", "Yes", true},
      {"timeOnlyNo", "No", true},    {"roll", "Roll", false},         {"alternate", "Alternate(s):", false},
      {"radioOpen", "Open", true},   {"radioClose", "Close", true},
  };
  for (const RadioCase& c : radios) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Radio(c.name)->text(), QString::fromUtf8(c.text));
    EXPECT_EQ(Radio(c.name)->isEnabled(), c.enabled);
    EXPECT_FALSE(Radio(c.name)->isChecked());
    EXPECT_FALSE(Radio(c.name)->autoExclusive());
  }
  EXPECT_TRUE(Label("humidity")->text().isEmpty());
  EXPECT_TRUE(Label("temperature")->text().isEmpty());
  EXPECT_FALSE(TextField()->isEnabled());
  EXPECT_EQ(Counter(), "0/64");
}

TEST_F(OtherTest, TypingIntoAnEditableListAddsNoEntry) {
  QComboBox* list = List("timeDisplayDuration");
  list->setEnabled(true);
  TypeInto("timeDisplayDuration", "7");
  QTest::keyClick(list->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(list->count(), 16);
  EXPECT_EQ(list->currentText(), "7");
}

TEST_F(OtherTest, ClockWithASensorShowsEverything) {
  StoreDisplay({});
  ShowClock();
  const char* expected[] = {"8", "30", "0", "1", "0", "0"};
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(List(kCountdown[i])->currentText(), expected[i]) << kCountdown[i];
    EXPECT_TRUE(List(kCountdown[i])->isEnabled());
  }
  EXPECT_EQ(Label("temperature")->text(), QString::fromUtf8("-5.3\u00B0C"));
  EXPECT_EQ(Label("humidity")->text(), "45.6 %");
  EXPECT_TRUE(Radio("celsius")->isChecked());
  EXPECT_FALSE(Radio("fahrenheit")->isChecked());
  EXPECT_TRUE(Radio("celsius")->isEnabled());
  EXPECT_TRUE(Radio("timeOnlyNo")->isChecked());
  EXPECT_FALSE(Radio("timeOnlyYes")->isChecked());
  EXPECT_EQ(List("timeDisplayDuration")->currentText(), "5");
  EXPECT_EQ(List("humitureDisplayDuration")->currentText(), "3");
  EXPECT_TRUE(List("timeDisplayDuration")->isEnabled());
}

TEST_F(OtherTest, HumitureTexts) {
  struct Case {
    std::uint8_t unit, p8, p9, p10, p11;
    const char* temperature;
    const char* humidity;
    bool celsius;
  };
  const Case cases[] = {
      {1, 0x85, 0x30, 0x5A, 0x60, "-5.3\u00B0C", "45.6 %", true},
      {1, 0x83, 0x20, 0x02, 0x10, "-3.2\u00B0C", "1.1 %", true},
      {2, 0x17, 0x00, 0x64, 0x90, "23.0\u00B0F", "50.9 %", false},
      {1, 0x00, 0x00, 0x00, 0x10, "0.0\u00B0C", "0.1 %", true},  // a humidity just above nothing still counts
      {1, 0x80, 0x50, 0x5A, 0x60, "-0.5\u00B0C", "45.6 %", true},  // below zero with no whole degree
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.temperature);
    DisplayReply reply;
    reply.unit = c.unit;
    reply.p8 = c.p8;
    reply.p9 = c.p9;
    reply.p10 = c.p10;
    reply.p11 = c.p11;
    StoreDisplay(reply);
    ShowClock();
    EXPECT_EQ(Label("temperature")->text(), QString::fromUtf8(c.temperature));
    EXPECT_EQ(Label("humidity")->text(), QString::fromUtf8(c.humidity));
    EXPECT_EQ(Radio("celsius")->isChecked(), c.celsius);
    EXPECT_EQ(Radio("fahrenheit")->isChecked(), !c.celsius);
    EXPECT_EQ(P(DisplayFrame(), 7), c.unit);
  }
}

TEST_F(OtherTest, ClockWithoutASensorOffersTimeOnly) {
  struct Case {
    const char* why;
    std::uint8_t unit, p10, p11;
  };
  const Case cases[] = {
      {"unit 0", 0, 0x5A, 0x60},
      {"humidity 0.0 %", 1, 0x00, 0x00},
      {"humidity 0.0 %, Fahrenheit", 2, 0x00, 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    DisplayReply reply;
    reply.unit = c.unit;
    reply.p10 = c.p10;
    reply.p11 = c.p11;
    StoreDisplay(reply);
    ShowClock();
    EXPECT_TRUE(Label("temperature")->text().isEmpty());
    EXPECT_TRUE(Label("humidity")->text().isEmpty());
    EXPECT_TRUE(Radio("celsius")->isEnabled());
    EXPECT_FALSE(Radio("celsius")->isChecked());
    EXPECT_FALSE(Radio("fahrenheit")->isChecked());
    EXPECT_TRUE(Radio("timeOnlyYes")->isChecked());
    EXPECT_FALSE(Radio("timeOnlyNo")->isChecked());
    EXPECT_FALSE(Radio("timeOnlyYes")->isEnabled());
    EXPECT_FALSE(Radio("timeOnlyNo")->isEnabled());
    EXPECT_FALSE(List("timeDisplayDuration")->isEnabled());
    EXPECT_FALSE(List("humitureDisplayDuration")->isEnabled());
    // Even a unit the operator clicks goes out as 0 without a reading.
    Click("celsius");
    const Bytes frame = DisplayFrame();
    EXPECT_EQ(P(frame, 7), 0);
    EXPECT_EQ(P(frame, 12), 0);
    EXPECT_EQ(P(frame, 13), 0);
  }
}

TEST_F(OtherTest, DurationBytesFollowTheAlternativeDisplay) {
  struct Case {
    const char* what;
    std::uint8_t replyP13;           // humiture duration of the reply
    const char* choice;              // "Yes" or "No" clicked afterwards, or none
    const char* time;                // typed into 1009
    const char* humiture;            // typed into 1018
    std::uint8_t p12, p13;
  };
  const Case cases[] = {
      {"reply says time only", 0x00, nullptr, nullptr, nullptr, 0x10, 0x00},
      {"reply alternates 5 and 3", 0x30, nullptr, nullptr, nullptr, 0x53, 0x30},
      {"No with both 0", 0x30, "timeOnlyNo", "0", "0", 0x01, 0x00},
      {"No with both empty", 0x30, "timeOnlyNo", "", "", 0x01, 0x00},
      {"typed values", 0x30, "timeOnlyNo", "7", "12", 0x7C, 0xC0},
      {"typed values above 15 are masked", 0x30, "timeOnlyNo", "20", "35", 0x43, 0x30},
      {"Yes wins over the lists", 0x30, "timeOnlyYes", "7", "12", 0x10, 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DisplayReply reply;
    reply.p13 = c.replyP13;
    StoreDisplay(reply);
    ShowClock();
    if (c.replyP13 == 0) {
      EXPECT_TRUE(Radio("timeOnlyYes")->isChecked());
      EXPECT_FALSE(List("timeDisplayDuration")->isEnabled());
      EXPECT_EQ(List("timeDisplayDuration")->currentIndex(), -1);
    }
    if (c.time != nullptr) {
      Click("timeOnlyNo");  // the lists take typing only while enabled
      TypeInto("timeDisplayDuration", c.time);
      TypeInto("humitureDisplayDuration", c.humiture);
    }
    if (c.choice != nullptr) Click(c.choice);
    const Bytes frame = DisplayFrame();
    EXPECT_EQ(P(frame, 12), c.p12);
    EXPECT_EQ(P(frame, 13), c.p13);
  }
}

TEST_F(OtherTest, YesAndNoSwitchTheDurationLists) {
  StoreDisplay({});
  ShowClock();
  Click("timeOnlyYes");
  EXPECT_TRUE(Radio("timeOnlyYes")->isChecked());
  EXPECT_FALSE(Radio("timeOnlyNo")->isChecked());
  EXPECT_FALSE(List("timeDisplayDuration")->isEnabled());
  EXPECT_FALSE(List("humitureDisplayDuration")->isEnabled());
  Click("timeOnlyYes");  // a second click leaves it checked
  EXPECT_TRUE(Radio("timeOnlyYes")->isChecked());
  Click("timeOnlyNo");
  EXPECT_FALSE(Radio("timeOnlyYes")->isChecked());
  EXPECT_TRUE(Radio("timeOnlyNo")->isChecked());
  EXPECT_TRUE(List("timeDisplayDuration")->isEnabled());
  EXPECT_TRUE(List("humitureDisplayDuration")->isEnabled());
}

TEST_F(OtherTest, DisplayFrameOfTheWorkedExample) {
  // A clock showing something else; the operator sets the example's values.
  DisplayReply reply;
  reply.countdown = {0, 0, 0, 0, 0, 0};
  reply.unit = 2;
  reply.p13 = 0;
  StoreDisplay(reply);
  Clock().radio = 0x00;
  ShowClock();
  const char* values[] = {"8", "30", "0", "1", "0", "0"};
  for (std::size_t i = 0; i < 6; ++i) Choose(kCountdown[i], values[i]);
  Click("celsius");
  Click("radioOpen");
  Choose("radioId", "5");
  Click("timeOnlyNo");
  Choose("timeDisplayDuration", "5");
  Choose("humitureDisplayDuration", "3");
  EXPECT_EQ(DisplayFrame(), Hex("514B800E 09 081E00 010000 01 85 000000 53 30 C456"));
}

TEST_F(OtherTest, CountdownValuesWithoutAnEntryAreLeftUnselected) {
  DisplayReply reply;
  reply.countdown = {30, 61, 5, 12, 0, 59};
  StoreDisplay(reply);
  ShowClock();
  EXPECT_EQ(List("startHour")->currentIndex(), -1);
  EXPECT_EQ(List("startMinute")->currentIndex(), -1);
  EXPECT_EQ(List("durationHours")->currentIndex(), -1);
  EXPECT_EQ(Slice(DisplayFrame(), 1, 6), Hex("00 00 05 00 00 3B"));
}

TEST_F(OtherTest, RadioByteRoundTrip) {
  struct Case {
    std::uint8_t radio;
    bool open;
    int id;  // position selected, -1 for none
    std::uint8_t sent;
  };
  const Case cases[] = {
      {0x85, true, 5, 0x85},
      {0x05, false, 5, 0x05},
      {0xBB, true, 59, 0xBB},
      {0x80 | 100, true, -1, 0x80},  // an ID past the list selects nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.radio));
    StoreDisplay({});
    Clock().radio = c.radio;
    ShowClock();
    EXPECT_EQ(Radio("radioOpen")->isChecked(), c.open);
    EXPECT_EQ(Radio("radioClose")->isChecked(), !c.open);
    EXPECT_TRUE(Radio("radioOpen")->isEnabled());
    EXPECT_TRUE(List("radioId")->isEnabled());
    EXPECT_EQ(List("radioId")->currentIndex(), c.id);
    EXPECT_EQ(P(DisplayFrame(), 8), c.sent);
  }
}

// Whatever a clock holds, the page shows the models decoded from its record
// and reads the same models back: nothing is lost or made up between the
// record and the frames.
TEST_F(OtherTest, ShownModelsReadBackUnchanged) {
  struct Case {
    const char* what;
    std::uint8_t unit, humidity, humitureDuration;
    std::array<std::uint8_t, 6> countdown;
    std::uint8_t timeDuration;  // stored in the record after the reply
    std::uint8_t radio, textMode;
  };
  const Case cases[] = {
      {"sensor, Celsius, alternating", 1, 0x5A, 0x30, {8, 30, 0, 1, 0, 0}, 5, 0x85, 0x84},
      {"sensor, Fahrenheit, time only", 2, 0x5A, 0x00, {23, 59, 59, 9, 59, 59}, 5, 0x05, 0x00},
      {"no sensor", 0, 0x5A, 0x30, {0, 0, 0, 0, 0, 0}, 5, 0x80 | 100, 0x89},
      {"a unit the page does not know", 3, 0x5A, 0x30, {1, 2, 3, 4, 5, 6}, 7, 0x3B, 0x00},
      {"values no list offers", 1, 0x5A, 0x30, {30, 61, 5, 12, 0, 59}, 20, 0xBB, 0x85},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DisplayReply reply;
    reply.unit = c.unit;
    reply.p10 = c.humidity;
    reply.p13 = c.humitureDuration;
    reply.countdown = c.countdown;
    StoreDisplay(reply);
    StoreText(c.textMode, "HI", 32);
    Clock().displayTimes[0] = c.timeDuration;
    Clock().radio = c.radio;
    ShowClock();
    DisplayControls display;
    page_.ReadModel(display);
    EXPECT_EQ(display, DisplayControlsFromRecord(Clock()));
    TextControls text;
    page_.ReadModel(text);
    EXPECT_EQ(text, TextControlsFromRecord(Clock(), CodePage::Cp1252));
  }
}

TEST_F(OtherTest, OpenAndCloseAreAPair) {
  StoreDisplay({});
  ShowClock();
  Click("radioClose");
  EXPECT_TRUE(Radio("radioClose")->isChecked());
  EXPECT_FALSE(Radio("radioOpen")->isChecked());
  EXPECT_EQ(P(DisplayFrame(), 8), 0x05);
  Click("radioOpen");
  EXPECT_TRUE(Radio("radioOpen")->isChecked());
  EXPECT_FALSE(Radio("radioClose")->isChecked());
  EXPECT_EQ(P(DisplayFrame(), 8), 0x85);
}

TEST_F(OtherTest, ClearDisablesNearlyEverythingAndKeepsTheChecks) {
  StoreDisplay({});
  StoreText(0x83, "HELLO", 32);
  ShowClock();
  TypeInto("timeDisplayDuration", "9x");  // typed text that is no entry
  page_.ClearOther();
  for (const char* name : kCountdown) {
    EXPECT_EQ(List(name)->currentIndex(), -1) << name;
    EXPECT_FALSE(List(name)->isEnabled()) << name;
  }
  for (const char* name : {"timeDisplayDuration", "humitureDisplayDuration", "alternateSeconds",
                           "radioId"}) {
    EXPECT_EQ(List(name)->currentIndex(), -1) << name;
    EXPECT_TRUE(List(name)->currentText().isEmpty()) << name;
    EXPECT_FALSE(List(name)->isEnabled()) << name;
  }
  for (const char* name : {"roll", "alternate", "celsius", "fahrenheit"}) {
    EXPECT_FALSE(Radio(name)->isChecked()) << name;
    EXPECT_FALSE(Radio(name)->isEnabled()) << name;
  }
  for (const char* name : {"timeOnlyYes", "timeOnlyNo", "radioOpen", "radioClose"}) {
    EXPECT_FALSE(Radio(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(Radio("timeOnlyNo")->isChecked());
  EXPECT_TRUE(Radio("radioOpen")->isChecked());
  EXPECT_TRUE(TextField()->text().isEmpty());
  EXPECT_FALSE(TextField()->isEnabled());
  EXPECT_TRUE(Label("temperature")->text().isEmpty());
  EXPECT_TRUE(Label("humidity")->text().isEmpty());
  // A cleared page sends no unit, no durations and no radio ID.
  EXPECT_EQ(DisplayFrame(), BytesOf(ClockFrame::Build(Hex("09 000000 000000 00 80 000000 00 00"))));
}

TEST_F(OtherTest, ShowsOfAClockThatHasGoneDoNothing) {
  page_.ShowDisplaySettings(0x0A0000FF);
  page_.ShowTextSettings(0x0A0000FF);
  EXPECT_FALSE(List("startHour")->isEnabled());
  EXPECT_FALSE(TextField()->isEnabled());
  EXPECT_EQ(Counter(), "0/64");
}

TEST_F(OtherTest, TextModeIsShown) {
  struct Case {
    std::uint8_t mode;
    bool roll;
    const char* seconds;  // 1019's text
    bool secondsEnabled;
  };
  const Case cases[] = {
      {0x00, true, "", false},
      {0x84, false, "4", true},
      {0x89, false, "", true},  // no entry reads 9
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    StoreText(c.mode, "HI", 32);
    ShowClock();
    EXPECT_EQ(Radio("roll")->isChecked(), c.roll);
    EXPECT_EQ(Radio("alternate")->isChecked(), !c.roll);
    EXPECT_TRUE(Radio("roll")->isEnabled());
    EXPECT_TRUE(Radio("alternate")->isEnabled());
    EXPECT_EQ(List("alternateSeconds")->currentText(), c.seconds);
    EXPECT_EQ(List("alternateSeconds")->isEnabled(), c.secondsEnabled);
    EXPECT_EQ(TextField()->text(), "HI");
    EXPECT_TRUE(TextField()->isEnabled());
  }
}

TEST_F(OtherTest, RollAndAlternateSetTheModeByte) {
  StoreText(0x00, "HI", 32);
  ShowClock();
  EXPECT_EQ(P(BytesOf(page_.BuildTextFrame(Other::TextForm::Short)), 2), 0x00);

  Click("alternate");
  EXPECT_TRUE(Radio("alternate")->isChecked());
  EXPECT_FALSE(Radio("roll")->isChecked());
  EXPECT_EQ(List("alternateSeconds")->currentText(), "2");
  EXPECT_TRUE(List("alternateSeconds")->isEnabled());
  EXPECT_EQ(P(BytesOf(page_.BuildTextFrame(Other::TextForm::Short)), 2), 0x82);
  Choose("alternateSeconds", "3");
  EXPECT_EQ(P(BytesOf(page_.BuildTextFrame(Other::TextForm::Short)), 2), 0x83);
  TypeInto("alternateSeconds", "10");
  EXPECT_EQ(P(BytesOf(page_.BuildTextFrame(Other::TextForm::Short)), 2), 0x8A);
  TypeInto("alternateSeconds", "");
  EXPECT_EQ(P(BytesOf(page_.BuildTextFrame(Other::TextForm::Short)), 2), 0x80);

  Click("roll");
  EXPECT_TRUE(Radio("roll")->isChecked());
  EXPECT_FALSE(Radio("alternate")->isChecked());
  EXPECT_EQ(List("alternateSeconds")->currentIndex(), -1);
  EXPECT_FALSE(List("alternateSeconds")->isEnabled());
  EXPECT_EQ(P(BytesOf(page_.BuildTextFrame(Other::TextForm::Short)), 2), 0x00);

  page_.ClearOther();  // neither mode checked: alternate with no period
  EXPECT_EQ(P(BytesOf(page_.BuildTextFrame(Other::TextForm::Short)), 2), 0x80);
}

TEST_F(OtherTest, ShortTextFrameOfTheWorkedExample) {
  StoreText(0x00, "", 32);
  ShowClock();
  Click("alternate");
  Choose("alternateSeconds", "3");
  QTest::keyClicks(TextField(), "HELLO");
  EXPECT_EQ(BytesOf(page_.BuildTextFrame(Other::TextForm::Short)),
            Hex("514B8024 0B 00 83 48454C4C4F" + std::string(2 * 28, '0') + "417D"));
}

TEST_F(OtherTest, TextLimitAndCounterFollowTheClocksForm) {
  struct Case {
    std::uint8_t firmwareMajor;
    std::size_t replyWidth;
    int limit;
    Other::TextForm form;
    std::size_t frameSize;
  };
  const Case cases[] = {
      {1, 32, 32, Other::TextForm::Short, 42},
      {2, 32, 64, Other::TextForm::Long, 74},  // firmware 2 takes long texts
      {1, 64, 64, Other::TextForm::Long, 74},  // so does a clock that reports 64 bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    Clock().firmwareMajor = c.firmwareMajor;
    StoreText(0x00, "HELLO", c.replyWidth);
    ASSERT_EQ(Clock().longText, c.form == Other::TextForm::Long);
    ShowClock();
    EXPECT_EQ(Counter(), QString("5/%1").arg(c.limit));
    QTest::keyClicks(TextField(), "W");
    EXPECT_EQ(Counter(), QString("6/%1").arg(c.limit));
    QTest::keyClicks(TextField(), QString(100, 'x'));
    EXPECT_EQ(TextField()->text().size(), c.limit);
    EXPECT_EQ(Counter(), QString("%1/%1").arg(c.limit));
    const Bytes frame = BytesOf(page_.BuildTextFrame(c.form));
    ASSERT_EQ(frame.size(), c.frameSize);
    EXPECT_EQ(frame[3], c.frameSize - 6);
    EXPECT_EQ(Slice(frame, 3, 6), Text("HELLOW"));
    EXPECT_EQ(P(frame, c.frameSize - 7), 0) << "the final byte";
    QTest::keyClick(TextField(), Qt::Key_Backspace);
    EXPECT_EQ(Counter(), QString("%1/%2").arg(c.limit - 1).arg(c.limit));
  }
}

TEST_F(OtherTest, WithoutASelectedClockTheCounterStays) {
  selection_.selected.reset();
  TextField()->setEnabled(true);
  QTest::keyClicks(TextField(), "ABC");
  EXPECT_EQ(Counter(), "0/64");
}

TEST_F(OtherTest, EnterAndEscapeLeaveTheWindowOpen) {
  QDialog window;
  auto* layout = new QVBoxLayout(&window);
  auto* page = new Other(clocks_, selection_, notifier_, &window, CodePage::Cp1252);
  layout->addWidget(page);
  auto* modify = new QPushButton(QStringLiteral("Modify"), &window);
  modify->setDefault(true);
  QObject::connect(modify, &QPushButton::clicked, &window, &QDialog::accept);
  layout->addWidget(modify);
  window.show();
  QLineEdit* text = page->findChild<QLineEdit*>("text");
  text->setEnabled(true);
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    QTest::keyClick(text, key);
    EXPECT_TRUE(window.isVisible()) << key;
  }
}

// Two-byte characters: the limit counts characters, the field counts bytes.
// The code-page form is cut at a character boundary and the final byte stays
// zero.
TEST_F(OtherCp936Test, TwoByteTextIsCutAtACharacterBoundary) {
  const std::string han = "\xE6\x97\xB6";  // U+65F6, two bytes in CP936
  auto repeated = [&han](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += han;
    return text;
  };
  struct Case {
    const char* what;
    std::string text;
    Other::TextForm form;
    std::size_t fieldBytes, bytesKept;
  };
  const std::vector<Case> cases{
      {"20 characters, short", repeated(20), Other::TextForm::Short, 32, 32},
      {"one byte off, short", "a" + repeated(20), Other::TextForm::Short, 32, 31},
      {"40 characters, long", repeated(40), Other::TextForm::Long, 64, 64},
      {"one byte off, long", "a" + repeated(40), Other::TextForm::Long, 64, 63},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Clock().firmwareMajor = c.form == Other::TextForm::Long ? 2 : 1;
    StoreText(0x00, "", 32);
    ShowClock();
    TextField()->setText(QString::fromStdString(c.text));
    const Bytes frame = BytesOf(page_.BuildTextFrame(c.form));
    ASSERT_EQ(frame.size(), 3 + c.fieldBytes + 1 + 6);
    const Bytes field = Slice(frame, 3, c.fieldBytes);
    const std::string encoded = ToCodePage(c.text, CodePage::Cp936).substr(0, c.bytesKept);
    EXPECT_EQ(Bytes(field.begin(), field.begin() + static_cast<std::ptrdiff_t>(c.bytesKept)), Text(encoded));
    EXPECT_EQ(Bytes(field.begin() + static_cast<std::ptrdiff_t>(c.bytesKept), field.end()),
              Bytes(c.fieldBytes - c.bytesKept, 0));
    EXPECT_EQ(P(frame, 3 + c.fieldBytes), 0) << "the final byte";
  }
}

TEST_F(OtherCp936Test, TextComesFromTheClockInItsCodePage) {
  const std::string text = "\xE6\x97\xB6\xE9\x97\xB4 12";  // "时间 12"
  StoreText(0x00, ToCodePage(text, CodePage::Cp936), 32);
  ShowClock();
  EXPECT_EQ(TextField()->text(), QString::fromUtf8(text));
  EXPECT_EQ(Counter(), "5/32");  // characters, not bytes
}

}  // namespace
}  // namespace marindo
