// The "System  Info" page: addresses, uptime, the firmware chooser and the
// whole upgrade, with the clock link on loopback and TFTP in memory.

#include "maint/System.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest/QTest>

#include "maint/pages/MaintPagesTestSupport.h"
#include "widgets/Ipv4Edit.h"

namespace marindo {
namespace {

using namespace marindo::testing;

constexpr std::uint32_t kOther = 0x7F000002;  // 127.0.0.2
const Bytes kAnnouncement{0x51, 0x4B, 0x80, 0x02, 0x0C, 0x01, 0xE5, 0x54};
const char* const kFailed = "Upgrade failed\xEF\xBC\x81";

Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
  return bytes;
}

// What the page showed when a packet left.
struct Shown {
  std::string block;
  int barValue = 0;
  int barMaximum = 0;
  std::string counter;
};

class SystemPageTest : public ::testing::Test {
 protected:
  SystemPageTest()
      : link_(listener_.Port()),
        page_(link_.Link(), selection_, notifier_, nullptr, choosers_, Timings(), CodePage::Cp936, tftp_) {
    selection_.clocks = &link_.Link().Clocks();
  }

  void SetUp() override {
    tftp_.firmware["/fw/image.tar"] = Pattern(2560);
    tftp_.firmware["/fw/image.bin"] = Pattern(1000);
  }

  static TftpTimings Timings() {
    TftpTimings timings;
    timings.wait = std::chrono::microseconds(1);
    return timings;
  }

  void AddClock(std::uint32_t ip, bool newPlatform, std::array<std::uint8_t, 6> mac = {}) {
    ClockRecord record;
    record.ip = ip;
    record.newPlatform = newPlatform;
    record.mac = mac;
    link_.Link().Clocks().Append(record);
  }
  void SelectClock(bool newPlatform) {
    AddClock(kLoopback, newPlatform);
    selection_.selected = kLoopback;
  }

