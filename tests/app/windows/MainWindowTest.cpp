// The main window against scripted clocks on loopback addresses: what the
// tree shows after a search, what each click and tab change sends, renaming,
// and the controls' states.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <tuple>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "app/CAboutDlg.h"
#include "app/CMarindoDlg.h"
#include "app/windows/WidgetTestSupport.h"
#include "clocks/ClockNames.h"
#include "link/CommandCodes.h"
#include "settings/ModifyMessages.h"
#include "siteview/SiteTableModel.h"
#include "siteview/SiteView.h"
#include "widgets/Ipv4Edit.h"

namespace marindo {
namespace {

using namespace std::chrono_literals;
using testing::FakeAdapters;
using testing::FakeNeighbours;
using testing::FakeProbe;
using testing::ModalDriver;
using testing::RecordingNotifier;
using testing::ScriptedClock;
using testing::TempSettings;
using Codes = std::vector<std::uint8_t>;

constexpr std::uint32_t kClockA = 0x7F000002;  // 127.0.0.2
constexpr std::uint32_t kClockB = 0x7F000003;
constexpr std::uint32_t kClockC = 0x7F000004;

MacAddress MacOf(std::uint32_t ip) { return {0x00, 0x1A, 0x2B, 0x3C, 0x4D, static_cast<std::uint8_t>(ip & 0xFF)}; }

class MainWindowTest : public ::testing::Test {
 protected:
  // Clocks answer on one port, each on its own loopback address; the window's
  // broadcast list holds every one of those addresses.
  ScriptedClock& AddClock(std::uint32_t ip, const std::string& serial, std::uint8_t firmwareMajor = 4) {
    const std::uint16_t port = clocks_.empty() ? 0 : clocks_.front()->Port();
    clocks_.push_back(std::make_unique<ScriptedClock>(ip, port, serial, firmwareMajor));
    adapters_.AddLoopbackHost(ip);
    neighbours_.macs[ip] = MacOf(ip);
    return *clocks_.back();
  }

  CMarindoDlg& Open() {
    const std::uint16_t port = clocks_.empty() ? 9 : clocks_.front()->Port();
    window_ = std::make_unique<CMarindoDlg>(PlatformServices{notifier_, adapters_, neighbours_, probe_},
                                            settings_.Path(), testing::LoopbackTimings(port));
    window_->show();
    window_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    return *window_;
  }

  template <class T>
  T* Child(const char* name) const {
    T* child = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  QTreeWidget* Tree() const { return Child<QTreeWidget>("clockTree"); }
  QTabWidget* Tabs() const { return Child<QTabWidget>("pageTabs"); }
  QTreeWidgetItem* Root() const { return Tree()->topLevelItem(0); }
  bool Editing() const { return Tree()->indexWidget(Tree()->currentIndex()) != nullptr; }

  std::vector<QString> ChildLabels() const {
    std::vector<QString> labels;
    for (int i = 0; Root() != nullptr && i < Root()->childCount(); ++i) labels.push_back(Root()->child(i)->text(0));
    return labels;
  }

  void SearchBroadcast() {
    Child<QRadioButton>("broadcastRadio")->click();
    Child<QPushButton>("searchButton")->click();
  }

  void SearchUnicast(std::uint32_t ip) {
    Child<QRadioButton>("unicastRadio")->click();
    Child<Ipv4Edit>("addressField")->SetAddress(ip);
    Child<QPushButton>("searchButton")->click();
  }

  // A click on an item the tree shows as selected would also start a label
  // edit, as the operator's second click does; these clicks are first clicks.
  void ClickItem(const QTreeWidgetItem* item) {
    Tree()->clearSelection();
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualItemRect(item).center());
  }

