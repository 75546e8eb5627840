// The NTP servers page against simulated clocks on the test LAN: the page
// shows what the clock reported, the operator changes one server, and the
// clock ends up with exactly that change. Runs inside the tool's namespace
// (see tests/e2e/CMakeLists.txt).

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "E2eSupport.h"
#include "WindowModify.h"
#include "link/CommandCodes.h"
#include "pages/Server.h"
#include "widgets/Ipv4Edit.h"

namespace marindo::e2e {
namespace {

constexpr std::uint32_t kAddressClock = 0x0AD5000A;  // 10.213.0.10, servers as addresses
constexpr std::uint32_t kNameClock = 0x0AD5000B;     // 10.213.0.11, servers as names
constexpr int kModifyServers = 0x07;

class NtpPageE2eTest : public ::testing::Test {
 protected:
  NtpPageE2eTest()
      : names_(RunFolder() / "ntp-names.ini", CodePage::Cp1252),
        link_(LinkServices{adapters_, neighbours_, probe_, names_}),
        page_(selection_, notifier_, nullptr, CodePage::Cp1252) {
    selection_.link = &link_;
    page_.show();
  }

  void SetUp() override {
    if (RunFolder().empty()) GTEST_SKIP() << "not running inside the test LAN";
    for (const char* clock : {"addresses", "names"}) ASSERT_EQ(Control(clock, "reset"), 0);
  }

  // What a click on the clock does with the "NTPs Info" tab showing.
  void ClickClock(std::uint32_t ip) {
    page_.ClearServers();
    ASSERT_TRUE(link_.SearchUnicast(ip));
    selection_.selected = ip;
    ASSERT_TRUE(link_.Query(ip, code::kQueryServers));
    page_.ShowServers(selection_.SelectedRecord());
  }

  void Modify() { ModifyAsTheWindow(link_, selection_.selected, page_.BuildServerFrame(), notifier_); }

  template <class T>
  T* Widget(const char* name) {
    T* widget = page_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  // The operator types each octet into its own field.
  static void TypeAddress(Ipv4Edit* field, const std::array<const char*, 4>& octets) {
    field->ClearAddress();
    for (std::size_t i = 0; i < octets.size(); ++i) QTest::keyClicks(field->Octet(static_cast<int>(i)), octets[i]);
  }

  std::string Servers(const char* sim) { return SimState(sim, "c[\"ntp\"][\"servers\"]"); }
  std::string Names(const char* sim) { return SimState(sim, "c[\"ntp\"][\"names\"]"); }

  RecordingNotifier notifier_;
  LinkSelection selection_;
  ClockNames names_;
  SystemAdapters adapters_;
  SystemNeighbours neighbours_;
  TcpPortProbe probe_;
  ClockLink link_;
  Server page_;
};

TEST_F(NtpPageE2eTest, ChangedAddressReachesTheClockAndNothingElseChanges) {
  ClickClock(kAddressClock);
  auto* row3 = Widget<Ipv4Edit>("address3");
  ASSERT_TRUE(Widget<QRadioButton>("timeServerIp")->isChecked());
  ASSERT_EQ(Widget<Ipv4Edit>("address2")->Address(), 0x0AD50002u);
  TypeAddress(row3, {"10", "213", "0", "3"});
  ASSERT_EQ(row3->Address(), 0x0AD50003u);

  const int sentBefore = ReceivedCount("addresses", kModifyServers);
  Modify();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Modify success!"}));
  EXPECT_EQ(ReceivedCount("addresses", kModifyServers) - sentBefore, 1);
  EXPECT_EQ(SimState("addresses", "c[\"modifyCount\"].get(\"07\")"), "1");
  EXPECT_EQ(SimState("addresses", "c[\"lastWrite\"][\"07\"]"),
            "0700" "0ad50001" "0ad50002" "0ad50003" "00000000" "00000000");
  EXPECT_EQ(SimState("addresses", "c[\"ntp\"][\"mode\"]"), "0");
  EXPECT_EQ(Servers("addresses"), "['10.213.0.1', '10.213.0.2', '10.213.0.3', '0.0.0.0', '0.0.0.0']");
  EXPECT_EQ(Names("addresses"), "['keep.example', '']");

  // Shown again from the clock's answer.
  ClickClock(kAddressClock);
  EXPECT_EQ(row3->Address(), 0x0AD50003u);
}

TEST_F(NtpPageE2eTest, ChangedNameReachesTheClock) {
  ClickClock(kNameClock);
  ASSERT_TRUE(Widget<QRadioButton>("domain")->isChecked());
  auto* second = Widget<QLineEdit>("name2");
  ASSERT_EQ(second->text(), "time.example");
  second->clear();
  QTest::keyClicks(second, "ntp.example.org");

  Modify();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Modify success!"}));
  EXPECT_EQ(SimState("names", "c[\"ntp\"][\"mode\"]"), "1");
  EXPECT_EQ(Names("names"), "['pool.ntp.org', 'ntp.example.org']");
  EXPECT_EQ(SimState("names", "c[\"ntp\"][\"namesHex\"][1][30:]"), std::string(30, '0'));
  EXPECT_EQ(Servers("names"), "['10.213.0.5', '0.0.0.0', '0.0.0.0', '0.0.0.0', '0.0.0.0']");
}

TEST_F(NtpPageE2eTest, SwitchingAClockToNamesWritesTheNameForm) {
  ClickClock(kAddressClock);
  Widget<QRadioButton>("domain")->click();
  QTest::keyClicks(Widget<QLineEdit>("name1"), "pool.ntp.org");

  Modify();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Modify success!"}));
  EXPECT_EQ(SimState("addresses", "c[\"ntp\"][\"mode\"]"), "1");
  EXPECT_EQ(Names("addresses"), "['pool.ntp.org', '']");
}

TEST_F(NtpPageE2eTest, RefusedModifyIsReportedAndChangesNothing) {
  ClickClock(kAddressClock);
  ASSERT_EQ(Control("addresses", "faults refuse=true"), 0);
  Widget<Ipv4Edit>("address1")->ClearAddress();

  Modify();
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Modify failed!"}));
  EXPECT_EQ(Servers("addresses"), "['10.213.0.1', '10.213.0.2', '0.0.0.0', '0.0.0.0', '0.0.0.0']");
  EXPECT_EQ(SimState("addresses", "c[\"modifyCount\"].get(\"07\")"), "None");
}

}  // namespace
}  // namespace marindo::e2e
