// The site view against 50 simulated clocks of one subnet (siteview.json):
// clocks 13 and 14 refuse every change, clock 15 is found but never answers,
// every tenth is an old-platform clock. The window's refresh, its apply with
// the confirmation before it, its refusals, and its site file, which
// marindo-cli reads and writes too.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <nlohmann/json.hpp>

#include "E2eSupport.h"
#include "link/CommandCodes.h"
#include "platform/Ipv4.h"
#include "site/SiteFile.h"
#include "siteview/SiteTableModel.h"
#include "siteview/SiteView.h"

namespace marindo::e2e {
namespace {

namespace fs = std::filesystem;
using PlainJson = nlohmann::json;

constexpr int kClocks = 50;
constexpr int kRefusing[] = {13, 14};
constexpr int kSilent = 15;

std::string Address(int clock) { return "10.213.1." + std::to_string(clock); }
std::uint32_t Ip(int clock) { return (10u << 24) | (213u << 16) | (1u << 8) | static_cast<std::uint32_t>(clock); }
bool Refusing(int clock) { return clock == kRefusing[0] || clock == kRefusing[1]; }

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RecordingHost : public SiteHost {
 public:
  void SiteBusy(bool busy) override { busyCalls.push_back(busy); }
  void ClocksReplaced() override { ++replaced; }
  bool SelectClock(std::uint32_t ip) override {
    selected.push_back(ip);
    return true;
  }
  std::vector<bool> busyCalls;
  int replaced = 0;
  std::vector<std::uint32_t> selected;
};

// Each clock's state as the simulator keeps it, by address.
std::map<std::string, PlainJson> SiteState() {
  std::map<std::string, PlainJson> clocks;
  const PlainJson state = PlainJson::parse(FileText(RunFolder() / "scale.state.json"));
  for (const PlainJson& clock : state.at("clocks")) clocks[clock.at("ip")] = clock;
  return clocks;
}

// The first line of what is wrong with a settings file: all the window shows.
std::string FirstLineOfError(const fs::path& file) {
  const auto loaded = LoadClockSettings(file);
  const std::string problems = std::holds_alternative<std::string>(loaded) ? std::get<std::string>(loaded) : "";
  return problems.substr(0, problems.find('\n'));
}

int ModifiesReceived() {
  int count = 0;
  for (std::uint8_t code : {code::kModifyBasic, code::kModifyServers, code::kModifyBells, code::kModifyDisplay,
                            code::kModifyText}) {
    count += ReceivedCount("scale", code);
  }
  return count;
}

class SiteViewE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    work_ = RunFolder() / "siteview" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(work_);
    fs::create_directories(work_);
    ResetSite();
    OpenView();
  }

  // The window and its link, which holds the clock port.
  void OpenView(std::size_t width = 64) {
    names_ = std::make_unique<ClockNames>(work_ / "settings.ini", CodePage::Cp1252);
    link_ = std::make_unique<ClockLink>(LinkServices{adapters_, neighbours_, probe_, *names_});
    ASSERT_TRUE(link_->Bound());
    SiteViewServices services{*link_, *names_, notifier_, host_, work_ / "settings.ini", CodePage::Cp1252};
    services.width = width;
    view_ = std::make_unique<SiteView>(services);
    view_->SetConfirm([this](const QString& title, const QString& details) {
      confirmations_.push_back((title + "\n" + details).toStdString());
      return answer_;
    });
    view_->show();
  }

  // marindo-cli needs the clock port.
  void CloseView() {
    view_.reset();
    link_.reset();
  }

  void ResetSite() {
    const std::string command = Python() + " " + (ToolsFolder() / "clocksim" / "clocksimctl.py").string() +
                                " --socket " + (RunFolder() / "scale.ctl").string() + " reset >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  void Simulator(const std::string& arguments) {
    const std::string command = Python() + " " + (ToolsFolder() / "clocksim" / "clocksimctl.py").string() +
                                " --socket " + (RunFolder() / "scale.ctl").string() + " " + arguments + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << arguments;
  }

  // Lets the window run until its action has ended.
  void AwaitIdle(std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (view_->Busy() && std::chrono::steady_clock::now() < end) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    ASSERT_FALSE(view_->Busy()) << "the action did not end within " << limit.count() << " s";
  }

  void RefreshAndSelectAll() {
    view_->Refresh();
    AwaitIdle();
    view_->Table().selectAll();
  }