  QTreeWidgetItem* ItemOf(const QString& label) const {
    const auto found = Tree()->findItems(label, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
  }

  // Everything the clocks received since the marks, after a moment in which
  // anything still on its way would have arrived.
  Codes SentSince(const std::vector<std::size_t>& marks) const {
    QTest::qWait(50);
    Codes codes;
    for (std::size_t i = 0; i < clocks_.size(); ++i) {
      const Codes more = clocks_[i]->CodesSince(marks[i]);
      codes.insert(codes.end(), more.begin(), more.end());
    }
    return codes;
  }

  // What clock `index` (in the order added) received since the marks.
  Codes SentTo(std::size_t index, const std::vector<std::size_t>& marks) const {
    QTest::qWait(50);
    return clocks_[index]->CodesSince(marks[index]);
  }

  void ClickModify() { Child<QPushButton>("modifyButton")->click(); }

  static ClockRecord ClockOf(const std::string& serial, std::uint32_t ip) {
    ClockRecord record;
    std::memcpy(record.serial.data(), serial.data(), serial.size());
    record.mac = MacOf(ip);
    return record;
  }

  void StoreName(std::uint32_t ip, const std::string& serial, const std::string& name) {
    ASSERT_TRUE(ClockNames(settings_.Path(), CodePage::Cp1252).Store(ClockOf(serial, ip), name));
  }

  std::vector<std::size_t> Marks() const {
    std::vector<std::size_t> marks;
    for (const auto& clock : clocks_) marks.push_back(clock->Mark());
    return marks;
  }

  TempSettings settings_;
  RecordingNotifier notifier_;
  FakeAdapters adapters_;
  FakeNeighbours neighbours_;
  FakeProbe probe_;
  std::vector<std::unique_ptr<ScriptedClock>> clocks_;
  std::unique_ptr<CMarindoDlg> window_;
};

TEST_F(MainWindowTest, OpensWithItsCaptionTabsAndBroadcastChecked) {
  CMarindoDlg& window = Open();
  EXPECT_EQ(window.windowTitle(), "Quellan_V4_1.96");
  std::vector<QString> labels;
  for (int i = 0; i < Tabs()->count(); ++i) labels.push_back(Tabs()->tabText(i));
  EXPECT_EQ(labels, (std::vector<QString>{"Basic  Info", "NTPs Info", "Other Info", "Bell  Info", "System  Info",
                                          "Log Info"}));
  EXPECT_EQ(Tabs()->currentIndex(), 0);
  EXPECT_EQ(Tree()->topLevelItemCount(), 0);
  EXPECT_TRUE(Child<QRadioButton>("broadcastRadio")->isChecked());
  EXPECT_FALSE(Child<Ipv4Edit>("addressField")->isEnabled());
  Child<QRadioButton>("unicastRadio")->click();
  EXPECT_FALSE(Child<QRadioButton>("broadcastRadio")->isChecked());
  EXPECT_TRUE(Child<Ipv4Edit>("addressField")->isEnabled());
  Child<QRadioButton>("broadcastRadio")->click();
  EXPECT_FALSE(Child<Ipv4Edit>("addressField")->isEnabled());
  EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(MainWindowTest, BroadcastSearchShowsTheTotalAndSortedLabels) {
  // Stored names make the sorted order differ from the order of discovery.
  ClockNames names(settings_.Path(), CodePage::Cp1252);
  const std::vector<std::tuple<std::uint32_t, std::string, std::string>> clocks{
      {kClockA, "SER-A", "Zulu hall"}, {kClockB, "SER-B", "alpha gate"}, {kClockC, "SER-C", "Mike office"}};
  for (const auto& [ip, serial, name] : clocks) {
    AddClock(ip, serial);
    ClockRecord record;
    std::memcpy(record.serial.data(), serial.data(), serial.size());
    record.mac = MacOf(ip);
    ASSERT_TRUE(names.Store(record, name));
  }
  Open();
  SearchBroadcast();
  ASSERT_NE(Root(), nullptr);
  EXPECT_EQ(Root()->text(0), "IP(SN)Total:3");
  EXPECT_TRUE(Root()->isExpanded());
  EXPECT_EQ(ChildLabels(), (std::vector<QString>{"alpha gate", "Mike office", "Zulu hall"}));
  EXPECT_TRUE(Child<QPushButton>("searchButton")->isEnabled());
  EXPECT_TRUE(Tree()->isEnabled());
}

TEST_F(MainWindowTest, SearchesThatFindNothingOrUnicastLeaveTheRootTextAlone) {
  AddClock(kClockA, "SER-A");
  Open();
  SearchUnicast(kClockA);
  EXPECT_EQ(Root()->text(0), "IP(SN)");
  EXPECT_EQ(ChildLabels(), (std::vector<QString>{"127.0.0.2 (SER-A)"}));

  SearchUnicast(kClockB);  // nobody there
  EXPECT_EQ(Root()->text(0), "IP(SN)");
  EXPECT_EQ(Root()->childCount(), 0);
}

TEST_F(MainWindowTest, BroadcastWithoutAnyClockShowsTheBareRoot) {
  Open();  // no adapters: nothing to broadcast to
  SearchBroadcast();
  ASSERT_EQ(Tree()->topLevelItemCount(), 1);
  EXPECT_EQ(Root()->text(0), "IP(SN)");
  EXPECT_EQ(Root()->childCount(), 0);
}

TEST_F(MainWindowTest, UnicastToABlankAddressSearchesNothingAndKeepsTheList) {
  AddClock(kClockA, "SER-A");
  CMarindoDlg& window = Open();
  SearchUnicast(kClockA);
  const auto marks = Marks();
  Child<Ipv4Edit>("addressField")->ClearAddress();
  Child<QPushButton>("searchButton")->click();
  EXPECT_TRUE(SentSince(marks).empty());
  EXPECT_EQ(Root()->text(0), "IP(SN)");
  EXPECT_EQ(Root()->childCount(), 0);
  EXPECT_EQ(window.Link().Clocks().Count(), 1u);
  EXPECT_TRUE(Child<QPushButton>("searchButton")->isEnabled());
}

struct TabCase {
  int tab;
  std::uint8_t firmwareMajor;  // 4 and above: the newer platform
  Codes onClick;
  Codes onTabChange;
};

void PrintTo(const TabCase& c, std::ostream* out) {
  *out << "tab " << c.tab << ", firmware " << int{c.firmwareMajor};
}

class TabQueriesTest : public MainWindowTest, public ::testing::WithParamInterface<TabCase> {};

TEST_P(TabQueriesTest, ClickAndTabChangeSendTheTabsQueriesOnlyWithASelectedClock) {
  const TabCase& c = GetParam();
  AddClock(kClockA, "SER-A", c.firmwareMajor);
  CMarindoDlg& window = Open();
  SearchUnicast(kClockA);
  ASSERT_EQ(window.Link().FindByIp(kClockA)->newPlatform, c.firmwareMajor >= 4);

  auto marks = Marks();
  Tabs()->setCurrentIndex(c.tab);
  EXPECT_EQ(SentSince(marks), Codes{}) << "no clock is selected yet";

  marks = Marks();
  ClickItem(Root()->child(0));
  EXPECT_EQ(window.SelectedClockIp(), kClockA);
  EXPECT_EQ(SentSince(marks), c.onClick);

  // The Log tab sends nothing, so it is the way round to any other tab.
  const int other = c.tab == CMarindoDlg::kTabLog ? CMarindoDlg::kTabServers : CMarindoDlg::kTabLog;
  Tabs()->setCurrentIndex(other);
  marks = Marks();
  Tabs()->setCurrentIndex(c.tab);
  EXPECT_EQ(SentSince(marks), c.onTabChange);
  EXPECT_TRUE(notifier_.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Tabs, TabQueriesTest,
    ::testing::Values(TabCase{0, 4, {code::kSearch, 0x02}, {code::kSearch, 0x02}},
                      TabCase{1, 4, {0x03}, {0x03}},
                      TabCase{2, 4, {0x05, 0x0A, 0x10}, {0x05, 0x0A}},
                      TabCase{2, 1, {0x05, 0x0A}, {0x05, 0x0A}},
                      TabCase{3, 4, {0x04}, {0x04}},
                      TabCase{4, 4, {0x05}, {0x10}},
                      TabCase{4, 1, {0x05}, {}},
                      TabCase{5, 4, {}, {}}),
    [](const ::testing::TestParamInfo<TabCase>& p) {
      return "Tab" + std::to_string(p.param.tab) + (p.param.firmwareMajor >= 4 ? "New" : "Old");
    });

// Two items with one text stay two clocks: each click queries the clock
// clicked, and Modify writes that clock.
TEST_F(MainWindowTest, ItemsWithOneTextAreToldApartByAddress) {
  struct Case {
    const char* what;
    const char* nameOfA;
    const char* nameOfB;
  };
  const Case cases[] = {
      {"one name for both", "Hall clock", "Hall clock"},
      {"a name that is the other's default label", "127.0.0.3 (SER-B)", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clocks_.clear();
    AddClock(kClockA, "SER-A");
    AddClock(kClockB, "SER-B");
    StoreName(kClockA, "SER-A", c.nameOfA);
    ClockNames(settings_.Path(), CodePage::Cp1252).Store(ClockOf("SER-B", kClockB), c.nameOfB);
    CMarindoDlg& window = Open();
    SearchBroadcast();
    ASSERT_EQ(Root()->childCount(), 2);
    ASSERT_EQ(Root()->child(0)->text(0), Root()->child(1)->text(0));
    Tabs()->setCurrentIndex(CMarindoDlg::kTabServers);
    std::vector<std::uint32_t> chosen;
    for (int item = 0; item < 2; ++item) {
      auto marks = Marks();
      ClickItem(Root()->child(item));
      ASSERT_TRUE(window.SelectedClockIp());
      const std::uint32_t ip = *window.SelectedClockIp();
      chosen.push_back(ip);
      const std::size_t asked = ip == kClockA ? 0 : 1;
      EXPECT_EQ(SentTo(asked, marks), Codes{0x03});
      EXPECT_EQ(SentTo(1 - asked, marks), Codes{});

      marks = Marks();
      notifier_.messages.clear();
      ClickModify();
      EXPECT_EQ(SentTo(asked, marks), Codes{0x07});
      EXPECT_EQ(SentTo(1 - asked, marks), Codes{});
      EXPECT_EQ(notifier_.messages, std::vector<std::string>{kModifySuccess});
    }
    std::sort(chosen.begin(), chosen.end());
    EXPECT_EQ(chosen, (std::vector<std::uint32_t>{kClockA, kClockB}));
    window_.reset();
  }
}

// A name a Windows-era editor stored in its code page is read as text and
// its clock can be chosen like any other.
TEST_F(MainWindowTest, AClockWhoseNameIsNotUtf8CanBeChosen) {
  AddClock(kClockA, "SER-A");
  AddClock(kClockB, "SER-B");
  {
    std::ofstream ini(settings_.Path(), std::ios::binary | std::ios::app);
    ini << "[SER-B-00-1A-2B-3C-4D-03]\nname=Caf\xE9\n";
  }
  CMarindoDlg& window = Open();
  SearchBroadcast();
  QTreeWidgetItem* item = ItemOf(QString::fromUtf8("Caf\xC3\xA9"));
  ASSERT_NE(item, nullptr);
  ClickItem(item);
  EXPECT_EQ(window.SelectedClockIp(), kClockB);
}

struct UnreadCase {
  int tab;
  std::uint8_t silentOn;  // the query the clock leaves unanswered
};

class UnreadPageTest : public MainWindowTest, public ::testing::WithParamInterface<UnreadCase> {};

// A page whose query went unanswered shows no clock's values, and Modify
// would write its blanks over the clock's settings: it sends nothing.
TEST_P(UnreadPageTest, ModifySendsNothingAndSaysWhy) {
  ScriptedClock& clock = AddClock(kClockA, "SER-A");
  Open();
  SearchUnicast(kClockA);
  Tabs()->setCurrentIndex(GetParam().tab);
  clock.SetSilentOn(GetParam().silentOn);
  ClickItem(Root()->child(0));
  auto marks = Marks();
  ClickModify();
  EXPECT_EQ(SentSince(marks), Codes{});
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{kSettingsNotRead});
}

INSTANTIATE_TEST_SUITE_P(Tabs, UnreadPageTest,
                         ::testing::Values(UnreadCase{CMarindoDlg::kTabBasic, 0x02},
                                           UnreadCase{CMarindoDlg::kTabServers, 0x03},
                                           UnreadCase{CMarindoDlg::kTabOther, 0x05},
                                           UnreadCase{CMarindoDlg::kTabOther, 0x0A},
                                           UnreadCase{CMarindoDlg::kTabBell, 0x04}),
                         [](const ::testing::TestParamInfo<UnreadCase>& p) {
                           return "Tab" + std::to_string(p.param.tab) + "Code" + std::to_string(p.param.silentOn);
                         });

// A search clears the pages but keeps the selected clock: what the page
// showed before is gone, and nothing is written until the clock is read again.
TEST_F(MainWindowTest, AfterASearchNothingIsWrittenUntilTheClockIsReadAgain) {
  AddClock(kClockA, "SER-A");
  CMarindoDlg& window = Open();
  SearchUnicast(kClockA);
  Tabs()->setCurrentIndex(CMarindoDlg::kTabBell);
  ClickItem(Root()->child(0));
  EXPECT_EQ(window.ReadTab(), CMarindoDlg::kTabBell);
  SearchUnicast(kClockA);
  ASSERT_EQ(window.SelectedClockIp(), kClockA);
  auto marks = Marks();
  ClickModify();
  EXPECT_EQ(SentSince(marks), Codes{});
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{kSettingsNotRead});

  ClickItem(Root()->child(0));
  marks = Marks();
  notifier_.messages.clear();
  ClickModify();
  EXPECT_EQ(SentSince(marks), Codes{0x08});
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{kModifySuccess});
}

// While a silent clock keeps the window waiting, the window goes on painting
// and running its timers, and a click meanwhile does nothing.
TEST_F(MainWindowTest, TheWindowKeepsPaintingAndHoldsInputOffWhileItWaits) {
  ScriptedClock& clock = AddClock(kClockA, "SER-A");
  Open();
  SearchUnicast(kClockA);
  Tabs()->setCurrentIndex(CMarindoDlg::kTabServers);
  clock.SetSilentOn(0x03);
  bool waiting = false;
  bool ranWhileWaiting = false;
  QTimer::singleShot(50, window_.get(), [&] {
    ranWhileWaiting = waiting;
    QTabBar* bar = Tabs()->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(CMarindoDlg::kTabBell).center());
  });
  waiting = true;
  ClickItem(Root()->child(0));
  waiting = false;
  EXPECT_TRUE(ranWhileWaiting);
  EXPECT_EQ(Tabs()->currentIndex(), CMarindoDlg::kTabServers) << "the tab click came while the window waited";
  QTest::qWait(50);
  EXPECT_EQ(Tabs()->currentIndex(), CMarindoDlg::kTabServers) << "the tab click was kept for later";
}

// A message box that something pending brings up while the window waits
// takes the operator's click like any other: input is held off the waiting
// window only.
TEST_F(MainWindowTest, AMessageThatComesUpWhileTheWindowWaitsCanBeClosed) {
  ScriptedClock& clock = AddClock(kClockA, "SER-A");
  Open();
  SearchUnicast(kClockA);
  Tabs()->setCurrentIndex(CMarindoDlg::kTabServers);
  clock.SetSilentOn(0x03);
  QMessageBox box(QMessageBox::Information, "marindo", "came up while waiting", QMessageBox::Ok, window_.get());
  box.setWindowModality(Qt::ApplicationModal);
  QTimer::singleShot(30, window_.get(), [&box] { box.open(); });
  QTimer::singleShot(90, window_.get(), [&box] { QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton); });
  ClickItem(Root()->child(0));
  EXPECT_FALSE(box.isVisible()) << "the click on OK was dropped";
  EXPECT_EQ(box.result(), QMessageBox::Ok);
}

TEST_F(MainWindowTest, APortInUseIsReportedAndTheWindowStillOpens) {
  UdpSocket occupier;
  ASSERT_TRUE(occupier.Bind(0x7F000001, 0));
  LinkTimings timings = testing::LoopbackTimings(9);
  timings.localPort = occupier.LocalPort();
  CMarindoDlg window(PlatformServices{notifier_, adapters_, neighbours_, probe_}, settings_.Path(), timings);
  EXPECT_FALSE(window.Link().Bound());
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{kPortUnusable});
}

