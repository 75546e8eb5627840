// The System and Log pages against a simulated new-platform clock on the test
// LAN: the firmware goes up by TFTP after the announcement, the log comes
// down into a folder of ours. Runs inside the tool's namespace (see
// tests/e2e/CMakeLists.txt).

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "E2eSupport.h"
#include "link/CommandCodes.h"
#include "maint/Log.h"
#include "maint/System.h"
#include "widgets/Ipv4Edit.h"

namespace marindo::e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kTower = 0x0AD5001E;  // 10.213.0.30
constexpr const char* kSim = "tower";
constexpr int kAnnouncement = 0x0C;
constexpr std::size_t kFirmwareSize = 2000;  // three full blocks and 464 bytes

// Nobody answers a chooser here: the tests type into the fields.
class NoChoosers : public MaintChoosers {
 public:
  QString OpenFile(const QString&) override { return {}; }
  QString ExistingFolder() override { return {}; }
};

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class MaintPagesE2eTest : public ::testing::Test {
 protected:
  MaintPagesE2eTest() : names_(RunFolder() / "settings-maint.ini", CodePage::Cp1252) {}

  // The link's socket is opened only inside the test LAN, never on this
  // machine's own interfaces.
  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    ASSERT_EQ(Control(kSim, "reset"), 0);
    link_.emplace(LinkServices{adapters_, neighbours_, probe_, names_});
    selection_.link = &*link_;
    ASSERT_TRUE(link_->Bound());
    work_ = RunFolder() / ("maint-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(work_);
    fs::create_directories(work_);
  }

  // A click on the clock in the tree, then what bringing up the System tab does.
  void SelectClock() {
    ASSERT_TRUE(link_->SearchUnicast(kTower));
    selection_.selected = kTower;
    ASSERT_TRUE(selection_.SelectedRecord()->newPlatform);
  }
  void ShowSystemTab(System& page) {
    ASSERT_TRUE(link_->Query(kTower, code::kQuerySystem));
    page.ShowUptime(kTower);
    page.ShowAddresses(kTower);
  }

  fs::path WriteFirmware(const std::string& name) {
    std::string bytes(kFirmwareSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    const fs::path path = work_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string Sha256(const fs::path& path) {
    return Shell("sha256sum '" + path.string() + "' | cut -d' ' -f1");
  }

  template <typename T>
  static T* Find(QWidget& page, const char* name) {
    T* control = page.findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }

  RecordingNotifier notifier_;
  LinkSelection selection_;
  SystemAdapters adapters_;
  SystemNeighbours neighbours_;
  TcpPortProbe probe_;
  ClockNames names_;
  std::optional<ClockLink> link_;
  NoChoosers choosers_;
  fs::path work_;
};

TEST_F(MaintPagesE2eTest, FirmwareReachesTheClockWhole) {
  System page(*link_, selection_, notifier_, nullptr, choosers_, {}, CodePage::Cp1252);
  SelectClock();
  ShowSystemTab(page);
  EXPECT_EQ(Find<Ipv4Edit>(page, "upgradeAddress")->Address(), kTower);
  EXPECT_EQ(Find<QLineEdit>(page, "mac")->text(), "02-13-0A-D5-00-1E");
  EXPECT_EQ(Find<QLabel>(page, "uptime")->text(), "300");

  const fs::path firmware = WriteFirmware("tower-fw.tar");
  Find<QLineEdit>(page, "path")->setText(QString::fromStdString(firmware.string()));
  page.StartUpgrade();

  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Upgrade success"});
  EXPECT_GE(ReceivedCount(kSim, kAnnouncement), 1);
  EXPECT_EQ(SimState(kSim, "len(c[\"uploads\"])"), "1");
  EXPECT_EQ(SimState(kSim, "(c[\"uploads\"][0][\"name\"], c[\"uploads\"][0][\"complete\"], c[\"uploads\"][0][\"bytes\"], "
                           "c[\"uploads\"][0][\"tsizeMatches\"])"),
            "('tower-fw.tar', True, 2000, True)");
  EXPECT_EQ(SimState(kSim, "c[\"uploads\"][0][\"sha256\"]"), Sha256(firmware));
  EXPECT_EQ(Find<QLabel>(page, "block")->text(), "Block# 4 , Size#2000 bytes ( 100 % )");
  EXPECT_EQ(Find<QLabel>(page, "counter")->text(), "Total Update: 1");
}

TEST_F(MaintPagesE2eTest, SilentTftpFailsTheUpgrade) {
  TftpTimings shortWaits;
  shortWaits.wait = std::chrono::milliseconds(100);
  System page(*link_, selection_, notifier_, nullptr, choosers_, shortWaits, CodePage::Cp1252);
  SelectClock();
  ShowSystemTab(page);
  ASSERT_EQ(Control(kSim, "faults tftpSilent=true"), 0);
  Find<QLineEdit>(page, "path")->setText(QString::fromStdString(WriteFirmware("silent.tar").string()));
  page.StartUpgrade();

  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Upgrade failed\xEF\xBC\x81"});
  EXPECT_GE(ReceivedCount(kSim, kAnnouncement), 1);
  EXPECT_EQ(SimState(kSim, "[u[\"complete\"] for u in c[\"uploads\"]]"), "[]");
  EXPECT_EQ(Find<QLabel>(page, "counter")->text(), "");
}

TEST_F(MaintPagesE2eTest, LogArrivesByteForByteAndIsNeverOverwritten) {
  Log page(selection_, notifier_, nullptr, choosers_, {}, CodePage::Cp1252);
  SelectClock();
  page.RefreshLogFields();
  ASSERT_EQ(Find<QLineEdit>(page, "fileName")->text(), "log.txt");
  const fs::path folder = work_ / "logs";
  fs::create_directories(folder);
  Find<QLineEdit>(page, "savePath")->setText(QString::fromStdString(folder.string()));

  page.StartDownload();
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Log file 10.213.0.30log.txt download done."});
  const fs::path local = folder / "10.213.0.30log.txt";
  const std::string served = FileBytes(RunFolder() / "tftp" / "10.213.0.30" / "log" / "log.txt");
  ASSERT_GT(served.size(), 1024u);  // several blocks
  EXPECT_EQ(FileBytes(local), served);
  EXPECT_EQ(SimState(kSim, "c[\"downloads\"][-1][\"complete\"]"), "True");

  notifier_.messages.clear();
  page.StartDownload();
  EXPECT_EQ(notifier_.messages,
            std::vector<std::string>{"Log file 10.213.0.30log.txt already exists in the current path, please "
                                     "rename the existing one or change the saving directory."});
  EXPECT_EQ(FileBytes(local), served);
}

}  // namespace
}  // namespace marindo::e2e
