// A whole working day of an operator, through the program's own start-up and
// main window, against simulated clocks on the test LAN: log in, search,
// rename a clock, change and read back its basic, NTP, display and bell
// settings, upgrade a newer clock's firmware, fetch its log, change the
// password and log in again. Every step is checked on the clocks' side (what
// they received and what they now hold) as well as in the window.
//
// The same day runs again under each of the simulator's faults. Whatever the
// fault, no step may block longer than its exchange budget, the operator is
// never told "Modify success!" for a change the clock does not hold, and at
// the end of the day every clock holds exactly what it should: the changes
// it took, and nothing else of its settings touched.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "E2eSupport.h"
#include "JsonChanges.h"
#include "app/CMarindoApp.h"
#include "app/CMarindoDlg.h"
#include "app/Login.h"
#include "app/MessageBoxNotifier.h"
#include "app/loginpasswd.h"
#include "app/windows/WidgetTestSupport.h"
#include "bells/Bell.h"
#include "bells/BellPage.h"
#include "clocks/ClockNames.h"
#include "clocks/PasswordStore.h"
#include "tftp/TftpClient.h"
#include "widgets/Ipv4Edit.h"

namespace marindo::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::ModalDriver;
using Json = nlohmann::json;

constexpr const char* kDefaultPassword = "Tulip@KVX";
constexpr const char* kNewPassword = "Harbour#7";
constexpr const char* kSuccess = "Modify success!";
constexpr const char* kFailed = "Modify failed!";
constexpr const char* kLobbyNoResponse = "No response from 10.213.0.60!";
constexpr const char* kUpgradeDone = "Upgrade success";
constexpr const char* kUpgradeFailed = "Upgrade failed\xEF\xBC\x81";
constexpr const char* kLogDone = "Log file 10.213.0.61log.txt download done.";
constexpr const char* kLogNoResponse = "Clock not response,please try again.";
constexpr const char* kLobbyItem = "10.213.0.60 (LOBBY60)";
constexpr const char* kTowerItem = "10.213.0.61 (TOWER61)";
constexpr const char* kLobbyName = "Lobby clock";
constexpr std::size_t kFirmwareSize = 3000;

// The program's own exchange budgets, with room for the window's work and
// for closing each message box.
const LinkTimings kLink{};
const TftpTimings kTftp{};
constexpr Clock::duration kSlack = 1500ms;
Clock::duration ExchangeBudget(int exchanges) { return exchanges * kLink.tries * kLink.replyWait + kSlack; }
// Three passes that each end after a quiet second, and per new clock the
// neighbour lookup (at most 1 s) and the port probe.
Clock::duration SearchBudget(int clocks) {
  return kLink.searchPasses * kLink.searchQuiet + clocks * (1s + kLink.probeWait) + kSlack;
}
// The announcement, then every send of the write request unanswered.
Clock::duration UpgradeBudget() { return ExchangeBudget(1) + kTftp.sends * kTftp.wait; }
// A download ends after one silent wait.
Clock::duration DownloadBudget() { return kTftp.wait + kSlack; }

// What a clock does with a settings change on a given day.
enum class Answer {
  Applied,     // applies it and says so
  Refused,     // keeps its settings and says so
  Silent,      // never hears it: the window reports no response
  Unreadable,  // applies it, but no answer of it can be read: no response
};

struct FaultRun {
  const char* name;
  // Fault switches on every clock for the whole day.
  const char* standing;
  // Switches set on the lobby clock just before each settings change and
  // cleared after it.
  const char* perChange;
  // dropFirst on the lobby clock before each settings change; -1 drops
  // every try of every frame the change sends.
  int dropFirst;
  Answer changes;
  bool tftpAnswers;
};

void PrintTo(const FaultRun& run, std::ostream* out) { *out << run.name; }