TEST_F(MainWindowTest, KeyboardMovesOfTheSelectionChooseNoClock) {
  AddClock(kClockA, "SER-A");
  AddClock(kClockB, "SER-B");
  CMarindoDlg& window = Open();
  SearchBroadcast();
  const auto marks = Marks();
  Tree()->setFocus();
  Tree()->setCurrentItem(Root());
  QTest::keyClick(Tree(), Qt::Key_Down);
  QTest::keyClick(Tree(), Qt::Key_Down);
  EXPECT_EQ(Tree()->currentItem(), Root()->child(1));
  EXPECT_EQ(window.SelectedClockIp(), std::nullopt);
  EXPECT_EQ(SentSince(marks), Codes{});
}

TEST_F(MainWindowTest, ClickOnEmptySpaceOrTheRootClearsTheSelection) {
  AddClock(kClockA, "SER-A");
  CMarindoDlg& window = Open();
  SearchUnicast(kClockA);
  Tabs()->setCurrentIndex(CMarindoDlg::kTabServers);
  const std::vector<std::pair<const char*, QPoint>> places{
      {"empty space", QPoint(10, Tree()->viewport()->height() - 5)},
      {"root", Tree()->visualItemRect(Root()).center()},
  };
  for (const auto& [place, point] : places) {
    SCOPED_TRACE(place);
    ClickItem(Root()->child(0));
    ASSERT_EQ(window.SelectedClockIp(), kClockA);
    QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, point);
    EXPECT_EQ(window.SelectedClockIp(), std::nullopt);
    const auto marks = Marks();
    Tabs()->setCurrentIndex(CMarindoDlg::kTabBell);
    Tabs()->setCurrentIndex(CMarindoDlg::kTabServers);
    EXPECT_EQ(SentSince(marks), Codes{});
  }
}