  template <typename T>
  T* Control(const char* name) {
    T* control = page_.findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QString Text(const char* name) {
    if (auto* edit = page_.findChild<QLineEdit*>(name)) return edit->text();
    return Control<QLabel>(name)->text();
  }
  void SetPath(const QString& path) { Control<QLineEdit>("path")->setText(path); }

  // The page as it stood each time a data packet left: the notification
  // for the block before it had just been shown.
  void RecordProgressAtEachDataPacket() {
    tftp_.onSend = [this](const Bytes& packet) {
      if (packet.size() < 4 || packet[1] != 3) return;
      auto* bar = Control<QProgressBar>("progress");
      shown_.push_back({Text("block").toStdString(), bar->value(), bar->maximum(),
                        Text("counter").toStdString()});
    };
  }

  std::size_t AnnouncementsReceived() {
    std::size_t count = 0;
    for (const Bytes& datagram : listener_.Received()) {
      EXPECT_EQ(datagram, kAnnouncement);
      ++count;
    }
    return count;
  }

  LoopbackListener listener_;
  ListSelection selection_;
  LoopbackLink link_;
  RecordingNotifier notifier_;
  AnsweringChoosers choosers_;
  MemoryTftp tftp_;
  System page_;
  std::vector<Shown> shown_;
};

TEST_F(SystemPageTest, ControlsOfTheTemplate) {
  page_.show();
  for (const char* name : {"path", "mac"}) EXPECT_TRUE(Control<QLineEdit>(name)->isVisible()) << name;
  EXPECT_TRUE(Control<Ipv4Edit>("upgradeAddress")->isVisible());
  EXPECT_EQ(Control<QPushButton>("choose")->text(), "....");
  EXPECT_EQ(Control<QGroupBox>("updateGroup")->title(), "Update");
  EXPECT_TRUE(Text("counter").isEmpty());
  EXPECT_TRUE(Text("block").isEmpty());
  EXPECT_EQ(Control<QProgressBar>("progress")->value(), 0);
  // Kept but never shown.
  for (const char* name : {"update", "uptime", "secretKeySetting", "newKey", "confirmKey"}) {
    EXPECT_FALSE(page_.findChild<QWidget*>(name)->isVisible()) << name;
  }
  EXPECT_EQ(Control<QLineEdit>("newKey")->echoMode(), QLineEdit::Password);
}

TEST_F(SystemPageTest, ShowAddressesKeepsThePreviousClockForAnUnknownAddress) {
  AddClock(kLoopback, true, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
  page_.ShowAddresses(kLoopback);
  EXPECT_EQ(Control<Ipv4Edit>("upgradeAddress")->Address(), kLoopback);
  EXPECT_EQ(Text("mac"), "00-1A-2B-3C-4D-5E");

  for (std::uint32_t unknown : {kOther, 0u}) {
    page_.ShowAddresses(unknown);
    EXPECT_EQ(Control<Ipv4Edit>("upgradeAddress")->Address(), kLoopback);
    EXPECT_EQ(Text("mac"), "00-1A-2B-3C-4D-5E");
  }
}

TEST_F(SystemPageTest, ShowUptimeFallsBackToTheTextLead) {
  struct Case {
    std::uint16_t uptimeDays;
    std::uint8_t textLead;
    const char* shown;
  };
  const Case cases[] = {{300, 12, "300"}, {0, 12, "12"}, {0, 0, "0"}, {65535, 0, "65535"}};
  AddClock(kLoopback, true);
  for (const Case& c : cases) {
    ClockRecord* record = link_.Link().FindByIp(kLoopback);
    record->uptimeDays = c.uptimeDays;
    record->textLead = c.textLead;
    page_.ShowUptime(kLoopback);
    EXPECT_EQ(Text("uptime"), c.shown);
  }
  page_.ShowUptime(kOther);
  EXPECT_EQ(Text("uptime"), "65535");
}

TEST_F(SystemPageTest, ChooserOffersTheModelsTypesAndChecksTheChoice) {
  page_.ChooseFirmware();  // no clock selected: no chooser
  EXPECT_TRUE(choosers_.filters.empty());

  SelectClock(true);
  SetPath("/fw/old.tar");
  choosers_.answer = "";  // cancelled
  page_.ChooseFirmware();
  EXPECT_EQ(choosers_.filters, std::vector<QString>{"*.tar (*.tar)"});
  EXPECT_EQ(Text("path"), "/fw/old.tar");

  choosers_.answer = "/fw/image.bin";
  page_.ChooseFirmware();
  EXPECT_EQ(Text("path"), "/fw/old.tar");
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Only type of .tar firmware files is supported"});

  choosers_.answer = "/fw/new.tar.gz";
  page_.ChooseFirmware();
  EXPECT_EQ(Text("path"), "/fw/new.tar.gz");
  EXPECT_EQ(notifier_.messages.size(), 1u);

  link_.Link().FindByIp(kLoopback)->newPlatform = false;
  choosers_.answer = "";
  Control<QPushButton>("choose")->click();
  EXPECT_EQ(choosers_.filters.back(), "*.bin (*.bin);;*.hex (*.hex)");
}

TEST_F(SystemPageTest, RefusedPathSendsNothing) {
  struct Case {
    bool newPlatform;
    const char* path;
    const char* message;
  };
  const Case cases[] = {
      {true, "C:\\fw\\image.bin", "Only type of .tar firmware files is supported"},
      {false, "C:\\fw\\image.tar", "Only type of .bin/.hex firmware files are supported"},
      {false, "C:\\fw\\IMAGE.BIN", "Only type of .bin/.hex firmware files are supported"},
      {true, "", "Only type of .tar firmware files is supported"},
  };
  AddClock(kLoopback, false);
  selection_.selected = kLoopback;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    link_.Link().FindByIp(kLoopback)->newPlatform = c.newPlatform;
    notifier_.messages.clear();
    SetPath(c.path);
    page_.StartUpgrade();
    EXPECT_EQ(notifier_.messages, std::vector<std::string>{c.message});
  }
  EXPECT_EQ(AnnouncementsReceived(), 0u);
  EXPECT_EQ(tftp_.socketsOpened, 0);
}

TEST_F(SystemPageTest, NoClockSelectedDoesNothing) {
  SetPath("/fw/image.tar");
  page_.StartUpgrade();
  EXPECT_TRUE(notifier_.messages.empty());
  EXPECT_EQ(AnnouncementsReceived(), 0u);
  EXPECT_EQ(tftp_.socketsOpened, 0);
}

TEST_F(SystemPageTest, UpgradeOf2560BytesShowsEveryBlockAndCountsTheRun) {
  SelectClock(true);
  SetPath("/fw/image.tar");
  RecordProgressAtEachDataPacket();
  page_.StartUpgrade();

  // The silent clock port heard the announcement three times; the upload went on.
  EXPECT_EQ(AnnouncementsReceived(), 3u);
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Upgrade success"});
  ASSERT_EQ(shown_.size(), 6u);  // data blocks 1 to 6, the last one empty
  EXPECT_EQ(shown_[0].block, "");
  const char* percents[] = {"20.00", "40.00", "60.00", "80.00", "100.00"};
  for (int k = 1; k <= 5; ++k) {
    SCOPED_TRACE(k);
    const Shown& s = shown_[static_cast<std::size_t>(k)];
    EXPECT_EQ(s.block, "Block# " + std::to_string(k) + " , Size#" + std::to_string(k * 512) + " bytes ( " +
                           percents[k - 1] + " % )");
    EXPECT_EQ(s.barValue, k);
    EXPECT_EQ(s.barMaximum, 5);
    EXPECT_EQ(s.counter, "");
  }
  EXPECT_EQ(Text("block"), "Block# 6 , Size#2560 bytes ( 100 % )");
  EXPECT_EQ(Text("counter"), "Total Update: 1");

  // A second clock in the same run: the counter goes on, the bar starts again.
  AddClock(kOther, false);
  selection_.selected = kOther;
  tftp_.clockIp = kOther;
  SetPath("/fw/image.bin");
  shown_.clear();
  page_.StartUpgrade();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Upgrade success", "Upgrade success"}));
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[0].barValue, 1);  // the old range's start: the bar is empty
  EXPECT_EQ(shown_[1].block, "Block# 1 , Size#512 bytes ( 51.20 % )");
  EXPECT_EQ(Text("block"), "Block# 2 , Size#1000 bytes ( 100 % )");
  EXPECT_EQ(Text("counter"), "Total Update: 2");
  EXPECT_EQ(page_.UpgradeCount(), 2u);
}

// A failed upgrade after a successful one shows none of the old progress.
TEST_F(SystemPageTest, ANewUpgradeStartsWithoutTheLastOnesProgress) {
  SelectClock(true);
  SetPath("/fw/image.tar");
  page_.StartUpgrade();
  ASSERT_EQ(Text("block"), "Block# 6 , Size#2560 bytes ( 100 % )");
  tftp_.silent = true;
  page_.StartUpgrade();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Upgrade success", kFailed}));
  EXPECT_EQ(Text("block"), "");
  auto* bar = Control<QProgressBar>("progress");
  EXPECT_EQ(bar->value(), bar->minimum());
  EXPECT_EQ(Text("counter"), "Total Update: 1");
}

TEST_F(SystemPageTest, SilentTftpFailsAndKeepsTheCounter) {
  SelectClock(true);
  SetPath("/fw/image.tar");
  tftp_.silent = true;
  page_.StartUpgrade();
  EXPECT_EQ(AnnouncementsReceived(), 3u);
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{kFailed});
  EXPECT_EQ(tftp_.sent.size(), 10u);  // the write request, ten times
  EXPECT_EQ(Text("counter"), "");
  EXPECT_EQ(page_.UpgradeCount(), 0u);
}