const FaultRun kRuns[] = {
    {"Healthy", "", "", 0, Answer::Applied, true},
    {"DroppedRequests", "", "", 2, Answer::Applied, true},
    {"LateAnswers", "delayMs=500", "", 0, Answer::Applied, true},
    {"AnswersLaterThanOneWait", "delayMs=1300", "", 0, Answer::Applied, true},
    {"ChecksumHighByteFirst", "crcHighFirst=true", "", 0, Answer::Applied, true},
    {"StrayDatagrams", "strayBefore=true", "", 0, Answer::Applied, true},
    {"OversizeDatagrams", "oversizeBefore=true", "", 0, Answer::Applied, true},
    {"RefusingClock", "", "refuse=true", 0, Answer::Refused, true},
    {"UnreadableAnswers", "", "badCrc=true", 0, Answer::Unreadable, true},
    {"SilentClock", "", "", -1, Answer::Silent, true},
    {"SilentTftpServer", "tftpSilent=true", "", 0, Answer::Applied, false},
};

// A simulated clock's state: its settings, and what only counts traffic.
Json ClockState(const std::string& sim) {
  std::ifstream in(RunFolder() / (sim + ".state.json"));
  return Json::parse(in).at("clocks").at(0);
}

// A clock's settings, without its counters, transfers and fault switches.
Json Settings(Json clock) {
  for (const char* traffic : {"modifyCount", "lastWrite", "announcements", "uploads", "downloads", "faults",
                              "dropsLeft", "tftpAckEarlierArmed"}) {
    clock.erase(traffic);
  }
  clock.at("text").erase("lastForm");
  return clock;
}


std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads and closes every message box as it comes up, answers the file and
// folder choosers, and picks entries of context menus: what the operator
// does with the windows that block the main window.
class Operator : public QObject {
 public:
  Operator() {
    QObject::connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
    poll_.start(5);
  }

  std::vector<std::string> messages;
  QString nextChoice;      // for the next file or folder chooser
  QString nextMenuEntry;   // for the next context menu

  std::vector<std::string> MessagesSince(std::size_t mark) const {
    return {messages.begin() + static_cast<std::ptrdiff_t>(std::min(mark, messages.size())), messages.end()};
  }

 private:
  void Poll() {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) return PickMenuEntry(menu);
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == handled_.data() || !modal->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      handled_ = box;
      messages.push_back(box->text().toStdString());
      box->done(QMessageBox::Ok);
    } else if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
      handled_ = chooser;
      chooser->selectFile(nextChoice);
      static_cast<QDialog*>(chooser)->accept();  // QFileDialog hides accept()
    }
  }

  void PickMenuEntry(QMenu* menu) {
    for (QAction* action : menu->actions()) {
      if (action->text() != nextMenuEntry) continue;
      menu->setActiveAction(action);
      QTest::keyClick(menu, Qt::Key_Return);
      return;
    }
    menu->close();
  }

  QTimer poll_;
  QPointer<QWidget> handled_;
};

// The fault run's view of the simulated clocks.
class Clocks {
 public:
  explicit Clocks(const FaultRun& run) : run_(run) {}

  void Reset() {
    for (const char* clock : {"lobby", "tower"}) {
      ASSERT_EQ(Control(clock, "reset"), 0);
      if (*run_.standing != '\0') {
        ASSERT_EQ(Control(clock, std::string("faults ") + run_.standing), 0);
      }
    }
  }

  // Sets the lobby clock's switches for a change of `frames` frames.
  void BeforeChange(int frames) {
    std::string switches = run_.perChange;
    const int drops = run_.dropFirst < 0 ? kLink.tries * frames : run_.dropFirst;
    if (drops > 0) switches += " dropFirst=" + std::to_string(drops);
    if (!switches.empty()) {
      ASSERT_EQ(Control("lobby", "faults " + switches), 0);
    }
  }

  // Back to the day's standing switches, so that reading back sees the clock.
  void AfterChange() {
    if (*run_.perChange == '\0' && run_.dropFirst == 0) return;
    ASSERT_EQ(Control("lobby", "clear-faults"), 0);
    if (*run_.standing != '\0') {
      ASSERT_EQ(Control("lobby", std::string("faults ") + run_.standing), 0);
    }
  }