TEST_F(MainWindowTest, SelectionOutlivesASearchThatFindsTheClockAgainOnly) {
  AddClock(kClockA, "SER-A");
  AddClock(kClockB, "SER-B");
  CMarindoDlg& window = Open();
  SearchUnicast(kClockB);
  ClickItem(Root()->child(0));
  ASSERT_EQ(window.SelectedClockIp(), kClockB);

  SearchBroadcast();  // rebuilds the list; B is in it again
  EXPECT_EQ(window.SelectedClockIp(), kClockB);
  ASSERT_NE(window.SelectedRecord(), nullptr);
  EXPECT_EQ(window.SelectedRecord()->ip, kClockB);

  SearchUnicast(kClockA);  // B is gone from the list
  EXPECT_EQ(window.SelectedClockIp(), std::nullopt);
  EXPECT_EQ(window.SelectedRecord(), nullptr);
  const auto marks = Marks();
  Tabs()->setCurrentIndex(CMarindoDlg::kTabServers);
  EXPECT_EQ(SentSince(marks), Codes{});
}

TEST_F(MainWindowTest, ModifyDisablesTheControlsWhileItRunsOnEveryTab) {
  struct EnabledLog : QObject {
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (event->type() == QEvent::EnabledChange) {
        changes.emplace_back(watched->objectName(), static_cast<QWidget*>(watched)->isEnabled());
      }
      return false;
    }
    std::vector<std::pair<QString, bool>> changes;
  };
  CMarindoDlg& window = Open();
  for (int tab = 0; tab < CMarindoDlg::kTabCount; ++tab) {
    SCOPED_TRACE(tab);
    Tabs()->setCurrentIndex(tab);
    EnabledLog log;
    for (const char* name : {"modifyButton", "searchButton", "clockTree"}) Child<QWidget>(name)->installEventFilter(&log);
    Child<QPushButton>("modifyButton")->click();
    EXPECT_EQ(log.changes, (std::vector<std::pair<QString, bool>>{{"modifyButton", false},
                                                                  {"searchButton", false},
                                                                  {"clockTree", false},
                                                                  {"modifyButton", true},
                                                                  {"searchButton", true},
                                                                  {"clockTree", true}}));
    for (const char* name : {"modifyButton", "searchButton", "clockTree"}) Child<QWidget>(name)->removeEventFilter(&log);
  }
  EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindowTest, EnterAndEscapeCloseNeitherTheWindowNorAPage) {
  CMarindoDlg& window = Open();
  for (QWidget* target : {static_cast<QWidget*>(&window), Tabs()->currentWidget(), static_cast<QWidget*>(Tree())}) {
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(target, key);
  }
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.result(), 0);
}

