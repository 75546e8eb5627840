// The other display settings page against simulated clocks on the test LAN:
// the page shows what the clock reported, the operator changes a few
// controls, Modify sends the display frame and then the text frame, and the
// clock ends up with exactly those changes. Only the text frame's answer
// reaches the operator. Runs inside the tool's namespace (see
// tests/e2e/CMakeLists.txt).

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "E2eSupport.h"
#include "WindowModify.h"
#include "link/CommandCodes.h"
#include "pages/Other.h"

namespace marindo::e2e {
namespace {

constexpr std::uint32_t kSensorClock = 0x0AD5000A;  // 10.213.0.10, firmware 1: short text
constexpr std::uint32_t kPlainClock = 0x0AD5000B;   // 10.213.0.11, firmware 2, no sensor: long text

std::string RecordPath(const std::string& sim) { return (RunFolder() / (sim + ".record.jsonl")).string(); }

// Lines in simulator `sim`'s record so far: a mark for ModifyCodesSince.
int RecordLines(const std::string& sim) {
  return std::atoi(Shell(Python() + " -c 'print(sum(1 for _ in open(\"" + RecordPath(sim) + "\")))'").c_str());
}

// The modify codes simulator `sim` received after line `mark`, in order,
// e.g. "9,11".
std::string ModifyCodesSince(const std::string& sim, int mark) {
  return Shell(Python() + " -c 'import json; print(\",\".join(str(r[\"code\"]) for l in list(open(\"" +
               RecordPath(sim) + "\"))[" + std::to_string(mark) +
               ":] if (r:=json.loads(l)).get(\"proto\")==\"clock\" and r.get(\"code\") in (6,7,8,9,11)))'");
}

class OtherPageE2eTest : public ::testing::Test {
 protected:
  OtherPageE2eTest()
      : names_(RunFolder() / "other-names.ini", CodePage::Cp1252),
        link_(LinkServices{adapters_, neighbours_, probe_, names_}),
        page_(link_.Clocks(), selection_, notifier_, nullptr, CodePage::Cp1252) {
    selection_.link = &link_;
    page_.show();
  }

  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    for (const char* clock : {"sensor", "plain"}) ASSERT_EQ(Control(clock, "reset"), 0);
  }

  // What a click on the clock does with the "Other Info" tab showing.
  void ClickClock(std::uint32_t ip) {
    page_.ClearOther();
    ASSERT_TRUE(link_.SearchUnicast(ip));
    selection_.selected = ip;
    ASSERT_TRUE(link_.Query(ip, code::kQueryDisplay));
    ASSERT_TRUE(link_.Query(ip, code::kQueryText));
    page_.ShowDisplaySettings(ip);
    page_.ShowTextSettings(ip);
  }

  // What Modify does on the "Other Info" tab.
  void Modify() {
    const std::optional<ClockFrame> display = page_.BuildDisplayFrame();
    std::optional<ClockFrame> text;
    if (const ClockRecord* record = selection_.SelectedRecord()) {
      text = page_.BuildTextFrame(record->longText ? Other::TextForm::Long : Other::TextForm::Short);
    }
    ModifyAsTheWindow(link_, selection_.selected, display, notifier_);
    ModifyAsTheWindow(link_, selection_.selected, text, notifier_);
  }

  template <class T>
  T* Widget(const char* name) {
    T* widget = page_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  void Choose(const char* list, const char* text) {
    QComboBox* combo = Widget<QComboBox>(list);
    combo->setCurrentIndex(combo->findText(QString::fromLatin1(text)));
  }
  void ReplaceText(const char* text) {
    QLineEdit* field = Widget<QLineEdit>("text");
    field->clear();
    QTest::keyClicks(field, text);
  }

  RecordingNotifier notifier_;
  LinkSelection selection_;
  ClockNames names_;
  SystemAdapters adapters_;
  SystemNeighbours neighbours_;
  TcpPortProbe probe_;
  ClockLink link_;
  Other page_;
};

TEST_F(OtherPageE2eTest, ChangesOfAClockWithASensorReachTheClock) {
  ClickClock(kSensorClock);
  ASSERT_EQ(Widget<QLabel>("temperature")->text(), QString::fromUtf8("-5.3\u00B0C"));
  ASSERT_EQ(Widget<QLabel>("humidity")->text(), "45.6 %");
  ASSERT_EQ(Widget<QLabel>("textCounter")->text(), "5/32");
  Choose("startMinute", "45");
  ReplaceText("WORLD");

  const int mark = RecordLines("sensor");
  Modify();
  // The display frame's answer is not reported; the text frame's is.
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Modify success!"}));
  EXPECT_EQ(ModifyCodesSince("sensor", mark), "9,11");
  EXPECT_EQ(SimState("sensor", "c[\"lastWrite\"][\"09\"]"), "09082d00010000018500000053" "30");
  EXPECT_EQ(SimState("sensor", "c[\"display\"][\"countdownStart\"]"), "[8, 45, 0]");
  EXPECT_EQ(SimState("sensor", "c[\"display\"][\"countdownDuration\"]"), "[1, 0, 0]");
  EXPECT_EQ(SimState("sensor", "(c[\"display\"][\"tempUnit\"], c[\"display\"][\"timeDisplay\"], "
                               "c[\"display\"][\"humitureDisplay\"])"),
            "(1, 5, 3)");
  EXPECT_EQ(SimState("sensor", "c[\"radio\"]"), "133");
  EXPECT_EQ(SimState("sensor", "(c[\"text\"][\"text\"], c[\"text\"][\"modeByte\"], c[\"text\"][\"lastForm\"])"),
            "('WORLD', 131, 'short')");
}

TEST_F(OtherPageE2eTest, ClockWithLongTextsGetsTheLongForm) {
  ClickClock(kPlainClock);
  ASSERT_TRUE(Widget<QLabel>("temperature")->text().isEmpty());  // no sensor
  ASSERT_EQ(Widget<QLabel>("textCounter")->text(), "9/64");
  Widget<QRadioButton>("radioOpen")->click();
  Widget<QRadioButton>("alternate")->click();
  ReplaceText("A TEXT OF FORTY CHARACTERS, TOO LONG FOR");

  const int mark = RecordLines("plain");
  Modify();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Modify success!"}));
  EXPECT_EQ(ModifyCodesSince("plain", mark), "9,11");
  // No sensor: no unit and no display durations.
  EXPECT_EQ(SimState("plain", "c[\"lastWrite\"][\"09\"]"), "09000000000000008500000000" "00");
  EXPECT_EQ(SimState("plain", "c[\"radio\"]"), "133");
  EXPECT_EQ(SimState("plain", "(c[\"text\"][\"text\"], c[\"text\"][\"modeByte\"], c[\"text\"][\"lastForm\"])"),
            "('A TEXT OF FORTY CHARACTERS, TOO LONG FOR', 130, 'long')");
}

TEST_F(OtherPageE2eTest, RefusedTextIsReportedOnce) {
  ClickClock(kSensorClock);
  ASSERT_EQ(Control("sensor", "faults refuse=true"), 0);
  ReplaceText("WORLD");

  const int mark = RecordLines("sensor");
  Modify();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Modify failed!"}));
  EXPECT_EQ(ModifyCodesSince("sensor", mark), "9,11");
  EXPECT_EQ(SimState("sensor", "c[\"text\"][\"text\"]"), "HELLO");
  EXPECT_EQ(SimState("sensor", "c[\"display\"][\"countdownStart\"]"), "[8, 30, 0]");
}

}  // namespace
}  // namespace marindo::e2e