 private:
  const FaultRun& run_;
};

class OperatorDayE2eTest : public ::testing::TestWithParam<FaultRun> {
 protected:
  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    work_ = RunFolder() / (std::string("day-") + GetParam().name);
    fs::remove_all(work_);
    fs::create_directories(work_ / "logs");
    settings_ = work_ / "Tessaly.ini";
    clocks_.Reset();
    for (const char* sim : {"lobby", "tower"}) morning_[sim] = Settings(ClockState(sim));
  }

  // Start-up as the program runs it: the login windows first (driven by
  // `logins`), then the main window, modal, with `day` run inside it.
  void StartProgram(ModalDriver& logins, const std::function<void(CMarindoDlg&)>& day) {
    PasswordStore passwords(settings_);
    MessageBoxNotifier notifier;
    int mainWindows = 0;
    CMarindoApp app(passwords, notifier, [&] {
      ++mainWindows;
      SystemAdapters adapters;
      SystemNeighbours neighbours;
      TcpPortProbe probe;
      CMarindoDlg window(PlatformServices{notifier, adapters, neighbours, probe}, settings_);
      window_ = &window;
      QTimer::singleShot(0, &window, [&] {
        day(window);
        window.reject();
      });
      window.exec();
      window_ = nullptr;
    });
    app.InitInstance();
    EXPECT_EQ(mainWindows, 1);
    EXPECT_FALSE(logins.TimedOut());
  }

  static void LogIn(Login* login, const char* password) {
    login->findChild<QLineEdit*>("passwordEdit")->setText(QString::fromLatin1(password));
    login->findChild<QAbstractButton*>("loginButton")->click();
  }

  template <class T>
  T* Find(const char* name) {
    T* widget = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  // Runs one of the operator's actions and checks it kept to `budget`.
  void Timed(const std::string& what, Clock::duration budget, const std::function<void()>& action) {
    const auto start = Clock::now();
    action();
    const auto took = Clock::now() - start;
    EXPECT_LE(took, budget) << what << " blocked the window for "
                            << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
  }

  void Click(const char* button) { QTest::mouseClick(Find<QAbstractButton>(button), Qt::LeftButton); }

  void ClickTab(int index) {
    QTabBar* bar = Find<QTabWidget>("pageTabs")->tabBar();
    Timed("tab " + std::to_string(index), ExchangeBudget(3),
          [&] { QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center()); });
  }

  QTreeWidgetItem* Item(const QString& text) {
    const auto items = Tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return items.size() == 1 ? items[0] : nullptr;
  }

  void ClickClock(const QString& label) {
    QTreeWidgetItem* item = Item(label);
    ASSERT_NE(item, nullptr) << label.toStdString();
    Timed("click on " + label.toStdString(), ExchangeBudget(3), [&] {
      QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, Qt::NoModifier, Tree()->visualItemRect(item).center());
    });
  }

  QTreeWidget* Tree() { return Find<QTreeWidget>("clockTree"); }

  void Choose(const char* list, const char* text) {
    auto* box = Find<QComboBox>(list);
    const int index = box->findText(QString::fromUtf8(text));
    ASSERT_GE(index, 0) << list << ": " << text;
    box->setCurrentIndex(index);
  }

  void TypeText(QLineEdit* field, const char* text) {
    field->selectAll();
    QTest::keyClicks(field, QString::fromLatin1(text));
  }

  // Modify on a settings page sending `frames` frames, with the day's faults.
  std::vector<std::string> ModifySettings(const std::string& page, int frames) {
    clocks_.BeforeChange(frames);
    const std::size_t mark = operator_.messages.size();
    Timed("Modify on " + page, ExchangeBudget(frames), [&] { Click("modifyButton"); });
    clocks_.AfterChange();
    return operator_.MessagesSince(mark);
  }

  // What the window must have said for a change on a settings page, and
  // whether the clock now holds it; `holds` is asked of the simulator.
  void ExpectChangeOutcome(const std::string& page, const std::vector<std::string>& said, int frames,
                           const std::function<bool()>& holds) {
    SCOPED_TRACE(page);
    switch (GetParam().changes) {
      case Answer::Applied:
        EXPECT_EQ(said, std::vector<std::string>{kSuccess});
        EXPECT_TRUE(holds());
        return;
      case Answer::Refused:
        EXPECT_EQ(said, std::vector<std::string>{kFailed});
        EXPECT_FALSE(holds());
        return;
      case Answer::Silent:
        EXPECT_EQ(said, std::vector<std::string>(static_cast<std::size_t>(frames), kLobbyNoResponse));
        EXPECT_FALSE(holds());
        return;
      case Answer::Unreadable:
        EXPECT_EQ(said, std::vector<std::string>(static_cast<std::size_t>(frames), kLobbyNoResponse));
        EXPECT_TRUE(holds());
        return;
    }
  }

  // Whether the day's changes reached the lobby clock.
  bool ChangesTaken() const {
    return GetParam().changes == Answer::Applied || GetParam().changes == Answer::Unreadable;
  }

  // The page shown again shows the new value when the clock took it, the
  // clock's old one otherwise.
  void ExpectReadBack(const std::string& what, bool showsNew, bool showsOld) {
    if (ChangesTaken()) {
      EXPECT_TRUE(showsNew) << what << " read back without the change";
    } else {
      EXPECT_TRUE(showsOld) << what << " read back without the clock's old value";
    }
  }

  // After the day each clock holds its morning settings with exactly the
  // changes it took: nothing zeroed, nothing written that was not asked for.
  void ExpectClocksHoldExactlyTheirSettings() {
    // What the lobby's changes leave behind, where they were taken.
    // The Other page writes its display settings back with the text; the
    // frame carries the humiture duration (3) where the clock's reply keeps
    // a value the page does not show.
    const std::map<std::string, Json> taken{
        {"basic.zoneHours", 5},         {"basic.zoneMinuteCode", 2}, {"basic.brightness", 4},
        {"ntp.servers[2]", "10.213.0.3"}, {"text.text", "GOOD MORNING"}, {"display.keptNibble", 3},
    };
    // Leaves that follow from those: the raw forms and bell 2's entry.
    const auto followsFromTheChanges = [](const std::string& path) {
      return path == "basic.hex" || path == "ntp.replyHex" || path == "text.textHex" || path == "display.hex" ||
             path == "bells.hex" || path.rfind("bells.entries[1]", 0) == 0;
    };
    for (const char* sim : {"lobby", "tower"}) {
      SCOPED_TRACE(sim);
      const Json evening = Settings(ClockState(sim));
      const std::map<std::string, Json> changed = Changes(morning_.at(sim), evening);
      const bool tookChanges = std::string(sim) == "lobby" && ChangesTaken();
      for (const auto& [path, value] : changed) {
        const bool expected = tookChanges && (taken.contains(path) || followsFromTheChanges(path));
        EXPECT_TRUE(expected) << path << " changed to " << value.dump();
      }
      if (!tookChanges) continue;
      for (const auto& [path, value] : taken) {
        const auto found = changed.find(path);
        EXPECT_TRUE(found != changed.end() && found->second == value) << path << " is not " << value.dump();
      }
      const std::string bells = evening.at("bells").at("hex").get<std::string>();
      const std::string morningBells = morning_.at(sim).at("bells").at("hex").get<std::string>();
      EXPECT_EQ(bells.substr(12, 12), "01090f008208") << "bell 2";
      EXPECT_EQ(bells.substr(0, 12) + bells.substr(24), morningBells.substr(0, 12) + morningBells.substr(24))
          << "every bell but bell 2 stays as it was";
    }
  }

  // --- the steps of the day -------------------------------------------------

  void Search() {
    const int searchesBefore = ReceivedCount("lobby", 0x01);
    Timed("Search", SearchBudget(2), [&] { Click("searchButton"); });
    ASSERT_EQ(Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(Tree()->topLevelItem(0)->text(0), "IP(SN)Total:2");
    EXPECT_EQ(ReceivedCount("lobby", 0x01) - searchesBefore, kLink.searchPasses);
  }

  // The tree's item editor, while one is open.
  QLineEdit* LabelEditor() {
    for (QLineEdit* edit : Tree()->viewport()->findChildren<QLineEdit*>()) {
      if (edit->isVisible()) return edit;
    }
    return nullptr;
  }

  void RenameLobby() {
    ClickClock(kLobbyItem);
    QTreeWidgetItem* item = Item(kLobbyItem);
    ASSERT_NE(item, nullptr);
    const int modifiesBefore = ModifyFramesReceived();
    // The right mouse button opens the menu; its "rename" opens the editor.
    operator_.nextMenuEntry = "rename";
    const QPoint at = Tree()->visualItemRect(item).center();
    QContextMenuEvent menuClick(QContextMenuEvent::Mouse, at, Tree()->viewport()->mapToGlobal(at));
    QApplication::sendEvent(Tree()->viewport(), &menuClick);
    QLineEdit* editor = LabelEditor();
    ASSERT_NE(editor, nullptr) << "no label editor after the menu's rename";
    TypeText(editor, kLobbyName);
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Item(kLobbyName) != nullptr; }, 2000));

    ClockRecord* record = window_->SelectedRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(ClockNames(settings_, CodePage::Cp1252).Lookup(record), kLobbyName);
    EXPECT_EQ(ModifyFramesReceived(), modifiesBefore) << "a rename is the tool's own business";
  }

  void ChangeBasic() {
    ClickClock(kLobbyName);
    ASSERT_EQ(window_->SelectedClockIp(), std::optional<std::uint32_t>(0x0AD5003C));
    EXPECT_EQ(Find<QComboBox>("zone")->currentText(), "UTC +8 ");
    Choose("zone", "UTC +5:45");
    Choose("brightness", "Brilliant");
    const auto said = ModifySettings("Basic", 1);
    ExpectChangeOutcome("Basic", said, 1, [] {
      return SimState("lobby", "(c[\"basic\"][\"zoneHours\"], c[\"basic\"][\"zoneMinuteCode\"], "
                               "c[\"basic\"][\"brightness\"])") == "(5, 2, 4)";
    });

    ClickClock(kTowerItem);
    ClickClock(kLobbyName);
    const QString zone = Find<QComboBox>("zone")->currentText();
    ExpectReadBack("Basic", zone == "UTC +5:45", zone == "UTC +8 ");
  }

  void ChangeNtp() {
    ClickTab(CMarindoDlg::kTabServers);
    auto* row3 = Find<Ipv4Edit>("address3");
    row3->ClearAddress();
    const std::array<const char*, 4> octets{"10", "213", "0", "3"};
    for (std::size_t i = 0; i < octets.size(); ++i) QTest::keyClicks(row3->Octet(static_cast<int>(i)), octets[i]);
    ASSERT_EQ(row3->Address(), 0x0AD50003u);
    const auto said = ModifySettings("NTP", 1);
    ExpectChangeOutcome("NTP", said, 1, [] { return SimState("lobby", "c[\"ntp\"][\"servers\"][2]") == "10.213.0.3"; });
    EXPECT_EQ(SimState("lobby", "c[\"ntp\"][\"servers\"][:2]"), "['10.213.0.1', '10.213.0.2']");

    ClickTab(CMarindoDlg::kTabBasic);
    ClickTab(CMarindoDlg::kTabServers);
    ExpectReadBack("NTP", row3->Address() == 0x0AD50003u, row3->Address() == 0);
  }

  void ChangeText() {
    ClickTab(CMarindoDlg::kTabOther);
    auto* text = Find<QLineEdit>("text");
    EXPECT_EQ(text->text(), "WELCOME");
    TypeText(text, "GOOD MORNING");
    const auto said = ModifySettings("Other", 2);
    ExpectChangeOutcome("Other", said, 2, [] { return SimState("lobby", "c[\"text\"][\"text\"]") == "GOOD MORNING"; });

    ClickTab(CMarindoDlg::kTabBell);
    ClickTab(CMarindoDlg::kTabOther);
    ExpectReadBack("Other", text->text() == "GOOD MORNING", text->text() == "WELCOME");
  }

  template <class T>
  T* BellControl(const char* role, int row) {
    T* control = window_->findChild<Bell*>()->Page(0).findChild<T*>(QStringLiteral("%1_%2").arg(role).arg(row));
    EXPECT_NE(control, nullptr) << role << " of row " << row;
    return control;
  }

  // Bell 2, empty on the clock: switched on for 09:15 on Mondays, 8 s.
  void ChangeBells() {
    ClickTab(CMarindoDlg::kTabBell);
    if (!BellControl<QCheckBox>("enable", 2)->isChecked()) BellControl<QCheckBox>("enable", 2)->click();
    BellControl<QComboBox>("hour", 2)->setCurrentText("9");
    BellControl<QComboBox>("minute", 2)->setCurrentText("15");
    if (!BellControl<QCheckBox>("mon", 2)->isChecked()) BellControl<QCheckBox>("mon", 2)->click();
    BellControl<QComboBox>("duration", 2)->setCurrentText("8");
    const auto said = ModifySettings("Bell", 1);
    constexpr const char* kBell2 = "01090f008208";
    ExpectChangeOutcome("Bell", said, 1, [] { return SimState("lobby", "c[\"bells\"][\"hex\"][12:24]") == kBell2; });
    EXPECT_EQ(SimState("lobby", "c[\"bells\"][\"hex\"][:12]"), "00071e00be05") << "bell 1 must stay as it was";

    ClickTab(CMarindoDlg::kTabOther);
    ClickTab(CMarindoDlg::kTabBell);
    const bool enabled = BellControl<QCheckBox>("enable", 2)->isChecked();
    const QString hour = BellControl<QComboBox>("hour", 2)->currentText();
    ExpectReadBack("Bell", enabled && hour == "9", !enabled);
  }

  void UpgradeTower(const fs::path& firmware) {
    ClickTab(CMarindoDlg::kTabSystem);
    ClickClock(kTowerItem);
    operator_.nextChoice = QString::fromStdString(firmware.string());
    Click("choose");
    EXPECT_EQ(Find<QLineEdit>("path")->text().toStdString(), firmware.string());

    const std::size_t mark = operator_.messages.size();
    const int announcementsBefore = ReceivedCount("tower", 0x0C);
    Timed("firmware upgrade", UpgradeBudget(), [&] { Click("modifyButton"); });
    EXPECT_GE(ReceivedCount("tower", 0x0C) - announcementsBefore, 1);
    const std::string complete =
        SimState("tower", "[u[\"sha256\"] for u in c[\"uploads\"] if u[\"complete\"] and u[\"name\"]==\"tower-fw.tar\"]");
    if (GetParam().tftpAnswers) {
      EXPECT_EQ(operator_.MessagesSince(mark), std::vector<std::string>{kUpgradeDone});
      EXPECT_EQ(complete, "['" + Shell("sha256sum '" + firmware.string() + "' | cut -d' ' -f1") + "']");
    } else {
      EXPECT_EQ(operator_.MessagesSince(mark), std::vector<std::string>{kUpgradeFailed});
      EXPECT_EQ(complete, "[]");
    }
  }

  void DownloadTowerLog() {
    ClickTab(CMarindoDlg::kTabLog);
    EXPECT_EQ(Find<QLineEdit>("fileName")->text(), "log.txt");
    operator_.nextChoice = QString::fromStdString((work_ / "logs").string());
    Click("browse");
    EXPECT_EQ(Find<QLineEdit>("savePath")->text(), operator_.nextChoice);

    const std::size_t mark = operator_.messages.size();
    Timed("log download", DownloadBudget(), [&] { Click("modifyButton"); });
    const fs::path local = work_ / "logs" / "10.213.0.61log.txt";
    if (GetParam().tftpAnswers) {
      EXPECT_EQ(operator_.MessagesSince(mark), std::vector<std::string>{kLogDone});
      EXPECT_EQ(FileBytes(local), FileBytes(RunFolder() / "tftp" / "10.213.0.61" / "log" / "log.txt"));
      EXPECT_EQ(SimState("tower", "len(c[\"downloads\"])"), "1");
    } else {
      EXPECT_EQ(operator_.MessagesSince(mark), std::vector<std::string>{kLogNoResponse});
      EXPECT_FALSE(fs::exists(local) && fs::file_size(local) > 0) << "a failed download left a log behind";
    }
  }

  int ModifyFramesReceived() {
    int total = 0;
    for (int code : {0x06, 0x07, 0x08, 0x09, 0x0B}) total += ReceivedCount("lobby", code) + ReceivedCount("tower", code);
    return total;
  }

  fs::path WriteFirmware() {
    std::string bytes(kFirmwareSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 13 + 5) & 0xFF);
    const fs::path path = work_ / "tower-fw.tar";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  fs::path work_;
  fs::path settings_;
  std::map<std::string, Json> morning_;
  Operator operator_;
  Clocks clocks_{GetParam()};
  CMarindoDlg* window_ = nullptr;
};