TEST_F(MainWindowTest, AboutEntryOpensTheAboutBox) {
  CMarindoDlg& window = Open();
  QAction* about = nullptr;
  for (QAction* action : window.findChildren<QAction*>()) {
    if (action->text() == "About Quellan(&A)...") about = action;
  }
  ASSERT_NE(about, nullptr);
  ModalDriver driver;
  driver.Then<CAboutDlg>([](CAboutDlg* box) {
    EXPECT_EQ(box->windowTitle(), "About");
    std::vector<QString> texts;
    for (const QLabel* label : box->findChildren<QLabel*>()) texts.push_back(label->text());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Quellan_V4_1.96"), texts.end());
    const auto buttons = box->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons.front()->text(), QString::fromUtf8("确定"));
    buttons.front()->click();
  });
  about->trigger();
  EXPECT_EQ(driver.StepsDone(), 1u);
  EXPECT_FALSE(driver.TimedOut());
  EXPECT_TRUE(window.isVisible());
}

// Renaming: the tree's label editor, ended in each of the operator's ways.
class RenameTest : public MainWindowTest {
 protected:
  ClockRecord& SearchAndSelect() {
    AddClock(kClockA, "SER-A");
    Open();
    SearchUnicast(kClockA);
    ClickItem(Root()->child(0));
    Tree()->setCurrentItem(Root()->child(0));
    return *window_->SelectedRecord();
  }