  std::map<std::string, std::string> ResultsByAddress() {
    std::map<std::string, std::string> results;
    SiteTableModel& model = view_->Model();
    for (int row = 0; row < model.rowCount(); ++row) {
      results[model.index(row, SiteTableModel::kAddress).data().toString().toStdString()] =
          model.index(row, SiteTableModel::kResult).data().toString().toStdString();
    }
    return results;
  }

  fs::path WriteFile(const std::string& name, const std::string& text) {
    const fs::path path = work_ / name;
    std::ofstream(path) << text;
    return path;
  }

  fs::path work_;
  SystemAdapters adapters_;
  SystemNeighbours neighbours_;
  TcpPortProbe probe_;
  RecordingNotifier notifier_;
  RecordingHost host_;
  std::unique_ptr<ClockNames> names_;
  std::unique_ptr<ClockLink> link_;
  std::unique_ptr<SiteView> view_;
  std::vector<std::string> confirmations_;
  bool answer_ = true;
};

TEST_F(SiteViewE2eTest, RefreshShowsEveryClockAndWhichStoppedAnswering) {
  const auto now = static_cast<long long>(std::time(nullptr));
  Simulator("set lastSyncTime=" + std::to_string(now - 600));
  Simulator("--clock " + Address(7) + " set lastSyncTime=1700000000");
  view_->Refresh();
  AwaitIdle();
  SiteTableModel& model = view_->Model();
  ASSERT_EQ(model.rowCount(), kClocks);
  EXPECT_EQ(model.Summary().toStdString(), "50 clocks · 0 silent · 1 not synchronised for 24 h");
  EXPECT_EQ(host_.replaced, 1);
  EXPECT_EQ(host_.busyCalls, (std::vector<bool>{true, false}));
  std::map<std::string, int> rows;
  for (int row = 0; row < model.rowCount(); ++row) {
    rows[model.index(row, SiteTableModel::kAddress).data().toString().toStdString()] = row;
  }
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kClocks));
  const int old = rows.at(Address(10));
  EXPECT_EQ(model.index(old, SiteTableModel::kModel).data().toString(), "old platform");
  EXPECT_EQ(model.index(rows.at(Address(11)), SiteTableModel::kModel).data().toString(), "new platform");
  EXPECT_EQ(model.index(rows.at(Address(11)), SiteTableModel::kSerial).data().toString(), "SCALE00011");
  EXPECT_EQ(model.index(rows.at(Address(7)), 0).data(Qt::BackgroundRole).value<QColor>(),
            SiteTableModel::kStaleColour);

  // A clock that no longer answers even the search stays, silent.
  Simulator("--clock " + Address(9) + " faults dropFirst=100000");
  view_->Refresh();
  AwaitIdle();
  ASSERT_EQ(model.rowCount(), kClocks);
  EXPECT_EQ(model.Summary().toStdString(), "50 clocks · 1 silent · 1 not synchronised for 24 h");
  const int silent = rows.at(Address(9));
  EXPECT_TRUE(model.index(silent, SiteTableModel::kState).data().toString().startsWith("silent since"));
  EXPECT_EQ(model.index(silent, 0).data(Qt::BackgroundRole).value<QColor>(), SiteTableModel::kSilentColour);

  // A double click picks the clock in the main window.
  const QModelIndex shown = view_->Proxy().mapFromSource(model.index(rows.at(Address(21)), 0));
  view_->Table().scrollTo(shown);
  QCoreApplication::processEvents();
  const QPoint where = view_->Table().visualRect(shown).center();
  QTest::mouseClick(view_->Table().viewport(), Qt::LeftButton, Qt::NoModifier, where);
  QTest::mouseDClick(view_->Table().viewport(), Qt::LeftButton, Qt::NoModifier, where);
  EXPECT_EQ(host_.selected, (std::vector<std::uint32_t>{Ip(21)}));
}

