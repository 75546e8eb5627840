// The real main window against simulated clocks on the test LAN: the
// operator's search, a click on a clock, and Modify with no clock selected.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "E2eSupport.h"
#include "app/CMarindoDlg.h"

namespace marindo::e2e {
namespace {

// Every datagram a simulator received on the clock port.
int ReceivedTotal(const std::string& sim) {
  const std::string path = (RunFolder() / (sim + ".record.jsonl")).string();
  return std::atoi(Shell(Python() + " -c 'import json; print(sum(1 for l in open(\"" + path +
                         "\") if json.loads(l).get(\"proto\")==\"clock\"))'")
                       .c_str());
}

class MainWindowE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    settings_ = RunFolder() / "window-settings.ini";
    window_ = std::make_unique<CMarindoDlg>(PlatformServices{notifier_, adapters_, neighbours_, probe_}, settings_);
    window_->show();
    tree_ = window_->findChild<QTreeWidget*>("clockTree");
    ASSERT_NE(tree_, nullptr);
  }

  void Click(const char* button) {
    QTest::mouseClick(window_->findChild<QAbstractButton*>(button), Qt::LeftButton);
  }

  void ClickTab(int index) {
    QTabBar* bar = window_->findChild<QTabWidget*>("pageTabs")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
  }

  void ClickItem(const QString& text) {
    const QList<QTreeWidgetItem*> items = tree_->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(items.size(), 1) << text.toStdString();
    QTest::mouseClick(tree_->viewport(), Qt::LeftButton, Qt::NoModifier, tree_->visualItemRect(items[0]).center());
  }

  void ClickEmptySpace() {
    QTest::mouseClick(tree_->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(tree_->viewport()->width() / 2, tree_->viewport()->height() - 5));
  }

  RecordingNotifier notifier_;
  SystemAdapters adapters_;
  SystemNeighbours neighbours_;
  TcpPortProbe probe_;
  std::filesystem::path settings_;
  std::unique_ptr<CMarindoDlg> window_;
  QTreeWidget* tree_ = nullptr;
};

TEST_F(MainWindowE2eTest, SearchThenClickQueriesTheClockForTheShowingTab) {
  Click("searchButton");
  ASSERT_EQ(tree_->topLevelItemCount(), 1);
  const QTreeWidgetItem* root = tree_->topLevelItem(0);
  EXPECT_EQ(root->text(0), "IP(SN)Total:2");
  ASSERT_EQ(root->childCount(), 2);
  EXPECT_EQ(root->child(0)->text(0), "10.213.0.40 (LOBBY40)");
  EXPECT_EQ(root->child(1)->text(0), "10.213.0.41 (HALL41)");
  EXPECT_EQ(ReceivedCount("lobby", 1), 3);  // three broadcast passes

  ClickItem("10.213.0.40 (LOBBY40)");
  ASSERT_EQ(window_->SelectedClockIp(), std::optional<std::uint32_t>(0x0AD50028));
  // The Basic tab shows: a unicast search refreshes the clock, then query 0x02.
  EXPECT_EQ(ReceivedCount("lobby", 1), 4);
  EXPECT_EQ(ReceivedCount("lobby", 2), 1);
  EXPECT_EQ(ReceivedTotal("hall"), 3);
  EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(MainWindowE2eTest, ModifyWithoutASelectedClockSendsNothing) {
  Click("searchButton");
  ClickItem("10.213.0.41 (HALL41)");
  ClickEmptySpace();
  ASSERT_FALSE(window_->SelectedClockIp().has_value());
  ClickTab(3);  // bells: no clock, no frame, no message
  const int lobby = ReceivedTotal("lobby");
  const int hall = ReceivedTotal("hall");
  Click("modifyButton");
  ClickTab(1);  // NTP servers: the page was only cleared, so it refuses
  Click("modifyButton");
  EXPECT_EQ(ReceivedTotal("lobby"), lobby);
  EXPECT_EQ(ReceivedTotal("hall"), hall);
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"请选择NTP模式(ip或域名)"}));
}

}  // namespace
}  // namespace marindo::e2e