  QLineEdit* StartEditing() {
    window_->RenameStart();
    auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    EXPECT_NE(editor, nullptr);
    return editor;
  }

  // Enter closes the editor from the event loop, not at once.
  void WaitUntilEditingEnds() { EXPECT_TRUE(QTest::qWaitFor([this] { return !Editing(); }, 1000)); }

  std::string StoredName() {
    ClockNames names(settings_.Path(), CodePage::Cp1252);
    return names.Lookup(window_->SelectedRecord());
  }
};

TEST_F(RenameTest, TheEditorsTextIsStoredHoweverEditingEnds) {
  const std::vector<std::pair<const char*, std::function<void(QLineEdit*)>>> endings{
      {"Enter", [](QLineEdit* editor) { QTest::keyClick(editor, Qt::Key_Return); }},
      {"Escape", [](QLineEdit* editor) { QTest::keyClick(editor, Qt::Key_Escape); }},
      {"focus loss", [this](QLineEdit*) { Child<QPushButton>("searchButton")->setFocus(); }},
  };
  SearchAndSelect();
  for (const auto& [ending, end] : endings) {
    SCOPED_TRACE(ending);
    QLineEdit* editor = StartEditing();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->maxLength(), 64);
    const QString name = QString::fromLatin1("Hall clock by ") + QString::fromLatin1(ending);
    editor->selectAll();
    QTest::keyClicks(editor, name);
    end(editor);
    WaitUntilEditingEnds();
    EXPECT_EQ(Root()->child(0)->text(0), name);
    EXPECT_EQ(window_->SelectedRecord()->label, name.toStdString());
    EXPECT_EQ(StoredName(), name.toStdString());
    EXPECT_TRUE(window_->isVisible());
  }
}