TEST_F(SiteViewE2eTest, ApplyingTheNtpSectionToEveryClockSaysWhatTookAtEach) {
  RefreshAndSelectAll();
  const std::map<std::string, PlainJson> before = SiteState();
  const fs::path file = WriteFile(
      "ntp.json",
      R"({"ntp": {"mode": "addresses", "servers": ["10.213.0.1", "10.213.0.2", "0.0.0.0", "0.0.0.0", "0.0.0.0"]}})");
  view_->ApplySection(Section::Ntp, SectionSource{std::nullopt, file});
  AwaitIdle();

  // The confirmation listed every clock before anything was written.
  ASSERT_EQ(confirmations_.size(), 1u);
  const std::string& asked = confirmations_[0];
  EXPECT_NE(asked.find("49 clocks will change, 1 cannot be written and will be left out"), std::string::npos)
      << asked;
  EXPECT_NE(asked.find("ntp.servers[0]: \"0.0.0.0\" → \"10.213.0.1\""), std::string::npos) << asked;
  EXPECT_NE(asked.find("left out: No response from " + Address(kSilent) + "!"), std::string::npos) << asked;

  const std::map<std::string, std::string> results = ResultsByAddress();
  int succeeded = 0;
  int failed = 0;
  int silent = 0;
  for (const auto& [address, result] : results) {
    succeeded += result == "Modify success!";
    failed += result == "Modify failed!";
    silent += result.starts_with("No response");
  }
  EXPECT_EQ(succeeded, 47);
  EXPECT_EQ(failed, 2);
  EXPECT_EQ(silent, 1);

  // The simulators hold exactly the change: the servers where it took, and
  // nothing else anywhere.
  const std::map<std::string, PlainJson> after = SiteState();
  for (int clock = 1; clock <= kClocks; ++clock) {
    const std::string address = Address(clock);
    const bool took = !Refusing(clock) && clock != kSilent;
    EXPECT_EQ(results.at(address), took ? "Modify success!" : Refusing(clock) ? "Modify failed!"
                                                                               : "No response from " + address + "!");
    const PlainJson& was = before.at(address);
    const PlainJson& is = after.at(address);
    const PlainJson servers = took ? PlainJson::array({"10.213.0.1", "10.213.0.2", "0.0.0.0", "0.0.0.0", "0.0.0.0"})
                                   : was.at("ntp").at("servers");
    EXPECT_EQ(is.at("ntp").at("servers"), servers) << address;
    for (const char* block : {"basic", "display", "text", "bells"}) {
      EXPECT_EQ(is.at(block), was.at(block)) << address << " " << block;
    }
  }
}

TEST_F(SiteViewE2eTest, InputThatFailsItsChecksIsRefusedAndNothingIsSent) {
  // No row selected: no action can start.
  view_->Refresh();
  AwaitIdle();
  for (const char* action : {"applySection", "upgradeFirmware", "backUp", "restore"}) {
    EXPECT_FALSE(view_->findChild<QPushButton*>(action)->isEnabled()) << action;
  }
  EXPECT_TRUE(view_->findChild<QPushButton*>("exportCsv")->isEnabled());
  view_->Table().selectAll();
  const int modifies = ModifiesReceived();
  struct Case {
    const char* file;
    Section section;
    std::string firstError;
  };
  const fs::path bad = WriteFile("bad.json", R"({"ntp": {"mode": "bogus"}, "text": {"text": 5}})");
  const fs::path noNtp = WriteFile("text.json", R"({"text": {"text": "HELLO"}})");
  const fs::path own = WriteFile("own.json", R"({"basic": {"addressing": "static", "ipAddress": "10.213.1.1"}})");
  const std::vector<Case> cases{
      {"bad.json", Section::Ntp, FirstLineOfError(bad)},
      {"text.json", Section::Ntp, noNtp.string() + ": holds no \"ntp\" section"},
      {"own.json", Section::Basic, OwnAddressProblem(Json::parse(FileText(own)), own.string()).value_or("")},
      {"missing.json", Section::Ntp, FirstLineOfError(work_ / "missing.json")},
  };
  for (const Case& c : cases) {
    notifier_.messages.clear();
    view_->ApplySection(c.section, SectionSource{std::nullopt, work_ / c.file});
    AwaitIdle();
    ASSERT_EQ(notifier_.messages.size(), 1u) << c.file;
    EXPECT_EQ(notifier_.messages[0], c.firstError) << c.file;
    EXPECT_EQ(notifier_.messages[0].find('\n'), std::string::npos) << c.file;
  }
  EXPECT_TRUE(confirmations_.empty());
  EXPECT_EQ(ModifiesReceived(), modifies);

  // Said no to at the confirmation: nothing is written either.
  answer_ = false;
  view_->ApplySection(Section::Text, SectionSource{std::nullopt, noNtp});
  AwaitIdle();
  EXPECT_EQ(confirmations_.size(), 1u);
  EXPECT_EQ(ModifiesReceived(), modifies);
  EXPECT_EQ(ResultsByAddress().at(Address(1)), "cancelled; nothing was sent");
}

