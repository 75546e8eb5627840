// The bell tab against a simulated clock on the test LAN: the schedule read
// with code 0x04 shows in the rows, two bells edited on different sub-pages
// go back with code 0x08, and the clock stores exactly those changes. Runs
// inside the tool's namespace (see tests/e2e/CMakeLists.txt).

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QTabWidget>

#include "E2eSupport.h"
#include "WindowModify.h"
#include "bells/Bell.h"
#include "link/CommandCodes.h"

namespace marindo::e2e {
namespace {

constexpr std::uint32_t kBellTower = 0x0AD5001E;  // 10.213.0.30
const std::string kSim = "belltower";

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Bytes StoredTable() { return FromHex(SimState(kSim, "c[\"bells\"][\"hex\"]")); }

// Bell numbers whose six bytes differ between two tables.
std::set<int> ChangedBells(const Bytes& before, const Bytes& after) {
  std::set<int> changed;
  for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
    if (before[i] != after[i]) changed.insert(static_cast<int>(i / BellEntry::kSize) + 1);
  }
  return changed;
}

Bytes BellBytes(const Bytes& table, int bell) {
  const auto from = table.begin() + (bell - 1) * static_cast<int>(BellEntry::kSize);
  return Bytes(from, from + static_cast<int>(BellEntry::kSize));
}

class BellsE2eTest : public ::testing::Test {
 protected:
  BellsE2eTest()
      : settings_(RunFolder() / ("settings-bells-" +
                                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                                 ".ini")),
        names_(settings_, CodePage::Cp1252) {
    std::filesystem::remove(settings_);
  }

  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    ASSERT_EQ(Control(kSim, "reset"), 0);
    link_ = std::make_unique<ClockLink>(LinkServices{adapters_, neighbours_, probe_, names_});
    ASSERT_TRUE(link_->Bound());
    bell_ = std::make_unique<Bell>(link_->Clocks(), selection_, notifier_);
    bell_->show();
  }

  // What the main window does for the bell tab: search the clock, select it,
  // empty the rows, read the schedule and show it.
  void OpenBellTab() {
    ASSERT_TRUE(link_->SearchUnicast(kBellTower));
    selection_.selected = kBellTower;
    for (int page = 0; page < Bell::kPages; ++page) bell_->Page(page).ClearBellRows();
    ASSERT_TRUE(link_->Query(kBellTower, code::kQueryBells));
    bell_->ShowClockBells(kBellTower);
  }

  template <typename Control>
  Control* Find(int bell, const char* role) {
    BellPage& page = bell_->Page((bell - 1) / BellPage::kRows);
    const int row = (bell - 1) % BellPage::kRows + 1;
    auto* control = page.findChild<Control*>(QStringLiteral("%1_%2").arg(QLatin1String(role)).arg(row));
    EXPECT_NE(control, nullptr) << role << " of bell " << bell;
    return control;
  }

  void Pick(int bell, const char* role, const char* text) {
    QComboBox* list = Find<QComboBox>(bell, role);
    const int item = list->findText(QString::fromLatin1(text));
    ASSERT_GE(item, 0) << text;
    list->setCurrentIndex(item);
  }

  void SetBox(int bell, const char* role, bool checked) {
    QCheckBox* box = Find<QCheckBox>(bell, role);
    if (box->isChecked() != checked) box->click();
  }

  void ShowSubPage(int index) { bell_->findChild<QTabWidget*>("bellTabs")->setCurrentIndex(index); }

  void Modify() { ModifyAsTheWindow(*link_, selection_.selected, bell_->BuildBellWrite(), notifier_); }

  std::filesystem::path settings_;
  ClockNames names_;
  RecordingNotifier notifier_;
  Selection selection_;
  SystemAdapters adapters_;
  SystemNeighbours neighbours_;
  TcpPortProbe probe_;
  std::unique_ptr<ClockLink> link_;
  std::unique_ptr<Bell> bell_;
};

TEST_F(BellsE2eTest, ClockScheduleShowsInTheRows) {
  OpenBellTab();
  const std::vector<std::pair<int, BellEntry>> shown{
      {1, {0, 7, 30, 0, 0xBE, 5}},   {2, {1, 0, 0, 0, 0, 0}},      {3, {2, 8, 0, 0, 0x81, 4}},
      {12, {11, 12, 0, 0, 0xFF, 10}}, {27, {26, 16, 45, 30, 0x40, 6}}, {30, {29, 23, 59, 59, 0xC0, 15}},
  };
  for (const auto& [bell, entry] : shown) {
    EXPECT_EQ(bell_->Page((bell - 1) / 10).Row((bell - 1) % 10), RowFromEntry(entry)) << "bell " << bell;
  }
  EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(BellsE2eTest, TwoBellsEditedOnDifferentSubPagesAreAllThatChanges) {
  OpenBellTab();
  const Bytes before = StoredTable();
  ASSERT_EQ(before.size(), 180u);
  const int writesBefore = ReceivedCount(kSim, code::kModifyBells);

  // Bell 3 on the first sub-page: 09:15:00 on Monday and Wednesday for 8 s.
  Pick(3, "hour", "9");
  Pick(3, "minute", "15");
  SetBox(3, "sun", false);
  SetBox(3, "mon", true);
  SetBox(3, "wed", true);
  Pick(3, "duration", "8");
  // Bell 27 on the third sub-page: switched on, Sunday added, 12 s.
  ShowSubPage(2);
  SetBox(27, "enable", true);
  SetBox(27, "sun", true);
  Pick(27, "duration", "12");
  ShowSubPage(0);

  Modify();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Modify success!"}));
  EXPECT_EQ(ReceivedCount(kSim, code::kModifyBells) - writesBefore, 1);
  const Bytes after = StoredTable();
  EXPECT_EQ(ChangedBells(before, after), (std::set<int>{3, 27}));
  EXPECT_EQ(BellBytes(after, 3), (Bytes{0x02, 0x09, 0x0F, 0x00, 0x8A, 0x08}));
  EXPECT_EQ(BellBytes(after, 27), (Bytes{0x1A, 0x10, 0x2D, 0x1E, 0xC1, 0x0C}));

  // A fresh read shows the clock's new schedule.
  OpenBellTab();
  EXPECT_EQ(bell_->Page(0).Row(2), RowFromEntry({2, 9, 15, 0, 0x8A, 8}));
  EXPECT_EQ(bell_->Page(2).Row(6), RowFromEntry({26, 16, 45, 30, 0xC1, 12}));
}

TEST_F(BellsE2eTest, ClockThatRefusesTheWriteKeepsItsSchedule) {
  OpenBellTab();
  const Bytes before = StoredTable();
  ASSERT_EQ(Control(kSim, "faults refuse=true"), 0);
  ShowSubPage(1);
  Pick(12, "duration", "3");
  Modify();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Modify failed!"}));
  EXPECT_EQ(StoredTable(), before);
}

TEST_F(BellsE2eTest, RefusedRowSendsNothing) {
  OpenBellTab();
  const int writesBefore = ReceivedCount(kSim, code::kModifyBells);
  SetBox(5, "tue", true);  // a day but no duration
  Modify();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Please set duration for bell 5"}));
  EXPECT_EQ(ReceivedCount(kSim, code::kModifyBells), writesBefore);
}

}  // namespace
}  // namespace marindo::e2e