TEST_F(RenameTest, EmptyTextDeletesTheNameAndShowsTheDefaultLabel) {
  SearchAndSelect();
  QLineEdit* editor = StartEditing();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "Hall clock");
  QTest::keyClick(editor, Qt::Key_Return);
  WaitUntilEditingEnds();
  ASSERT_EQ(StoredName(), "Hall clock");

  editor = StartEditing();
  ASSERT_NE(editor, nullptr);
  editor->clear();
  QTest::keyClick(editor, Qt::Key_Return);
  WaitUntilEditingEnds();
  EXPECT_EQ(Root()->child(0)->text(0), "127.0.0.2 (SER-A)");
  EXPECT_EQ(StoredName(), "");
  EXPECT_EQ(window_->SelectedRecord()->label, "127.0.0.2 (SER-A)");
}

TEST_F(RenameTest, StoredNameIsTheLabelAfterTheNextSearch) {
  SearchAndSelect();
  QLineEdit* editor = StartEditing();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "Hall clock");
  QTest::keyClick(editor, Qt::Key_Return);
  WaitUntilEditingEnds();
  SearchBroadcast();
  EXPECT_EQ(ChildLabels(), (std::vector<QString>{"Hall clock"}));
}

// A search ends an open edit too: by the focus moving to the Search button,
// or by the tree dropping its items. Either way the typed name counts.
TEST_F(RenameTest, ASearchEndingTheEditKeepsTheTypedName) {
  SearchAndSelect();
  QLineEdit* editor = StartEditing();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "Hall clock");
  QTest::mouseClick(Child<QPushButton>("searchButton"), Qt::LeftButton);
  EXPECT_EQ(StoredName(), "Hall clock");
  EXPECT_EQ(ChildLabels(), (std::vector<QString>{"Hall clock"}));

  ClickItem(Root()->child(0));
  Tree()->setCurrentItem(Root()->child(0));
  editor = StartEditing();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "Lobby clock");
  window_->Search();  // the editor is still open
  EXPECT_FALSE(Editing());
  EXPECT_EQ(StoredName(), "Lobby clock");
  EXPECT_EQ(ChildLabels(), (std::vector<QString>{"Lobby clock"}));
}

