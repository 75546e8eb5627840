// The NTP servers page: what it shows of a clock, how the operator switches
// between addresses and names, and the modify frame it builds, byte for byte.

#include "pages/Server.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QVBoxLayout>

#include <cstring>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "widgets/Ipv4Edit.h"

namespace marindo {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RecordingNotifier : public Notifier {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

class OneClockSelection : public ClockSelection {
 public:
  std::optional<std::uint32_t> SelectedClockIp() const override {
    return record ? std::optional<std::uint32_t>(record->ip) : std::nullopt;
  }
  ClockRecord* SelectedRecord() override { return record; }
  ClockRecord* record = nullptr;
};

template <std::size_t N>
void Put(std::array<char, N>& field, std::string_view bytes) {
  field.fill('\0');
  std::memcpy(field.data(), bytes.data(), std::min(bytes.size(), N));
}

ClockRecord AddressClock(const std::vector<std::string>& addresses) {
  ClockRecord r;
  r.ip = 0x0A000064;
  r.ntpMode = 0;
  for (std::size_t i = 0; i < addresses.size(); ++i) Put(r.ntpServers[i].address, addresses[i]);
  return r;
}

ClockRecord NameClock(std::string_view first, std::string_view second) {
  ClockRecord r = AddressClock({"10.0.0.1", "10.0.0.2", "0.0.0.0", "0.0.0.0", "0.0.0.0"});
  r.ntpMode = 1;
  Put(r.ntpServers[0].name, first);
  Put(r.ntpServers[1].name, second);
  return r;
}

Bytes BytesOf(const std::optional<ClockFrame>& frame) {
  if (!frame) return {};
  const auto bytes = frame->Bytes();
  return Bytes(bytes.begin(), bytes.end());
}

Bytes Hex(std::string_view hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

Bytes Slice(const Bytes& frame, std::size_t payloadFrom, std::size_t count) {
  const std::size_t from = ClockFrame::kHeaderSize + payloadFrom;
  return Bytes(frame.begin() + static_cast<std::ptrdiff_t>(from),
               frame.begin() + static_cast<std::ptrdiff_t>(from + count));
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

class ServerTest : public ::testing::Test {
 protected:
  explicit ServerTest(CodePage cp = CodePage::Cp1252) : page_(selection_, notifier_, nullptr, cp) { page_.show(); }

  template <class T>
  T* Control(const char* name) {
    T* control = page_.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  QRadioButton* TimeServerIp() { return Control<QRadioButton>("timeServerIp"); }
  QRadioButton* Domain() { return Control<QRadioButton>("domain"); }
  Ipv4Edit* Address(std::size_t row) { return Control<Ipv4Edit>(kAddressNames[row]); }
  QLineEdit* Port(std::size_t row) { return Control<QLineEdit>(kPortNames[row]); }
  QLineEdit* Name(std::size_t row) { return Control<QLineEdit>(kNameNames[row]); }

  // The operator types each octet of the address into its own field.
  void TypeAddress(std::size_t row, const std::vector<const char*>& octets) {
    for (std::size_t i = 0; i < octets.size(); ++i) QTest::keyClicks(Address(row)->Octet(static_cast<int>(i)), octets[i]);
  }

  void Select(ClockRecord& record) { selection_.record = &record; }

  static constexpr const char* kAddressNames[] = {"address1", "address2", "address3", "address4",
                                                  "address5"};
  static constexpr const char* kPortNames[] = {"port1", "port2", "port3", "port4", "port5"};
  static constexpr const char* kNameNames[] = {"name1", "name2"};

  RecordingNotifier notifier_;
  OneClockSelection selection_;
  Server page_;
};

class ServerCp936Test : public ServerTest {
 protected:
  ServerCp936Test() : ServerTest(CodePage::Cp936) {}
};

TEST_F(ServerTest, ControlsStartAsTheTemplateHasThem) {
  EXPECT_EQ(Control<QWidget>("serverGroup")->property("title").toString(), "NTP Server Setting ");
  EXPECT_EQ(Control<QLabel>("portHeading")->text(), "Port");
  EXPECT_EQ(TimeServerIp()->text(), "Time Server IP");
  EXPECT_EQ(Domain()->text(), "Domain");
  for (QRadioButton* form : {TimeServerIp(), Domain()}) {
    EXPECT_FALSE(form->isChecked());
    EXPECT_FALSE(form->autoExclusive());
  }
  for (std::size_t row = 0; row < 5; ++row) {
    EXPECT_TRUE(Address(row)->isEnabled());
    EXPECT_TRUE(Address(row)->IsBlank());
    EXPECT_FALSE(Port(row)->isEnabled());
    EXPECT_TRUE(Port(row)->text().isEmpty());
  }
  for (std::size_t row = 0; row < 2; ++row) {
    EXPECT_FALSE(Name(row)->isEnabled());
    EXPECT_EQ(Name(row)->maxLength(), 30);
  }
}

TEST_F(ServerTest, ClockInAddressFormShowsItsAddressesAndPorts) {
  ClockRecord clock = AddressClock({"10.0.0.1", "10.0.0.2", "0.0.0.0", "0.0.0.0", "0.0.0.0"});
  page_.ShowServers(&clock);
  EXPECT_TRUE(TimeServerIp()->isChecked());
  EXPECT_FALSE(Domain()->isChecked());
  const std::uint32_t expected[] = {0x0A000001, 0x0A000002, 0, 0, 0};
  for (std::size_t row = 0; row < 5; ++row) {
    EXPECT_EQ(Address(row)->Address(), expected[row]) << row;
    EXPECT_FALSE(Address(row)->IsBlank()) << "0.0.0.0 is shown, not left blank";
    EXPECT_TRUE(Address(row)->isEnabled());
    EXPECT_EQ(Port(row)->text(), "123");
  }
  EXPECT_FALSE(Name(0)->isEnabled());
  EXPECT_FALSE(Name(1)->isEnabled());
}

TEST_F(ServerTest, ClockInNameFormShowsItsNamesAndNoAddresses) {
  page_.ClearServers();
  ClockRecord clock = NameClock("pool.ntp.org", std::string(30, 'x'));  // a full field has no terminator
  page_.ShowServers(&clock);
  EXPECT_TRUE(Domain()->isChecked());
  EXPECT_FALSE(TimeServerIp()->isChecked());
  EXPECT_EQ(Name(0)->text(), "pool.ntp.org");
  EXPECT_EQ(Name(1)->text(), QString(30, 'x'));
  EXPECT_TRUE(Name(0)->isEnabled());
  EXPECT_TRUE(Name(1)->isEnabled());
  for (std::size_t row = 0; row < 5; ++row) {
    EXPECT_TRUE(Address(row)->IsBlank());
    EXPECT_FALSE(Address(row)->isEnabled());
    EXPECT_EQ(Port(row)->text(), "123");
  }
}

TEST_F(ServerTest, NothingSelectedShowsNothing) {
  page_.ShowServers(nullptr);
  EXPECT_FALSE(TimeServerIp()->isChecked());
  EXPECT_FALSE(Domain()->isChecked());
  EXPECT_TRUE(Port(0)->text().isEmpty());
}

TEST_F(ServerTest, ClearEmptiesWhatAShowFilled) {
  ClockRecord clock = NameClock("a", "b");
  page_.ShowServers(&clock);
  page_.ClearServers();
  EXPECT_FALSE(TimeServerIp()->isChecked());
  EXPECT_FALSE(Domain()->isChecked());
  for (std::size_t row = 0; row < 5; ++row) {
    EXPECT_TRUE(Address(row)->IsBlank());
    EXPECT_TRUE(Address(row)->isEnabled());
    EXPECT_TRUE(Port(row)->text().isEmpty());
    EXPECT_FALSE(Port(row)->isEnabled());
  }
  for (std::size_t row = 0; row < 2; ++row) {
    EXPECT_TRUE(Name(row)->text().isEmpty());
    EXPECT_FALSE(Name(row)->isEnabled());
  }
}

TEST_F(ServerTest, BackToAddressesRestoresTheClocksAddressesNotTheEdits) {
  ClockRecord clock = AddressClock({"10.0.0.1", "10.0.0.2", "0.0.0.0", "0.0.0.0", "0.0.0.0"});
  Select(clock);
  page_.ShowServers(&clock);
  Address(0)->ClearAddress();
  TypeAddress(0, {"192", "168", "1", "1"});
  ASSERT_EQ(Address(0)->Address(), 0xC0A80101u);

  Domain()->click();
  EXPECT_TRUE(Domain()->isChecked());
  EXPECT_FALSE(TimeServerIp()->isChecked());
  EXPECT_TRUE(Name(0)->isEnabled());
  for (std::size_t row = 0; row < 5; ++row) EXPECT_FALSE(Address(row)->isEnabled());

  TimeServerIp()->click();
  EXPECT_TRUE(TimeServerIp()->isChecked());
  EXPECT_FALSE(Domain()->isChecked());
  EXPECT_EQ(Address(0)->Address(), 0x0A000001u);
  EXPECT_EQ(Address(1)->Address(), 0x0A000002u);
  for (std::size_t row = 0; row < 5; ++row) {
    EXPECT_TRUE(Address(row)->isEnabled());
    EXPECT_EQ(Port(row)->text(), "123");
  }
  EXPECT_FALSE(Name(0)->isEnabled());
  EXPECT_FALSE(Name(1)->isEnabled());
}

TEST_F(ServerTest, ClickOnTheCheckedFormKeepsItChecked) {
  ClockRecord clock = NameClock("a", "b");
  Select(clock);
  page_.ShowServers(&clock);
  Domain()->click();
  EXPECT_TRUE(Domain()->isChecked());
  EXPECT_TRUE(Name(0)->isEnabled());
}

TEST_F(ServerTest, AddressesWithoutASelectedClockOnlyChangeTheForm) {
  TimeServerIp()->click();
  EXPECT_TRUE(TimeServerIp()->isChecked());
  EXPECT_FALSE(Domain()->isChecked());
  EXPECT_TRUE(Port(0)->text().isEmpty());
  EXPECT_TRUE(Address(0)->IsBlank());
}

TEST_F(ServerTest, AddressFrameOfTheWorkedExample) {
  page_.ClearServers();
  TimeServerIp()->click();
  TypeAddress(0, {"10", "0", "0", "1"});
  TypeAddress(1, {"10", "0", "0", "2"});
  EXPECT_EQ(BytesOf(page_.BuildServerFrame()),
            Hex("514B8016 0700 0A000001 0A000002 000000000000000000000000 275C"));
  EXPECT_TRUE(notifier_.messages.empty());
}

// A row with an octet left empty is no address the operator meant; blank
// rows are the clock's empty slots and go out as 0.0.0.0.
TEST_F(ServerTest, PartlyFilledAddressRowIsRefused) {
  page_.ClearServers();
  TimeServerIp()->click();
  TypeAddress(0, {"10", "0", "0", "1"});
  TypeAddress(2, {"10", "213"});
  EXPECT_FALSE(page_.BuildServerFrame().has_value());
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"Please input a valid IP address"}));
  TypeAddress(2, {"", "", "0", "3"});
  EXPECT_TRUE(page_.BuildServerFrame().has_value());
}

TEST_F(ServerTest, NamesAreZeroPaddedInTheirOwnFields) {
  page_.ClearServers();
  Domain()->click();
  QTest::keyClicks(Name(0), "ntp.example");   // 11 characters
  QTest::keyClicks(Name(1), "time.example");  // 12 characters
  const Bytes frame = BytesOf(page_.BuildServerFrame());
  ASSERT_EQ(frame.size(), 68u);
  EXPECT_EQ(Slice(frame, 0, 2), Hex("0701"));
  EXPECT_EQ(frame[3], 62);
  EXPECT_EQ(Slice(frame, 2, 11), Text("ntp.example"));
  EXPECT_EQ(Slice(frame, 13, 19), Bytes(19, 0));
  EXPECT_EQ(Slice(frame, 32, 12), Text("time.example"));
  EXPECT_EQ(Slice(frame, 44, 18), Bytes(18, 0));
}

TEST_F(ServerTest, EmptyNamesAreSentAsZeroBytes) {
  ClockRecord clock = NameClock("", "");
  page_.ShowServers(&clock);
  const Bytes frame = BytesOf(page_.BuildServerFrame());
  ASSERT_EQ(frame.size(), 68u);
  EXPECT_EQ(Slice(frame, 2, 60), Bytes(60, 0));
}

TEST_F(ServerTest, NoFormChosenIsRefusedWithAMessage) {
  page_.ClearServers();
  EXPECT_FALSE(page_.BuildServerFrame().has_value());
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{"请选择NTP模式(ip或域名)"}));
}