// The clock reads the file name in its code page: two bytes a character in CP936.
TEST_F(SystemPageTest, FileNameGoesToTheClockInItsCodePage) {
  SelectClock(true);
  tftp_.firmware["/fw/固件.tar"] = Pattern(100);
  SetPath(QString::fromUtf8("/fw/固件.tar"));
  page_.StartUpgrade();
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Upgrade success"});
  ASSERT_FALSE(tftp_.sent.empty());
  const Bytes& request = tftp_.sent.front().bytes;
  const std::string name = ToCodePage("固件.tar", CodePage::Cp936);
  ASSERT_EQ(name.size(), 8u);
  EXPECT_EQ(std::string(request.begin() + 2, request.begin() + 2 + static_cast<std::ptrdiff_t>(name.size())), name);
}

TEST_F(SystemPageTest, UnreadableFileFails) {
  SelectClock(true);
  SetPath("/fw/missing.tar");
  page_.StartUpgrade();
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{kFailed});
  EXPECT_TRUE(tftp_.sent.empty());
}

TEST_F(SystemPageTest, HugeFileKeepsTheBarInRange) {
  const std::uint64_t length = (1ull << 40) * 512;
  page_.Block(1ull << 40, length);
  auto* bar = Control<QProgressBar>("progress");
  EXPECT_GT(bar->maximum(), 1);
  EXPECT_EQ(bar->value(), bar->maximum());
  page_.Block(1ull << 39, length);
  EXPECT_NEAR(bar->value(), bar->maximum() / 2, 1);
}

// An ignored key would travel on to the main window and press Modify or close it.
TEST_F(SystemPageTest, EnterAndEscapeStopAtThePage) {
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_A}) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&page_, &event);
    EXPECT_EQ(event.isAccepted(), key != Qt::Key_A) << key;
  }
}

}  // namespace
}  // namespace marindo