TEST_F(RenameTest, EditingTheItemOfAnotherClockNamesNoClock) {
  AddClock(kClockB, "SER-B");
  SearchAndSelect();
  SearchBroadcast();
  ClickItem(ItemOf("127.0.0.2 (SER-A)"));
  // The keyboard moves the current item to B; A stays the selected clock.
  Tree()->setCurrentItem(ItemOf("127.0.0.3 (SER-B)"));
  QLineEdit* editor = StartEditing();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "Wrong clock");
  QTest::keyClick(editor, Qt::Key_Return);
  WaitUntilEditingEnds();
  EXPECT_EQ(ChildLabels(), (std::vector<QString>{"127.0.0.2 (SER-A)", "127.0.0.3 (SER-B)"}));
  EXPECT_EQ(StoredName(), "");
}

TEST_F(RenameTest, ContextMenuOffersRenameExceptOnTheRoot) {
  SearchAndSelect();
  auto openMenuAt = [this](const QTreeWidgetItem* item) {
    const QPoint point = Tree()->visualItemRect(item).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, Tree()->viewport()->mapToGlobal(point));
    QApplication::sendEvent(Tree()->viewport(), &event);
  };

  Tree()->setCurrentItem(Root());
  {
    ModalDriver none(2000ms);  // closes a menu that should not have opened
    openMenuAt(Root());
    EXPECT_FALSE(none.TimedOut());
  }

  Tree()->setCurrentItem(Root()->child(0));
  ModalDriver driver;
  std::vector<QString> entries;
  driver.Then<QMenu>([&entries](QMenu* menu) {
    for (const QAction* action : menu->actions()) entries.push_back(action->text());
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  openMenuAt(Root()->child(0));
  EXPECT_EQ(entries, (std::vector<QString>{"rename"}));
  EXPECT_TRUE(Editing());
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "From the menu");
  QTest::keyClick(editor, Qt::Key_Return);
  WaitUntilEditingEnds();
  EXPECT_EQ(StoredName(), "From the menu");
}

TEST_F(RenameTest, RightClickLeavesTheSelectionWhereItWas) {
  AddClock(kClockB, "SER-B");
  SearchAndSelect();
  SearchBroadcast();
  QTreeWidgetItem* a = ItemOf("127.0.0.2 (SER-A)");
  QTreeWidgetItem* b = ItemOf("127.0.0.3 (SER-B)");
  ClickItem(a);
  const auto marks = Marks();
  QTest::mousePress(Tree()->viewport(), Qt::RightButton, {}, Tree()->visualItemRect(b).center());
  QTest::mouseRelease(Tree()->viewport(), Qt::RightButton, {}, Tree()->visualItemRect(b).center());
  EXPECT_EQ(Tree()->currentItem(), a);
  EXPECT_EQ(window_->SelectedClockIp(), kClockA);
  EXPECT_EQ(SentSince(marks), Codes{});
}

// The site view works through the main window's link: while it runs, the
// main window sends nothing; its refresh fills the main window's list; a
// clock picked there is selected and read here as a click would.
TEST_F(MainWindowTest, TheSiteViewSharesTheLinkAndPicksClocksHere) {
  AddClock(kClockA, "SER-A");
  AddClock(kClockB, "SER-B");
  Open();
  QAction* open = nullptr;
  for (QAction* action : window_->findChildren<QAction*>()) {
    if (action->text() == QStringLiteral("Site view…")) open = action;
  }
  ASSERT_NE(open, nullptr);
  open->trigger();
  SiteView* site = window_->SiteViewWindow();
  ASSERT_NE(site, nullptr);
  EXPECT_TRUE(site->isVisible());

  site->Refresh();
  EXPECT_TRUE(site->Busy());
  EXPECT_FALSE(Child<QPushButton>("searchButton")->isEnabled());
  EXPECT_FALSE(Tabs()->isEnabled());
  QTRY_VERIFY_WITH_TIMEOUT(!site->Busy(), 20000);
  EXPECT_TRUE(Child<QPushButton>("searchButton")->isEnabled());
  EXPECT_TRUE(Tabs()->isEnabled());
  EXPECT_EQ(site->Model().ClockCount(), 2u);
  EXPECT_EQ(ChildLabels().size(), 2u);

  const auto marks = Marks();
  EXPECT_TRUE(window_->SelectClock(kClockB));
  EXPECT_EQ(window_->SelectedClockIp(), kClockB);
  EXPECT_EQ(Tree()->currentItem()->data(0, Qt::UserRole).value<std::uint32_t>(), kClockB);
  const Codes sent = SentSince(marks);
  EXPECT_NE(std::find(sent.begin(), sent.end(), code::kQueryBasic), sent.end());
  EXPECT_FALSE(window_->SelectClock(kClockC));
}

}  // namespace
}  // namespace marindo