TEST_F(ServerTest, NameFieldsTakeThirtyCharacters) {
  Domain()->click();
  QTest::keyClicks(Name(0), QString(35, 'n'));
  EXPECT_EQ(Name(0)->text().size(), 30);
}

TEST_F(ServerTest, EnterAndEscapeLeaveTheWindowOpen) {
  QDialog window;
  auto* layout = new QVBoxLayout(&window);
  auto* page = new Server(selection_, notifier_, &window, CodePage::Cp1252);
  layout->addWidget(page);
  auto* modify = new QPushButton(QStringLiteral("Modify"), &window);
  modify->setDefault(true);
  QObject::connect(modify, &QPushButton::clicked, &window, &QDialog::accept);
  layout->addWidget(modify);
  window.show();
  QLineEdit* name = page->findChild<QLineEdit*>("name1");
  name->setEnabled(true);
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
    QTest::keyClick(name, key);
    EXPECT_TRUE(window.isVisible()) << key;
  }
}

// Two-byte characters: the code-page form of a 30-character name may be twice
// its field; it is cut at a character boundary and never reaches the next
// field.
TEST_F(ServerCp936Test, LongTwoByteNamesAreCutAtACharacterBoundary) {
  const std::string han = "\xE6\x97\xB6";  // U+65F6, two bytes in CP936
  const std::string hanCp936 = ToCodePage(han, CodePage::Cp936);
  ASSERT_EQ(hanCp936.size(), 2u);
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += han;
  struct Case {
    std::string name;
    std::size_t bytesKept;
  };
  const std::vector<Case> cases{
      {thirty, 30},        // fifteen characters fill the field exactly
      {"a" + thirty, 29},  // the sixteenth would straddle the end: left out
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytesKept);
    page_.ClearServers();
    Domain()->click();
    Name(0)->setText(QString::fromStdString(c.name));
    Name(1)->setText(QStringLiteral("b"));
    const Bytes frame = BytesOf(page_.BuildServerFrame());
    ASSERT_EQ(frame.size(), 68u);
    const Bytes field = Slice(frame, 2, 30);
    const std::string expected = ToCodePage(c.name, CodePage::Cp936).substr(0, c.bytesKept);
    EXPECT_EQ(Bytes(field.begin(), field.begin() + static_cast<std::ptrdiff_t>(c.bytesKept)), Text(expected));
    EXPECT_EQ(Bytes(field.begin() + static_cast<std::ptrdiff_t>(c.bytesKept), field.end()),
              Bytes(30 - c.bytesKept, 0));
    EXPECT_EQ(Slice(frame, 32, 2), Hex("6200"));  // the second name starts where it should
  }
}

TEST_F(ServerCp936Test, NamesComeFromTheClockInItsCodePage) {
  const std::string name = ToCodePage("\xE6\x97\xB6\xE9\x97\xB4.cn", CodePage::Cp936);  // "时间.cn"
  ClockRecord clock = NameClock(name, "");
  page_.ShowServers(&clock);
  EXPECT_EQ(Name(0)->text(), QString::fromUtf8("\xE6\x97\xB6\xE9\x97\xB4.cn"));
  const Bytes frame = BytesOf(page_.BuildServerFrame());
  ASSERT_EQ(frame.size(), 68u);
  EXPECT_EQ(Slice(frame, 2, name.size() + 1), Bytes(Text(name + std::string(1, '\0'))));
}

}  // namespace
}  // namespace marindo
