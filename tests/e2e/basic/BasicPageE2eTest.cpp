// The "Basic  Info" page against a simulated clock on the test LAN: the page
// shows what the clock reported, the operator changes some controls, and the
// clock's stored settings change in exactly those fields. Runs inside the
// tool's namespace (see tests/e2e/CMakeLists.txt).

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <cstdio>
#include <filesystem>

#include "E2eSupport.h"
#include "WindowModify.h"
#include "link/CommandCodes.h"
#include "pages/Basic.h"
#include "widgets/Ipv4Edit.h"

namespace marindo::e2e {
namespace {

constexpr std::uint32_t kHall = 0x0AD50014;  // 10.213.0.20
constexpr const char* kSim = "hall";
constexpr int kModifyBasic = 0x06;

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

class BasicPageE2eTest : public ::testing::Test {
 protected:
  BasicPageE2eTest()
      : names_(RunFolder() / "settings-basic.ini", CodePage::Cp1252),
        page_(selection_, notifier_, nullptr, CodePage::Cp1252) {}

  // The link's socket is opened only inside the test LAN, never on this
  // machine's own interfaces.
  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    ASSERT_EQ(Control(kSim, "reset"), 0);
    link_.emplace(LinkServices{adapters_, neighbours_, probe_, names_});
    selection_.link = &*link_;
    ASSERT_TRUE(link_->Bound());
  }

  // What a click on the clock does with the Basic tab showing.
  void SelectAndShow() {
    page_.ClearBasic();
    ASSERT_TRUE(link_->SearchUnicast(kHall));
    selection_.selected = kHall;
    ASSERT_TRUE(link_->Query(kHall, code::kQueryBasic));
    page_.ShowBasicSettings(selection_.SelectedRecord());
    page_.ShowIdentity(selection_.SelectedRecord());
    std::filesystem::copy_file(StatePath(), BeforePath(), std::filesystem::copy_options::overwrite_existing);
    modifiesBefore_ = ReceivedCount(kSim, kModifyBasic);
  }

  // Modify frames the clock received since it was last shown; the record
  // file keeps every test's traffic.
  int ModifiesReceived() { return ReceivedCount(kSim, kModifyBasic) - modifiesBefore_; }

  void Modify() { ModifyAsTheWindow(*link_, selection_.selected, page_.BuildBasicFrame(), notifier_); }

  // The clock's basic fields that differ from what it held when shown.
  std::string ChangedFields() {
    return SimState(kSim, "sorted(k for k in c[\"basic\"] if k != \"hex\" and c[\"basic\"][k] != json.load(open(\"" +
                              BeforePath().string() + "\"))[\"clocks\"][0][\"basic\"][k])");
  }

  void Choose(const char* list, const char* text) {
    auto* box = page_.findChild<QComboBox*>(list);
    ASSERT_NE(box, nullptr) << list;
    const int index = box->findText(text);
    ASSERT_GE(index, 0) << text;
    box->setCurrentIndex(index);
  }
  void Click(const char* radio) {
    auto* button = page_.findChild<QRadioButton*>(radio);
    ASSERT_NE(button, nullptr) << radio;
    button->click();
  }
  QString Shown(const char* name) {
    if (auto* box = page_.findChild<QComboBox*>(name)) return box->currentText();
    if (auto* label = page_.findChild<QLabel*>(name)) return label->text();
    ADD_FAILURE() << name;
    return {};
  }

  static std::filesystem::path StatePath() { return RunFolder() / "hall.state.json"; }
  static std::filesystem::path BeforePath() { return RunFolder() / "hall.before.json"; }

  RecordingNotifier notifier_;
  LinkSelection selection_;
  SystemAdapters adapters_;
  SystemNeighbours neighbours_;
  TcpPortProbe probe_;
  ClockNames names_;
  std::optional<ClockLink> link_;
  int modifiesBefore_ = 0;
  Basic page_;
};

TEST_F(BasicPageE2eTest, OperatorsChangesReachTheClockAndNothingElse) {
  SelectAndShow();
  EXPECT_EQ(Shown("firmwareVersion"), "1.05");
  EXPECT_EQ(Shown("serial"), "HALL0001");
  EXPECT_EQ(Shown("zone"), "UTC -9:30");
  EXPECT_EQ(Shown("dstStartMonth"), "Mar");
  EXPECT_EQ(Shown("energyFrom"), "22");
  EXPECT_EQ(Shown("brightness"), "Bright");

  Choose("zone", "UTC +5:45");
  Choose("brightness", "Brilliant");
  Click("hour24");
  const std::optional<ClockFrame> frame = page_.BuildBasicFrame();
  ASSERT_TRUE(frame);
  ModifyAsTheWindow(*link_, selection_.selected, frame, notifier_);

  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Modify success!"});
  EXPECT_EQ(ModifiesReceived(), 1);
  EXPECT_EQ(SimState(kSim, "c[\"lastWrite\"][\"06\"]"), Hex(frame->Payload()));
  EXPECT_EQ(ChangedFields(), "['brightness', 'hour24', 'zoneHours', 'zoneMinuteCode', 'zoneNegative']");
  EXPECT_EQ(SimState(kSim, "(c[\"basic\"][\"zoneHours\"], c[\"basic\"][\"zoneMinuteCode\"], c[\"basic\"][\"brightness\"])"),
            "(5, 2, 4)");

  // The next visit shows what the clock now holds.
  SelectAndShow();
  EXPECT_EQ(Shown("zone"), "UTC +5:45");
  EXPECT_EQ(Shown("brightness"), "Brilliant");
}

TEST_F(BasicPageE2eTest, DynamicModeClearsOnlyTheClocksOwnAddress) {
  SelectAndShow();
  Click("dynamicIp");
  Modify();
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Modify success!"});
  // Mask, gateway and DNS go out from the disabled fields and stay as they were.
  EXPECT_EQ(ChangedFields(), "['dynamicIp', 'ipAddress']");
  EXPECT_EQ(SimState(kSim, "c[\"basic\"][\"ipAddress\"]"), "0.0.0.0");
}

TEST_F(BasicPageE2eTest, RefusedModifyIsReportedAndChangesNothing) {
  SelectAndShow();
  ASSERT_EQ(Control(kSim, "faults refuse=true"), 0);
  Choose("brightness", "Dim");
  Modify();
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Modify failed!"});
  EXPECT_EQ(ModifiesReceived(), 1);
  EXPECT_EQ(ChangedFields(), "[]");
}

TEST_F(BasicPageE2eTest, RefusedInputSendsNothing) {
  SelectAndShow();
  auto* address = page_.findChild<Ipv4Edit*>("ipAddress");
  ASSERT_NE(address, nullptr);
  address->SetAddress(0xFFFFFFFF);
  Modify();
  EXPECT_EQ(notifier_.messages, std::vector<std::string>{"Please input a valid IP address"});
  EXPECT_EQ(ModifiesReceived(), 0);
  EXPECT_EQ(ChangedFields(), "[]");
}

}  // namespace
}  // namespace marindo::e2e