TEST_F(SiteViewE2eTest, TheSiteFileGoesBothWaysBetweenTheWindowAndTheCommandLine) {
  RefreshAndSelectAll();
  view_->SelectAddresses({Ip(1), Ip(2), Ip(kSilent)});
  const fs::path saved = work_ / "window-site.json";
  view_->BackUp(saved);
  AwaitIdle();
  const auto loaded = LoadSiteFile(saved);
  ASSERT_TRUE(std::holds_alternative<Json>(loaded)) << std::get<std::string>(loaded);
  // The silent clock is saved as who it is, without settings, as marindo-cli saves it.
  const Json& clocks = std::get<Json>(loaded).at("clocks");
  ASSERT_EQ(clocks.size(), 3u);
  EXPECT_TRUE(clocks[1].contains("text"));
  EXPECT_FALSE(clocks[2].contains("text"));
  EXPECT_EQ(ResultsByAddress().at(Address(1)), "saved");
  EXPECT_EQ(ResultsByAddress().at(Address(kSilent)), "No response from " + Address(kSilent) + "!");

  // marindo-cli reads the window's file: nothing to change on those clocks
  // (the silent one was saved without any).
  CloseView();
  std::ofstream(work_ / "password.txt") << "Tulip@KVX\n";
  fs::permissions(work_ / "password.txt", fs::perms::owner_read | fs::perms::owner_write);
  const std::string cli = "MARINDO_SETTINGS=" + (work_ / "cli-settings.ini").string() + " " + MARINDO_CLI +
                          " --password-file " + (work_ / "password.txt").string() + " ";
  const CommandOutcome check = RunCommand(cli + "restore --dry-run " + saved.string() + " </dev/null 2>&1");
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(check.out.find("→"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("no change"), std::string::npos) << check.out;

  // The window restores what marindo-cli saved, with one text changed.
  const CommandOutcome backup = RunCommand(cli + "backup " + Address(3) + " 2>/dev/null");
  ASSERT_EQ(backup.status, 0) << backup.out;
  PlainJson site = PlainJson::parse(backup.out);
  site["clocks"][0]["text"]["text"] = "RESTORED";
  const fs::path fromCli = WriteFile("cli-site.json", site.dump(2));
  OpenView();
  view_->Refresh();
  AwaitIdle();
  view_->SelectAddresses({Ip(3), Ip(4)});
  view_->Restore(fromCli);
  AwaitIdle();
  EXPECT_EQ(ResultsByAddress().at(Address(3)), "Modify success!");
  EXPECT_EQ(ResultsByAddress().at(Address(4)), "not in the file; nothing sent");
  EXPECT_EQ(SiteState().at(Address(3)).at("text").at("text"), "RESTORED");
  ASSERT_EQ(confirmations_.size(), 1u);
  EXPECT_NE(confirmations_[0].find("1 clock will change"), std::string::npos) << confirmations_[0];
  EXPECT_NE(confirmations_[0].find("RESTORED"), std::string::npos) << confirmations_[0];
}

TEST_F(SiteViewE2eTest, FirmwareGoesOnlyToClocksOfItsModelAndTheTableExportsWithTheResults) {
  RefreshAndSelectAll();
  const fs::path firmware = WriteFile("fw.tar", std::string(3000, 'F'));

  // An old-platform clock among them: no clock gets the file.
  view_->SelectAddresses({Ip(10), Ip(11)});
  view_->UpgradeFirmware(firmware);
  AwaitIdle();
  ASSERT_EQ(notifier_.messages.size(), 1u);
  EXPECT_EQ(notifier_.messages[0], Address(10) + ": Only type of .bin/.hex firmware files are supported");
  EXPECT_EQ(ReceivedCount("scale", code::kUpgradeAnnouncement), 0);
  EXPECT_TRUE(confirmations_.empty());

  view_->SelectAddresses({Ip(11), Ip(12), Ip(16)});
  view_->UpgradeFirmware(firmware);
  AwaitIdle(std::chrono::seconds(120));
  ASSERT_EQ(confirmations_.size(), 1u);
  const std::map<std::string, std::string> results = ResultsByAddress();
  const std::map<std::string, PlainJson> state = SiteState();
  for (int clock : {11, 12, 16}) {
    EXPECT_EQ(results.at(Address(clock)), "Upgrade success") << Address(clock);
    const PlainJson& uploads = state.at(Address(clock)).at("uploads");
    ASSERT_EQ(uploads.size(), 1u) << Address(clock);
    EXPECT_EQ(uploads[0].at("bytes"), 3000) << Address(clock);
    EXPECT_TRUE(uploads[0].at("complete").get<bool>()) << Address(clock);
  }
  EXPECT_TRUE(state.at(Address(13)).at("uploads").empty());

  // The table as shown: sorted by result, the upgraded clocks come first;
  // filtered, only they are written.
  view_->Table().sortByColumn(SiteTableModel::kResult, Qt::DescendingOrder);
  const fs::path csv = work_ / "clocks.csv";
  ASSERT_TRUE(view_->ExportCsv(csv));
  const std::string all = FileText(csv);
  const std::size_t headerEnd = all.find("\r\n");
  EXPECT_EQ(all.substr(0, headerEnd),
            "Name,Address,Serial,MAC,Model,Firmware,Last sync,Sync age,Sync server,State,Result");
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), kClocks + 1);
  const std::string firstRow = all.substr(headerEnd + 2, all.find("\r\n", headerEnd + 2) - headerEnd - 2);
  EXPECT_TRUE(firstRow.ends_with(",Upgrade success")) << firstRow;
  view_->findChild<QLineEdit*>("filter")->setText("Upgrade success");
  ASSERT_TRUE(view_->ExportCsv(csv));
  const std::string filtered = FileText(csv);
  EXPECT_EQ(std::count(filtered.begin(), filtered.end(), '\n'), 4) << filtered;
}