TEST_P(OperatorDayE2eTest, WholeDay) {
  const fs::path firmware = WriteFirmware();

  // Morning: the default password, then the day's work in the main window.
  ModalDriver firstLogin(std::chrono::minutes(5));
  firstLogin.Then<Login>([](Login* login) { LogIn(login, kDefaultPassword); });
  StartProgram(firstLogin, [&](CMarindoDlg&) {
    Search();
    if (::testing::Test::HasFatalFailure()) return;
    RenameLobby();
    ChangeBasic();
    ChangeNtp();
    ChangeText();
    ChangeBells();
    UpgradeTower(firmware);
    DownloadTowerLog();
  });
  ExpectClocksHoldExactlyTheirSettings();
  EXPECT_EQ(firstLogin.StepsDone(), 1u);

  // Evening: a new password; the old one no longer opens the program.
  const std::size_t mark = operator_.messages.size();
  ModalDriver secondLogin(std::chrono::minutes(2));
  secondLogin.Then<Login>([](Login* login) {
    QMetaObject::invokeMethod(login->findChild<QAbstractButton*>("changePasswordButton"), "click",
                              Qt::QueuedConnection);
  });
  secondLogin.Then<loginpasswd>([](loginpasswd* window) {
    window->findChild<QLineEdit*>("oldPasswordEdit")->setText(QString::fromLatin1(kDefaultPassword));
    window->findChild<QLineEdit*>("newPasswordEdit")->setText(QString::fromLatin1(kNewPassword));
    window->findChild<QLineEdit*>("confirmPasswordEdit")->setText(QString::fromLatin1(kNewPassword));
    window->findChild<QAbstractButton*>("modifyButton")->click();
  });
  secondLogin.Then<Login>([](Login* login) { LogIn(login, kDefaultPassword); });
  secondLogin.Then<Login>([](Login* login) { LogIn(login, kNewPassword); });
  StartProgram(secondLogin, [&](CMarindoDlg&) {
    Search();
    // The name given in the morning is the clock's label after every search.
    EXPECT_NE(Item(kLobbyName), nullptr);
  });
  EXPECT_EQ(secondLogin.StepsDone(), 4u);
  EXPECT_EQ(operator_.MessagesSince(mark),
            (std::vector<std::string>{"Password changed, please login!", "Wrong password!"}));
  EXPECT_NE(FileBytes(settings_).find(std::string("pwd=") + kNewPassword), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Faults, OperatorDayE2eTest, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<FaultRun>& run) { return std::string(run.param.name); });

}  // namespace
}  // namespace marindo::e2e
