// The bell tab on the offscreen platform: its three sub-pages, the emptying
// and filling of rows, "Clean", and the write built from what the rows show.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>

#include "bells/Bell.h"

namespace marindo {
namespace {

constexpr std::uint32_t kClock = 0x0A000005;
using Bytes = std::vector<std::uint8_t>;
using Messages = std::vector<std::string>;
constexpr std::array<const char*, kDaysPerWeek> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

class RecordingNotifier : public Notifier {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  Messages messages;
};

class FakeSelection : public ClockSelection {
 public:
  explicit FakeSelection(ClockList& clocks) : clocks_(clocks) {}
  std::optional<std::uint32_t> SelectedClockIp() const override { return selected; }
  ClockRecord* SelectedRecord() override { return selected ? clocks_.FindByIp(*selected) : nullptr; }
  std::optional<std::uint32_t> selected;

 private:
  ClockList& clocks_;
};

// The controls of one bell's row, found by their object names.
struct RowView {
  QCheckBox* enable;
  QComboBox* hour;
  QComboBox* minute;
  QComboBox* second;
  std::array<QCheckBox*, kDaysPerWeek> days;
  QComboBox* duration;
};

std::string Text(const QComboBox* list) {
  return list->currentIndex() < 0 ? "_" : list->currentText().toStdString();
}

class BellPageTest : public ::testing::Test {
 protected:
  BellPageTest() : selection_(clocks_), bell_(clocks_, selection_, notifier_) {
    ClockRecord record;
    record.ip = kClock;
    clocks_.Append(record);
    selection_.selected = kClock;
    bell_.resize(720, 440);
    bell_.show();
  }

  ClockRecord& Record() { return *clocks_.FindByIp(kClock); }
  void SetBell(int bell, const BellEntry& entry) { StoreBell(Record().bells, bell - 1, entry); }
  BellEntry StoredBell(int bell) { return BellAt(Record().bells, bell - 1); }
  BellPage& PageOf(int bell) { return bell_.Page((bell - 1) / BellPage::kRows); }
  QTabWidget* InnerTabs() { return bell_.findChild<QTabWidget*>("bellTabs"); }

  template <typename Control>
  Control* Find(BellPage& page, const char* role, int row) {
    auto* control = page.findChild<Control*>(QStringLiteral("%1_%2").arg(QLatin1String(role)).arg(row));
    EXPECT_NE(control, nullptr) << role << " " << row;
    return control;
  }

  RowView RowOf(int bell) {
    BellPage& page = PageOf(bell);
    const int row = (bell - 1) % BellPage::kRows + 1;
    RowView view{Find<QCheckBox>(page, "enable", row), Find<QComboBox>(page, "hour", row),
                 Find<QComboBox>(page, "minute", row),  Find<QComboBox>(page, "second", row),
                 {},                                    Find<QComboBox>(page, "duration", row)};
    for (std::size_t day = 0; day < kDays.size(); ++day) {
      view.days[day] = Find<QCheckBox>(page, QString::fromLatin1(kDays[day]).toLower().toLatin1().constData(), row);
    }
    return view;
  }

  // A row as the operator reads it, e.g. "on 23:59:59 Sat 15"; "_" is an
  // empty list.
  std::string Shown(int bell) {
    const RowView row = RowOf(bell);
    std::string days;
    for (std::size_t day = 0; day < kDays.size(); ++day) {
      if (row.days[day]->isChecked()) days += days.empty() ? kDays[day] : std::string(",") + kDays[day];
    }
    return std::string(row.enable->isChecked() ? "on " : "off ") + Text(row.hour) + ":" + Text(row.minute) + ":" +
           Text(row.second) + " " + (days.empty() ? "-" : days) + " " + Text(row.duration);
  }

  // "all" or "none" of the row's controls but its enable box are usable.
  std::string Usable(int bell) {
    const RowView row = RowOf(bell);
    std::vector<QWidget*> rest{row.hour, row.minute, row.second, row.duration};
    rest.insert(rest.end(), row.days.begin(), row.days.end());
    int usable = 0;
    for (QWidget* control : rest) usable += control->isEnabled() ? 1 : 0;
    if (!row.enable->isEnabled()) return "enable box disabled";
    return usable == 0 ? "none" : usable == static_cast<int>(rest.size()) ? "all" : "mixed";
  }