TEST_F(SiteViewE2eTest, ClosingDuringAWriteAsksThenStopsWithEveryResultTrue) {
  // Four clocks at a time, each taking 80 ms to store a change: the close
  // comes while most clocks have not been written yet.
  CloseView();
  OpenView(4);
  RefreshAndSelectAll();
  const fs::path file = WriteFile("text.json", R"({"text": {"text": "HALF WAY"}})");
  bool closed = false;
  const auto closeSoon = [&] {
    QTimer::singleShot(300, view_.get(), [&] {
      EXPECT_TRUE(view_->Busy());
      answer_ = false;
      EXPECT_FALSE(view_->close()) << "closed without asking";
      answer_ = true;
      closed = view_->close();
    });
  };
  // The close comes 0.3 s into the writes, after the confirmation.
  view_->SetConfirm([&](const QString& title, const QString& details) {
    confirmations_.push_back((title + "\n" + details).toStdString());
    if (confirmations_.size() == 1) closeSoon();
    return answer_;
  });
  view_->ApplySection(Section::Text, SectionSource{std::nullopt, file});
  AwaitIdle();
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!closed && std::chrono::steady_clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  ASSERT_TRUE(closed);
  EXPECT_FALSE(view_->isVisible());
  // The apply's confirmation, then the two questions of the close.
  ASSERT_EQ(confirmations_.size(), 3u);

  // Each result line says what the clock holds: written, refused, silent, or
  // not sent at all, and no clock got a part of the frame.
  const std::map<std::string, std::string> results = ResultsByAddress();
  const std::map<std::string, PlainJson> state = SiteState();
  int written = 0;
  int notSent = 0;
  for (int clock = 1; clock <= kClocks; ++clock) {
    const std::string address = Address(clock);
    const std::string& result = results.at(address);
    const std::string text = state.at(address).at("text").at("text");
    if (result == "Modify success!") {
      ++written;
      EXPECT_EQ(text, "HALF WAY") << address;
    } else if (result == "not sent") {
      ++notSent;
      EXPECT_EQ(text, "") << address;
      EXPECT_FALSE(state.at(address).at("lastWrite").contains("0B")) << address;
    } else if (clock == kSilent) {
      EXPECT_EQ(result, "No response from " + address + "!");
    } else {
      EXPECT_TRUE(Refusing(clock)) << address << ": " << result;
      EXPECT_EQ(result, "Modify failed!") << address;
      EXPECT_EQ(text, "") << address;
    }
  }
  EXPECT_GT(written, 0);
  EXPECT_GT(notSent, 0);
}

}  // namespace
}  // namespace marindo::e2e