  static void Pick(QComboBox* list, const char* text) {
    const int item = list->findText(QString::fromLatin1(text));
    ASSERT_GE(item, 0) << text;
    list->setCurrentIndex(item);
  }

  // Sets a row through its controls, as the operator would.
  void Edit(int bell, bool enabled, const char* hour, const char* minute, const char* second,
            std::initializer_list<int> days, const char* duration) {
    const RowView row = RowOf(bell);
    if (row.enable->isChecked() != enabled) row.enable->click();
    Pick(row.hour, hour);
    Pick(row.minute, minute);
    Pick(row.second, second);
    for (int day : days) {
      if (!row.days[static_cast<std::size_t>(day)]->isChecked()) row.days[static_cast<std::size_t>(day)]->click();
    }
    Pick(row.duration, duration);
  }

  Bytes Table() { return Bytes(Record().bells.begin(), Record().bells.end()); }

  ClockList clocks_;
  RecordingNotifier notifier_;
  FakeSelection selection_;
  Bell bell_;
};

TEST_F(BellPageTest, ThreeInnerTabsOfTenNumberedRowsWithTheirListsAndHeadings) {
  QTabWidget* tabs = InnerTabs();
  ASSERT_NE(tabs, nullptr);
  ASSERT_EQ(tabs->count(), 3);
  const std::array<const char*, 3> titles{" Bells 1-10", " Bells 11-20", " Bells 21-30"};
  const std::array<const char*, 3> names{"Bell1", "Bell2", "Bell3"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(tabs->tabText(i).toStdString(), titles[static_cast<std::size_t>(i)]);
    EXPECT_EQ(tabs->widget(i), &bell_.Page(i));
    EXPECT_EQ(bell_.Page(i).objectName().toStdString(), names[static_cast<std::size_t>(i)]);
    EXPECT_EQ(bell_.Page(i).FirstBell(), 1 + 10 * i);
    auto* clean = bell_.Page(i).findChild<QPushButton*>("clean");
    ASSERT_NE(clean, nullptr);
    EXPECT_EQ(clean->text(), "Clean");
    std::vector<std::string> headings;
    for (const char* name : {"enableHeading", "startTimeHeading", "whatDayHeading", "durationHeading"}) {
      headings.push_back(bell_.Page(i).findChild<QLabel*>(name)->text().toStdString());
    }
    EXPECT_EQ(headings, (std::vector<std::string>{"Enable", "Start Time", "What Day", "Duration(Seconds)"}));
  }
  EXPECT_EQ(tabs->currentIndex(), 0);

  auto items = [](const QComboBox* list) {
    std::vector<std::string> texts;
    for (int i = 0; i < list->count(); ++i) texts.push_back(list->itemText(i).toStdString());
    return texts;
  };
  auto numbers = [](int first, int last) {
    std::vector<std::string> texts;
    for (int n = first; n <= last; ++n) texts.push_back(std::to_string(n));
    return texts;
  };
  for (int bell = 1; bell <= kBellCount; ++bell) {
    SCOPED_TRACE(bell);
    const RowView row = RowOf(bell);
    EXPECT_EQ(row.enable->text().toStdString(), std::to_string(bell));
    for (std::size_t day = 0; day < kDays.size(); ++day) EXPECT_EQ(row.days[day]->text(), kDays[day]);
    EXPECT_EQ(items(row.hour), numbers(0, 23));
    EXPECT_EQ(items(row.minute), numbers(0, 59));
    EXPECT_EQ(items(row.second), numbers(0, 59));
    EXPECT_EQ(items(row.duration), numbers(3, 15));
    EXPECT_FALSE(row.hour->isEditable());
    // Before the main window first empties them, rows are blank and usable.
    EXPECT_EQ(Shown(bell), "off _:_:_ - _");
    EXPECT_EQ(Usable(bell), "all");
  }
}

TEST_F(BellPageTest, ClockBellsShowInTheirRowsOnTheirSubPages) {
  SetBell(1, {0, 7, 30, 0, 0xBE, 5});
  SetBell(2, {1, 0, 0, 0, 0x02, 10});
  SetBell(12, {11, 0, 0, 0, 0x02, 10});
  SetBell(24, {0x55, 23, 59, 59, 0xC0, 15});  // the index byte is not the row's
  SetBell(5, {4, 24, 61, 59, 0x81, 2});        // outside every list
  for (int page = 0; page < 3; ++page) bell_.Page(page).ClearBellRows();
  bell_.ShowClockBells(kClock);

  EXPECT_EQ(Shown(1), "on 7:30:0 Mon,Tue,Wed,Thu,Fri 5");
  EXPECT_EQ(Shown(2), "off 0:0:0 Mon 10");
  EXPECT_EQ(Shown(12), "off 0:0:0 Mon 10");
  EXPECT_EQ(Shown(24), "on 23:59:59 Sat 15");
  EXPECT_EQ(Shown(5), "on _:_:59 Sun _");
  EXPECT_EQ(Shown(30), "off 0:0:0 - _");
  for (int bell = 1; bell <= kBellCount; ++bell) EXPECT_EQ(Usable(bell), "all") << bell;
  EXPECT_TRUE(notifier_.messages.empty());
}

// The tab shows the rows decoded from the clock's bells and reads the same
// rows back, values no list offers included.
TEST_F(BellPageTest, ShownRowsReadBackUnchanged) {
  SetBell(1, {0, 7, 30, 0, 0xBE, 5});
  SetBell(10, {9, 23, 59, 59, 0x7F, 15});
  SetBell(11, {10, 24, 60, 61, 0x81, 2});
  SetBell(30, {29, 0, 0, 0, 0x80, 16});
  for (int page = 0; page < 3; ++page) bell_.Page(page).ClearBellRows();
  bell_.ShowClockBells(kClock);
  BellRows read{};
  bell_.ReadModel(read);
  EXPECT_EQ(read, BellRowsFromRecord(Record()));
}

TEST_F(BellPageTest, ClearedRowsKeepOnlyTheirEnableBoxesUsable) {
  SetBell(3, {2, 7, 30, 0, 0xBE, 5});
  bell_.ShowClockBells(kClock);
  for (int page = 0; page < 3; ++page) bell_.Page(page).ClearBellRows();
  for (int bell = 1; bell <= kBellCount; ++bell) {
    EXPECT_EQ(Shown(bell), "off _:_:_ - _") << bell;
    EXPECT_EQ(Usable(bell), "none") << bell;
  }
  EXPECT_TRUE(RowOf(3).hour->currentText().isEmpty());
  // Ticking an enable box leaves the rest of its row as it was.
  RowOf(3).enable->click();
  EXPECT_EQ(Shown(3), "on _:_:_ - _");
  EXPECT_EQ(Usable(3), "none");
  bell_.ShowClockBells(kClock);
  RowOf(3).enable->click();
  EXPECT_EQ(Usable(3), "all");
}

TEST_F(BellPageTest, ClockThatLeftTheListLeavesTheRowsEmptied) {
  SetBell(1, {0, 7, 30, 0, 0xBE, 5});
  for (int page = 0; page < 3; ++page) bell_.Page(page).ClearBellRows();
  bell_.ShowClockBells(kClock + 1);
  EXPECT_EQ(Shown(1), "off _:_:_ - _");
  EXPECT_EQ(Usable(1), "none");
}

TEST_F(BellPageTest, WriteCarriesTheEditedRowsOfEverySubPage) {
  bell_.ShowClockBells(kClock);
  Edit(1, true, "7", "30", "0", {1, 2, 3, 4, 5}, "5");
  Edit(27, false, "18", "5", "9", {0, 6}, "12");
  const std::optional<ClockFrame> frame = bell_.BuildBellWrite();
  ASSERT_TRUE(frame);
  const auto bytes = frame->Bytes();
  ASSERT_EQ(bytes.size(), 187u);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 5), (Bytes{0x51, 0x4B, 0x80, 0xB5, 0x08}));
  EXPECT_EQ(Bytes(bytes.begin() + 5, bytes.begin() + 11), (Bytes{0x00, 0x07, 0x1E, 0x00, 0xBE, 0x05}));
  EXPECT_EQ(Bytes(bytes.begin() + 5 + 26 * 6, bytes.begin() + 11 + 26 * 6), (Bytes{26, 18, 5, 9, 0x41, 12}));
  EXPECT_EQ(Bytes(bytes.begin() + 179, bytes.begin() + 185), (Bytes{0x1D, 0, 0, 0, 0, 0}));
  // The rows went into the clock's record too.
  EXPECT_EQ(Bytes(bytes.begin() + 5, bytes.begin() + 185), Table());
  EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(BellPageTest, RefusedRowIsReportedByItsBellNumberAndNothingIsBuilt) {
  struct Case {
    int bell;
    bool enabled;
    std::initializer_list<int> days;
    const char* duration;  // null: none picked
    const char* message;
  };
  const Case cases[] = {
      {12, false, {0}, nullptr, "Please set duration for bell 12"},
      {25, false, {}, "10", "Please select a day of the week for bell 25"},
      {7, true, {}, nullptr, "Please set duration for bell 7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bell);
    notifier_.messages.clear();
    Record().bells.fill(0);  // the refused rows of the case before stay in the record
    for (int page = 0; page < 3; ++page) bell_.Page(page).ClearBellRows();
    bell_.ShowClockBells(kClock);
    const RowView row = RowOf(c.bell);
    if (c.enabled) row.enable->click();
    for (int day : c.days) row.days[static_cast<std::size_t>(day)]->click();
    if (c.duration != nullptr) Pick(row.duration, c.duration);
    EXPECT_FALSE(bell_.BuildBellWrite());
    EXPECT_EQ(notifier_.messages, Messages{c.message});
  }
}

TEST_F(BellPageTest, RefusedBellLeavesEarlierBellsWrittenAndLaterOnesAsTheyWere) {
  bell_.ShowClockBells(kClock);  // 30 empty rows
  Edit(3, true, "6", "45", "0", {1}, "4");
  RowOf(15).days[0]->click();  // Sunday, no duration
  Edit(16, true, "9", "0", "0", {2}, "3");
  Record().bells.fill(0xEE);  // whatever the clock held since
  EXPECT_FALSE(bell_.BuildBellWrite());
  EXPECT_EQ(notifier_.messages, Messages{"Please set duration for bell 15"});
  for (int bell = 1; bell <= 14; ++bell) {
    const BellEntry expected = bell == 3 ? BellEntry{2, 6, 45, 0, 0x82, 4}
                                         : BellEntry{static_cast<std::uint8_t>(bell - 1), 0, 0, 0, 0, 0};
    EXPECT_EQ(StoredBell(bell), expected) << bell;
  }
  EXPECT_EQ(StoredBell(15), (BellEntry{14, 0, 0, 0, 0x01, 0}));
  const Bytes table = Table();
  EXPECT_EQ(Bytes(table.begin() + 15 * 6, table.end()), Bytes(15 * 6, 0xEE));
}

TEST_F(BellPageTest, NoSelectedClockBuildsNothingAndSaysNothing) {
  for (int page = 0; page < 3; ++page) bell_.Page(page).ClearBellRows();
  RowOf(1).enable->click();
  RowOf(30).enable->click();
  for (std::optional<std::uint32_t> selected : {std::optional<std::uint32_t>{}, std::optional(kClock + 1)}) {
    selection_.selected = selected;
    EXPECT_FALSE(bell_.BuildBellWrite());
  }
  EXPECT_TRUE(notifier_.messages.empty());
  EXPECT_EQ(Table(), Bytes(180, 0));
}

TEST_F(BellPageTest, CleanEmptiesItsOwnSubPageOnlyAndTheNextWriteSendsEmptyBells) {
  for (int bell = 1; bell <= kBellCount; ++bell) {
    SetBell(bell, {static_cast<std::uint8_t>(bell - 1), static_cast<std::uint8_t>(bell % 24), 10, 20, 0x94, 6});
  }
  bell_.ShowClockBells(kClock);
  const Bytes before = Table();
  InnerTabs()->setCurrentIndex(1);
  QTest::mouseClick(bell_.Page(1).findChild<QPushButton*>("clean"), Qt::LeftButton);

  for (int bell = 1; bell <= kBellCount; ++bell) {
    SCOPED_TRACE(bell);
    const bool cleaned = bell >= 11 && bell <= 20;
    EXPECT_EQ(Shown(bell), cleaned ? "off _:_:_ - _" : "on " + std::to_string(bell % 24) + ":10:20 Tue,Thu 6");
    EXPECT_EQ(Usable(bell), "all");
  }
  EXPECT_EQ(Table(), before);  // nothing reaches the record before a write

  ASSERT_TRUE(bell_.BuildBellWrite());
  for (int bell = 1; bell <= kBellCount; ++bell) {
    const auto index = static_cast<std::uint8_t>(bell - 1);
    const bool cleaned = bell >= 11 && bell <= 20;
    const BellEntry expected = cleaned ? BellEntry{index, 0, 0, 0, 0, 0}
                                       : BellEntry{index, static_cast<std::uint8_t>(bell % 24), 10, 20, 0x94, 6};
    EXPECT_EQ(StoredBell(bell), expected) << bell;
  }
}

TEST_F(BellPageTest, CleanLeavesEmptiedRowsUnusable) {
  for (int page = 0; page < 3; ++page) bell_.Page(page).ClearBellRows();
  RowOf(1).enable->click();
  bell_.Page(0).CleanBellRows();
  EXPECT_EQ(Shown(1), "off _:_:_ - _");
  EXPECT_EQ(Usable(1), "none");
}

TEST_F(BellPageTest, InnerTabSwitchesKeepEdits) {
  bell_.ShowClockBells(kClock);
  Edit(4, true, "12", "0", "30", {3}, "9");
  Edit(23, false, "1", "2", "3", {6}, "3");
  InnerTabs()->setCurrentIndex(2);
  EXPECT_TRUE(bell_.Page(2).isVisible());
  EXPECT_FALSE(bell_.Page(0).isVisible());
  EXPECT_FALSE(bell_.Page(1).isVisible());
  InnerTabs()->setCurrentIndex(0);
  EXPECT_TRUE(bell_.Page(0).isVisible());
  EXPECT_FALSE(bell_.Page(2).isVisible());
  EXPECT_EQ(Shown(4), "on 12:0:30 Wed 9");
  EXPECT_EQ(Shown(23), "off 1:2:3 Sat 3");
}

TEST_F(BellPageTest, ValuesOutsideTheListsComeBackAsNoneOnTheNextWrite) {
  SetBell(8, {7, 24, 15, 0, 0x81, 5});   // hour 24
  SetBell(9, {8, 10, 15, 0, 0x81, 2});   // duration 2
  bell_.ShowClockBells(kClock);
  EXPECT_EQ(Shown(8), "on _:15:0 Sun 5");
  EXPECT_EQ(Shown(9), "on 10:15:0 Sun _");
  EXPECT_FALSE(bell_.BuildBellWrite());
  EXPECT_EQ(notifier_.messages, Messages{"Please set duration for bell 9"});
  EXPECT_EQ(StoredBell(8), (BellEntry{7, 0, 15, 0, 0x81, 5}));
}

// Enter on a focused "Clean" inside a dialog must not press it.
TEST_F(BellPageTest, EnterOnTheCleanButtonDoesNothing) {
  QDialog dialog;
  auto* layout = new QVBoxLayout(&dialog);
  ClockList clocks;
  FakeSelection selection(clocks);
  auto* hosted = new Bell(clocks, selection, notifier_);
  layout->addWidget(hosted);
  dialog.show();
  hosted->Page(0).FillBellRows({BellEntry{0, 7, 30, 0, 0xBE, 5}});
  auto* clean = hosted->Page(0).findChild<QPushButton*>("clean");
  clean->setFocus();
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(clean, key);
  EXPECT_EQ(hosted->Page(0).Row(0), RowFromEntry({0, 7, 30, 0, 0xBE, 5}));
}

}  // namespace
}  // namespace marindo
