// The command line's modify frames against the windows' own pages on the
// offscreen platform. A clock's record shown on a page and sent back with
// Modify unchanged gives, byte for byte, the frame the command line builds
// from the same record with no fields; one control changed on a page gives the
// frame of the same field given in a settings file; and a record the command
// line refuses to write back is one the page would not write back as the
// clock holds it either.

#include "settings/SettingsJson.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "bells/Bell.h"
#include "link/LinkTestFakes.h"
#include "link/ReplyDecoders.h"
#include "pages/Basic.h"
#include "pages/Other.h"
#include "pages/Server.h"
#include "widgets/Ipv4Edit.h"

namespace marindo {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kClockIp = 0x0A000064;
constexpr std::array<Section, 5> kWritable{Section::Basic, Section::Ntp, Section::Display, Section::Text,
                                           Section::Bells};

using testing::RecordingNotifier;

// The selection as the main window keeps it: an address, looked up afresh.
class ListSelection : public ClockSelection {
 public:
  explicit ListSelection(ClockList& clocks) : clocks_(clocks) {}
  std::optional<std::uint32_t> SelectedClockIp() const override { return selected; }
  ClockRecord* SelectedRecord() override { return selected ? clocks_.FindByIp(*selected) : nullptr; }
  std::optional<std::uint32_t> selected;

 private:
  ClockList& clocks_;
};

std::string Hex(const Bytes& bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    char two[4];
    std::snprintf(two, sizeof two, "%02X", unsigned{byte});
    text += (text.empty() ? "" : " ") + std::string(two);
  }
  return text;
}

Bytes BytesOf(const ClockFrame& frame) {
  const auto bytes = frame.Bytes();
  return Bytes(bytes.begin(), bytes.end());
}

Bytes PayloadOf(const ClockFrame& frame) {
  const auto payload = frame.Payload();
  return Bytes(payload.begin(), payload.end());
}

// ---------------------------------------------------------------------------
// The main window's four settings pages over one clock list

class Window {
 public:
  explicit Window(CodePage cp)
      : selection_(clocks_),
        basic_(new Basic(selection_, notifier_, &tabs_, cp)),
        server_(new Server(selection_, notifier_, &tabs_, cp)),
        other_(new Other(clocks_, selection_, notifier_, &tabs_, cp)),
        bell_(new Bell(clocks_, selection_, notifier_, &tabs_)) {
    tabs_.addTab(basic_, QStringLiteral("Basic"));
    tabs_.addTab(server_, QStringLiteral("NTP"));
    tabs_.addTab(other_, QStringLiteral("Other"));
    tabs_.addTab(bell_, QStringLiteral("Bell"));
    tabs_.resize(760, 480);
    tabs_.show();
  }

  // What a left click on the clock in the tree does on each tab: the pages are
  // emptied, then filled from the record the link keeps.
  void Show(const ClockRecord& record) {
    clocks_.ClearClocks();
    clocks_.Append(record);
    selection_.selected = record.ip;
    notifier_.messages.clear();
    basic_->ClearBasic();
    server_->ClearServers();
    other_->ClearOther();
    for (int i = 0; i < Bell::kPages; ++i) bell_->Page(i).ClearBellRows();
    basic_->ShowBasicSettings(selection_.SelectedRecord());
    basic_->ShowIdentity(selection_.SelectedRecord());
    server_->ShowServers(selection_.SelectedRecord());
    other_->ShowDisplaySettings(record.ip);
    other_->ShowTextSettings(record.ip);
    bell_->ShowClockBells(record.ip);
  }

  // The frame Modify sends on the section's tab; nothing when the page refuses.
  std::optional<ClockFrame> Modify(Section section) {
    std::optional<ClockFrame> frame;
    switch (section) {
      case Section::Basic:
        frame = basic_->BuildBasicFrame();
        break;
      case Section::Ntp:
        frame = server_->BuildServerFrame();
        break;
      case Section::Display:
        frame = other_->BuildDisplayFrame();
        break;
      case Section::Text:
        if (const ClockRecord* record = selection_.SelectedRecord()) {
          frame = other_->BuildTextFrame(record->longText ? Other::TextForm::Long : Other::TextForm::Short);
        }
        break;
      case Section::Bells:
        frame = bell_->BuildBellWrite();
        break;
      case Section::System:
        break;
    }
    return frame;
  }

  QWidget& basic() { return *basic_; }
  QWidget& server() { return *server_; }
  QWidget& other() { return *other_; }
  QWidget& bellPage(int bell) { return bell_->Page((bell - 1) / BellPage::kRows); }
  const std::vector<std::string>& Messages() const { return notifier_.messages; }

  // The operator's actions on a page's controls.
  template <class Control>
  static Control* Find(QWidget& page, const std::string& name) {
    auto* control = page.findChild<Control*>(QString::fromStdString(name));
    if (control == nullptr) ADD_FAILURE() << "no control " << name;
    return control;
  }
  static void Choose(QWidget& page, const std::string& list, const char* text) {
    QComboBox* box = Find<QComboBox>(page, list);
    if (box == nullptr) return;
    const int index = box->findText(QString::fromUtf8(text));
    if (index < 0) ADD_FAILURE() << list << " offers no " << text;
    box->setCurrentIndex(index);
  }
  static void Click(QWidget& page, const std::string& button) {
    if (auto* control = Find<QAbstractButton>(page, button)) {
      EXPECT_TRUE(control->isEnabled()) << button;
      control->click();
    }
  }
  static void Type(QWidget& page, const std::string& field, const char* text) {
    if (auto* edit = Find<QLineEdit>(page, field)) edit->setText(QString::fromUtf8(text));
  }
  // A bell's control by its role, e.g. "duration", on its sub-page.
  static std::string BellControl(const char* role, int bell) {
    return std::string(role) + "_" + std::to_string((bell - 1) % BellPage::kRows + 1);
  }

 private:
  ClockList clocks_;
  ListSelection selection_;
  RecordingNotifier notifier_;
  QTabWidget tabs_;
  Basic* basic_;
  Server* server_;
  Other* other_;
  Bell* bell_;
};

// ---------------------------------------------------------------------------
// Records as the link keeps them

template <std::size_t N>
void Put(std::array<char, N>& field, std::string_view bytes) {
  field.fill('\0');
  std::memcpy(field.data(), bytes.data(), std::min(bytes.size(), N));
}

std::string Repeated(std::string_view piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// 中 in code page 936: two bytes.
std::string Middle936() { return ToCodePage("\xE4\xB8\xAD", CodePage::Cp936); }

void SetZone(ClockRecord& r, bool negative, std::uint8_t hours, std::uint8_t minuteCode) {
  r.zoneNegative = negative ? 1 : 0;
  r.zoneHours = hours;
  r.zoneMinuteCode = minuteCode;
}

struct DstWire {
  std::uint8_t month, week, weekday, hour;
};

void SetDst(ClockRecord& r, DstWire start, DstWire end) {
  r.dstStartMonth = start.month;
  r.dstStartWeek = start.week;
  r.dstStartWeekday = start.weekday;
  r.dstStartHour = start.hour;
  r.dstEndMonth = end.month;
  r.dstEndWeek = end.week;
  r.dstEndWeekday = end.weekday;
  r.dstEndHour = end.hour;
}

void SetEnergy(ClockRecord& r, std::uint8_t from, std::uint8_t to, bool close) {
  r.energyFrom = from;
  r.energyTo = to;
  r.energyClose = close ? 1 : 0;
}

void SetServers(ClockRecord& r, const std::array<const char*, 5>& addresses) {
  r.ntpMode = 0;
  for (std::size_t i = 0; i < addresses.size(); ++i) Put(r.ntpServers[i].address, addresses[i]);
}

// Names in code-page bytes; the address texts stay as an earlier reply left
// them.
void SetNames(ClockRecord& r, std::uint8_t mode, std::string_view first, std::string_view second) {
  r.ntpMode = mode;
  Put(r.ntpServers[0].name, first);
  Put(r.ntpServers[1].name, second);
}

void SetHumiture(ClockRecord& r, std::uint8_t unit, std::uint8_t humidityWhole, std::uint8_t humidityTenths,
                 std::uint8_t timeSeconds, std::uint8_t humitureSeconds) {
  r.tempUnit = unit;
  r.humiture = Humiture{21, 4, false, humidityWhole, humidityTenths};
  r.displayTimes = {timeSeconds, humitureSeconds, 0};
}

// The text reply as the link stores it, so that the text form follows the
// firmware and the announced width the way it does for a real clock.
void SetText(ClockRecord& r, std::uint8_t firmwareMajor, std::uint8_t modeByte, std::string_view bytes,
             std::size_t width) {
  r.firmwareMajor = firmwareMajor;
  Bytes reply{0x0A, 12, modeByte};
  reply.insert(reply.end(), bytes.begin(), bytes.end());
  reply.resize(3 + width, 0);
  ASSERT_TRUE(StoreReply(reply, static_cast<std::uint8_t>(reply.size()), r));
}

void SetBell(ClockRecord& r, int bell, BellEntry entry) { StoreBell(r.bells, bell - 1, entry); }

// A clock with every setting in use and within what the pages' lists offer.
ClockRecord BaseRecord() {
  ClockRecord r;
  r.ip = kClockIp;
  r.firmwareMajor = 1;
  r.firmwareMinor = 5;
  r.syncServerIp = 0x0A000001;
  r.hour24 = 1;
  SetZone(r, false, 8, 0);
  r.dynamicIp = 0;
  r.ipAddress = 0xC0A80114;
  r.subnetMask = 0xFFFFFF00;
  r.gateway = 0xC0A80101;
  r.dnsServer = 0x08080808;
  r.brightness = 2;
  SetDst(r, {3, 6, 7, 2}, {10, 6, 7, 3});
  SetEnergy(r, 22, 6, true);
  SetServers(r, {"10.0.0.1", "10.0.0.2", "0.0.0.0", "0.0.0.0", "0.0.0.0"});
  r.countdownStart = {8, 30, 0};
  r.countdownDuration = {1, 0, 0};
  SetHumiture(r, 1, 45, 6, 5, 3);
  r.radio = 0x85;
  SetText(r, 1, 0x83, "HELLO", 32);
  for (int bell = 1; bell <= kBellCount; ++bell) {
    SetBell(r, bell, {static_cast<std::uint8_t>(bell - 1), 0, 0, 0, 0, 0});
  }
  SetBell(r, 1, {0, 7, 30, 0, 0xBE, 5});  // enabled, Mon-Fri
  SetBell(r, 2, {1, 12, 0, 0, 0x01, 10});  // Sunday, not enabled
  SetBell(r, 4, {3, 8, 0, 0, 0x82, 5});
  SetBell(r, 12, {11, 9, 0, 0, 0x02, 10});
  SetBell(r, 25, {24, 18, 5, 9, 0x41, 12});
  SetBell(r, 30, {29, 23, 59, 59, 0xC0, 15});
  return r;
}

using Edit = void (*)(ClockRecord&);

ClockRecord RecordOf(Edit edit) {
  ClockRecord record = BaseRecord();
  if (edit != nullptr) edit(record);
  return record;
}

// The command line's frame, or its refusal.
std::variant<Bytes, std::string> CliFrame(const ClockRecord& record, Section section, const Json& fields,
                                          CodePage cp) {
  const auto built = BuildSectionFrame(record, section, fields, cp);
  if (const auto* refusal = std::get_if<std::string>(&built)) return *refusal;
  return BytesOf(std::get<ClockFrame>(built));
}

// A section given in a file with none of its keys.
Json NoFields(Section section) { return section == Section::Bells ? Json::array() : Json::object(); }

// The page's frame against the command line's for one record; the command
// line gets its own copy, taken before the bell page wrote its rows into the
// record.
void ExpectSameFrame(Window& window, const ClockRecord& record, Section section, const Json& fields, CodePage cp) {
  SCOPED_TRACE(std::string(SectionName(section)));
  const auto cli = CliFrame(record, section, fields, cp);
  const std::optional<ClockFrame> page = window.Modify(section);
  ASSERT_TRUE(page) << "the page refused: "
                    << (window.Messages().empty() ? std::string("(no message)") : window.Messages().back());
  if (const auto* refusal = std::get_if<std::string>(&cli)) {
    ADD_FAILURE() << "the command line refused: " << *refusal << "\npage: " << Hex(BytesOf(*page));
    return;
  }
  EXPECT_EQ(Hex(std::get<Bytes>(cli)), Hex(BytesOf(*page))) << "cli (left) and page (right)";
}

// ---------------------------------------------------------------------------
// Records written back unchanged

struct RecordCase {
  const char* name;
  CodePage cp;
  Edit edit;
};

const RecordCase kRecords[] = {
    {"every setting in its list", CodePage::Cp1252, nullptr},
    // Basic: zones, brightness, time format.
    {"UTC +5:45, brightness OFF", CodePage::Cp1252,
     [](ClockRecord& r) {
       SetZone(r, false, 5, 2);
       r.brightness = 0;
     }},
    {"UTC -9:30, brightness Dim", CodePage::Cp1252,
     [](ClockRecord& r) {
       SetZone(r, true, 9, 1);
       r.brightness = 1;
     }},
    {"UTC  0 with the sign bit set, brightness Brilliant", CodePage::Cp1252,
     [](ClockRecord& r) {
       SetZone(r, true, 0, 0);
       r.brightness = 4;
     }},
    {"UTC -12 in 12-hour format, brightness Bright", CodePage::Cp1252,
     [](ClockRecord& r) {
       SetZone(r, true, 12, 0);
       r.hour24 = 0;
       r.brightness = 3;
     }},
    {"UTC +14", CodePage::Cp1252, [](ClockRecord& r) { SetZone(r, false, 14, 0); }},
    {"UTC -9, not UTC -9:30", CodePage::Cp1252, [](ClockRecord& r) { SetZone(r, true, 9, 0); }},
    // Basic: daylight saving.
    {"DST off: same month and week, hours left over", CodePage::Cp1252,
     [](ClockRecord& r) { SetDst(r, {3, 6, 7, 2}, {3, 6, 7, 3}); }},
    {"DST off: no month at either end", CodePage::Cp1252,
     [](ClockRecord& r) { SetDst(r, {0, 2, 3, 4}, {0, 5, 1, 9}); }},
    {"DST within one month, First to Second week, hours 0 and 23", CodePage::Cp1252,
     [](ClockRecord& r) { SetDst(r, {3, 1, 1, 0}, {3, 2, 7, 23}); }},
    {"DST southern, October to April, Fifth week", CodePage::Cp1252,
     [](ClockRecord& r) { SetDst(r, {10, 1, 7, 2}, {4, 5, 7, 3}); }},
    // Basic: energy saving.
    {"energy saving off: equal hours, display close set", CodePage::Cp1252,
     [](ClockRecord& r) { SetEnergy(r, 7, 7, true); }},
    {"energy saving off: both hours 0", CodePage::Cp1252, [](ClockRecord& r) { SetEnergy(r, 0, 0, false); }},
    {"energy saving dims from 0 to 23", CodePage::Cp1252, [](ClockRecord& r) { SetEnergy(r, 0, 23, false); }},
    {"energy saving closes from 23 to 0", CodePage::Cp1252, [](ClockRecord& r) { SetEnergy(r, 23, 0, true); }},
    // Basic: addressing.
    {"dynamic addressing with the last static address kept", CodePage::Cp1252,
     [](ClockRecord& r) { r.dynamicIp = 1; }},
    {"dynamic addressing without any address", CodePage::Cp1252,
     [](ClockRecord& r) {
       r.dynamicIp = 1;
       r.ipAddress = r.subnetMask = r.gateway = r.dnsServer = 0;
     }},
    {"static addressing at the top of the range", CodePage::Cp1252,
     [](ClockRecord& r) {
       r.ipAddress = 0xDFFFFFFE;
       r.subnetMask = 0xFFFFFFFC;
       r.gateway = 0xDFFFFFFD;
       r.dnsServer = 0;
     }},
    // NTP.
    {"NTP as five addresses", CodePage::Cp1252,
     [](ClockRecord& r) {
       SetServers(r, {"192.168.1.1", "10.213.0.1", "255.255.255.255", "0.0.0.0", "1.2.3.4"});
     }},
    {"NTP as names of 30 bytes", CodePage::Cp1252,
     [](ClockRecord& r) {
       SetNames(r, 1, "time-a.long-domain-name.example", "time-b.long-domain-name.exampl");
     }},
    {"NTP as names of 30 bytes in code page 936", CodePage::Cp936,
     [](ClockRecord& r) { SetNames(r, 1, Repeated(Middle936(), 15), "ntp." + Middle936() + ".cn"); }},
    {"NTP as one name, mode byte 2", CodePage::Cp1252, [](ClockRecord& r) { SetNames(r, 2, "pool.ntp.org", ""); }},
    // Display.
    {"sensor in Fahrenheit, time only", CodePage::Cp1252, [](ClockRecord& r) { SetHumiture(r, 2, 60, 1, 7, 0); }},
    {"sensor in Celsius, both durations 0", CodePage::Cp1252, [](ClockRecord& r) { SetHumiture(r, 1, 33, 0, 0, 0); }},
    {"sensor alternating 0 and 15 seconds", CodePage::Cp1252,
     [](ClockRecord& r) { SetHumiture(r, 1, 33, 0, 0, 15); }},
    {"sensor alternating 15 and 1 seconds", CodePage::Cp1252,
     [](ClockRecord& r) { SetHumiture(r, 2, 99, 9, 15, 1); }},
    {"no sensor: unit 0 with durations left over", CodePage::Cp1252,
     [](ClockRecord& r) { SetHumiture(r, 0, 45, 6, 5, 3); }},
    {"no sensor: humidity 0.0 % in Celsius", CodePage::Cp1252,
     [](ClockRecord& r) { SetHumiture(r, 1, 0, 0, 5, 3); }},
    {"radio on with id 59", CodePage::Cp1252, [](ClockRecord& r) { r.radio = 0x80 | 59; }},
    {"radio off with id 0", CodePage::Cp1252, [](ClockRecord& r) { r.radio = 0; }},
    {"radio off with id 33", CodePage::Cp1252, [](ClockRecord& r) { r.radio = 33; }},
    {"count-down at the ends of its lists", CodePage::Cp1252,
     [](ClockRecord& r) {
       r.countdownStart = {23, 59, 59};
       r.countdownDuration = {9, 59, 59};
     }},
    {"count-down all 0", CodePage::Cp1252,
     [](ClockRecord& r) {
       r.countdownStart = {0, 0, 0};
       r.countdownDuration = {0, 0, 0};
     }},
    // Text.
    {"text rolls", CodePage::Cp1252, [](ClockRecord& r) { SetText(r, 1, 0x00, "ROLLING TEXT", 32); }},
    {"text alternates every 2 seconds", CodePage::Cp1252, [](ClockRecord& r) { SetText(r, 1, 0x82, "A", 32); }},
    {"text alternates every 5 seconds", CodePage::Cp1252, [](ClockRecord& r) { SetText(r, 1, 0x85, "B", 32); }},
    {"short text of 32 bytes, firmware 1", CodePage::Cp1252,
     [](ClockRecord& r) { SetText(r, 1, 0x00, Repeated("0123456789", 3) + "AB", 32); }},
    {"long text of 64 bytes, firmware 2", CodePage::Cp1252,
     [](ClockRecord& r) { SetText(r, 2, 0x84, Repeated("abcdefgh", 8), 64); }},
    {"long text announced by a firmware-1 clock", CodePage::Cp1252,
     [](ClockRecord& r) { SetText(r, 1, 0x00, Repeated("x", 50), 64); }},
    {"empty text", CodePage::Cp1252, [](ClockRecord& r) { SetText(r, 2, 0x00, "", 64); }},
    {"short text of 32 bytes in code page 936", CodePage::Cp936,
     [](ClockRecord& r) { SetText(r, 1, 0x00, Repeated(Middle936(), 16), 32); }},
    {"accented text in code page 1252", CodePage::Cp1252,
     [](ClockRecord& r) { SetText(r, 1, 0x83, "Caf\xE9 \xC0 \xFC", 32); }},
    // The seconds list is editable and an empty list reads as 0, so a held 0
    // goes back as it is.
    {"text alternating every 0 seconds", CodePage::Cp1252, [](ClockRecord& r) { SetText(r, 1, 0x80, "ZERO", 32); }},
    // The page lets the operator choose a DST rule in part and writes the
    // lists left empty as 0; shown again, those lists are empty again and the
    // zeros go back as they are.
    {"DST with no start month, as the page writes a partly chosen rule", CodePage::Cp1252,
     [](ClockRecord& r) { SetDst(r, {0, 6, 7, 2}, {10, 6, 7, 3}); }},
    {"DST with no end weekday, as the page writes a partly chosen rule", CodePage::Cp1252,
     [](ClockRecord& r) { SetDst(r, {3, 6, 7, 2}, {10, 6, 0, 3}); }},
    // Bells.
    {"no bells", CodePage::Cp1252, [](ClockRecord& r) { r.bells.fill(0); }},
    {"bells with days, durations and stale index bytes", CodePage::Cp1252,
     [](ClockRecord& r) {
       SetBell(r, 3, {0x55, 0, 0, 0, 0x80, 3});     // enabled without days
       SetBell(r, 11, {0xFF, 6, 15, 0, 0x7F, 15});  // every day, not enabled
       SetBell(r, 20, {7, 23, 59, 59, 0xFF, 3});
       SetBell(r, 21, {20, 6, 15, 0, 0x00, 0});  // a time alone
       SetBell(r, 29, {28, 12, 30, 45, 0xC0, 9});
     }},
};

class CliMatchesPagesTest : public ::testing::Test {
 protected:
  // One window per code page, kept over all cases as the program keeps its
  // pages over every clock it shows.
  Window& WindowFor(CodePage cp) {
    auto& window = windows_[cp];
    if (!window) window = std::make_unique<Window>(cp);
    return *window;
  }

  std::map<CodePage, std::unique_ptr<Window>> windows_;
};

TEST_F(CliMatchesPagesTest, UnchangedModifyEqualsTheFrameWithoutFields) {
  for (const RecordCase& c : kRecords) {
    SCOPED_TRACE(c.name);
    const ClockRecord record = RecordOf(c.edit);
    Window& window = WindowFor(c.cp);
    window.Show(record);
    for (Section section : kWritable) ExpectSameFrame(window, record, section, NoFields(section), c.cp);
    EXPECT_TRUE(window.Messages().empty()) << window.Messages().front();
  }
}

// ---------------------------------------------------------------------------
// Records the command line refuses to write back

// What the clock would hold after taking the page's modify, in the fields the
// page shows. The basic, server and bell modifies carry their query reply's
// layout; display and text differ from theirs in places.
ClockRecord AfterWrite(ClockRecord record, Section section, Bytes payload) {
  switch (section) {
    case Section::Basic:
      payload[0] = 0x02;
      break;
    case Section::Ntp:
      payload[0] = 0x03;
      break;
    case Section::Bells:
      payload[0] = 0x04;
      break;
    case Section::Display:
      std::copy_n(&payload.at(1), 3, record.countdownStart.begin());
      std::copy_n(&payload.at(4), 3, record.countdownDuration.begin());
      record.tempUnit = payload.at(7);
      record.radio = payload.at(8);
      record.displayTimes[0] = static_cast<std::uint8_t>(payload.at(12) >> 4);
      record.displayTimes[1] = static_cast<std::uint8_t>(payload.at(13) >> 4);
      return record;
    case Section::Text:
      // The final zero byte is not part of the text.
      payload.at(0) = 0x0A;
      payload.pop_back();
      break;
    case Section::System:
      return record;
  }
  EXPECT_TRUE(StoreReply(payload, static_cast<std::uint8_t>(payload.size()), record));
  return record;
}

// The slot's name in name form (only the first slots carry one), else its
// address text.
std::string SlotText(const ClockRecord& r, std::size_t slot) {
  const NtpSlot& s = r.ntpServers[slot];
  if (r.ntpMode == 0) return TextBeforeZero(s.address.data(), s.address.size());
  return slot < kServerNameRows ? TextBeforeZero(s.name.data(), s.name.size()) : std::string();
}

// The fields of a section that a write back must keep.
Bytes Held(const ClockRecord& r, Section section) {
  Bytes held;
  auto addAddresses = [&held](std::initializer_list<std::uint32_t> addresses) {
    for (std::uint32_t address : addresses) {
      for (int shift = 24; shift >= 0; shift -= 8) held.push_back(static_cast<std::uint8_t>(address >> shift));
    }
  };
  switch (section) {
    case Section::Basic:
      held = {r.zoneNegative, r.zoneHours,     r.zoneMinuteCode,  r.hour24,          r.dynamicIp,
              r.brightness,   r.dstStartMonth, r.dstStartWeek,    r.dstStartWeekday, r.dstStartHour,
              r.dstEndMonth,  r.dstEndWeek,    r.dstEndWeekday,   r.dstEndHour,      r.energyFrom,
              r.energyTo,     r.energyClose};
      addAddresses({r.ipAddress, r.subnetMask, r.gateway, r.dnsServer});
      break;
    case Section::Ntp:
      held.push_back(r.ntpMode != 0 ? 1 : 0);
      for (std::size_t i = 0; i < ClockRecord::kNtpSlots; ++i) {
        const std::string text = SlotText(r, i);
        held.insert(held.end(), text.begin(), text.end());
        held.push_back(0);
      }
      break;
    case Section::Display:
      held.insert(held.end(), r.countdownStart.begin(), r.countdownStart.end());
      held.insert(held.end(), r.countdownDuration.begin(), r.countdownDuration.end());
      held.insert(held.end(), {r.tempUnit, r.radio, r.displayTimes[0], r.displayTimes[1]});
      break;
    case Section::Text: {
      held.insert(held.end(), {r.textRoll, r.textAlternateSeconds});
      const std::string text = TextBeforeZero(r.text.data(), r.text.size());
      held.insert(held.end(), text.begin(), text.end());
      break;
    }
    case Section::Bells:
      held.assign(r.bells.begin(), r.bells.end());
      // Every write numbers the bells afresh.
      for (std::size_t at = 0; at < held.size(); at += BellEntry::kSize) held[at] = 0;
      break;
    case Section::System:
      break;
  }
  return held;
}

struct RefusedCase {
  const char* name;
  CodePage cp;
  Section section;
  Edit edit;
  const char* refusalNames;  // what the command line's message names
};

const RefusedCase kRefused[] = {
    // Basic.
    {"brightness Auto", CodePage::Cp1252, Section::Basic, [](ClockRecord& r) { r.brightness = 5; },
     "basic.brightness"},
    {"brightness 7", CodePage::Cp1252, Section::Basic, [](ClockRecord& r) { r.brightness = 7; },
     "basic.brightness"},
    {"zone UTC +15", CodePage::Cp1252, Section::Basic, [](ClockRecord& r) { SetZone(r, false, 15, 0); },
     "basic.zone"},
    {"zone with minutes code 3", CodePage::Cp1252, Section::Basic, [](ClockRecord& r) { SetZone(r, false, 5, 3); },
     "basic.zone"},
    {"DST start in week 7", CodePage::Cp1252, Section::Basic,
     [](ClockRecord& r) { SetDst(r, {3, 7, 7, 2}, {10, 6, 7, 3}); }, "basic.dst.start.week"},
    {"DST end in month 13", CodePage::Cp1252, Section::Basic,
     [](ClockRecord& r) { SetDst(r, {3, 6, 7, 2}, {13, 6, 7, 3}); }, "basic.dst.end.month"},
    {"DST start at hour 24", CodePage::Cp1252, Section::Basic,
     [](ClockRecord& r) { SetDst(r, {3, 6, 7, 24}, {10, 6, 7, 3}); }, "basic.dst.start.hour"},
    {"energy saving to hour 30", CodePage::Cp1252, Section::Basic, [](ClockRecord& r) { SetEnergy(r, 5, 30, false); },
     "basic.energySaving.to"},
    {"energy saving from hour 24", CodePage::Cp1252, Section::Basic,
     [](ClockRecord& r) { SetEnergy(r, 24, 6, true); }, "basic.energySaving.from"},
    {"static address 0.0.0.0", CodePage::Cp1252, Section::Basic, [](ClockRecord& r) { r.ipAddress = 0; },
     "basic.ipAddress"},
    {"static address 255.255.255.255", CodePage::Cp1252, Section::Basic,
     [](ClockRecord& r) { r.ipAddress = 0xFFFFFFFF; }, "basic.ipAddress"},
    // NTP.
    {"NTP name with a byte code page 1252 has no character for", CodePage::Cp1252, Section::Ntp,
     [](ClockRecord& r) { SetNames(r, 1, "ntp\x81.example", "pool.ntp.org"); }, "ntp.names[0]"},
    {"NTP name of 30 bytes ending in half a character of code page 936", CodePage::Cp936, Section::Ntp,
     [](ClockRecord& r) { SetNames(r, 1, "pool.ntp.org", Repeated("a", 29) + Middle936().substr(0, 1)); },
     "ntp.names[1]"},
    // Display.
    {"count-down start minute 60", CodePage::Cp1252, Section::Display,
     [](ClockRecord& r) { r.countdownStart = {8, 60, 0}; }, "display.countdownStart.minute"},
    {"count-down duration of 10 hours", CodePage::Cp1252, Section::Display,
     [](ClockRecord& r) { r.countdownDuration = {10, 0, 0}; }, "display.countdownDuration.hours"},
    {"sensor in unit 3", CodePage::Cp1252, Section::Display, [](ClockRecord& r) { SetHumiture(r, 3, 45, 6, 5, 3); },
     "display.unit"},
    {"radio id 100", CodePage::Cp1252, Section::Display, [](ClockRecord& r) { r.radio = 0x80 | 100; },
     "display.radio.id"},
    // Text.
    {"text alternating every 9 seconds", CodePage::Cp1252, Section::Text,
     [](ClockRecord& r) { SetText(r, 1, 0x89, "NINE", 32); }, "text.alternateSeconds"},
    {"text of 40 bytes on a short-text clock", CodePage::Cp1252, Section::Text,
     [](ClockRecord& r) { SetText(r, 1, 0x00, Repeated("0123456789", 4), 40); }, "text.text"},
    {"text of 65 bytes on a long-text clock", CodePage::Cp1252, Section::Text,
     [](ClockRecord& r) { SetText(r, 2, 0x00, Repeated("x", 65), 65); }, "text.text"},
    {"text of 20 double-byte characters on a short-text clock", CodePage::Cp936, Section::Text,
     [](ClockRecord& r) { SetText(r, 1, 0x00, Repeated(Middle936(), 20), 40); }, "text.text"},
    {"text with a byte code page 1252 has no character for", CodePage::Cp1252, Section::Text,
     [](ClockRecord& r) { SetText(r, 1, 0x00, "A\x8D" "B", 32); }, "text.text"},
    // Bells.
    {"bell at hour 24", CodePage::Cp1252, Section::Bells, [](ClockRecord& r) { SetBell(r, 5, {4, 24, 0, 0, 0x81, 5}); },
     "bells: bell 5 time"},
    {"enabled bell of 2 seconds", CodePage::Cp1252, Section::Bells,
     [](ClockRecord& r) { SetBell(r, 9, {8, 10, 15, 0, 0x81, 2}); }, "bells: bell 9 duration"},
    {"bell of 1 second without days", CodePage::Cp1252, Section::Bells,
     [](ClockRecord& r) { SetBell(r, 10, {9, 10, 15, 0, 0x00, 1}); }, "bells: bell 10 duration"},
    {"enabled bell without a duration", CodePage::Cp1252, Section::Bells,
     [](ClockRecord& r) { SetBell(r, 7, {6, 7, 0, 0, 0x82, 0}); }, "Please set duration for bell 7"},
};

// A refusal stands when the page, too, cannot send the record as the clock
// holds it: it refuses, or its frame would leave the clock holding something
// else.
TEST_F(CliMatchesPagesTest, RefusedRecordIsOneThePageWouldNotWriteBackAsItIs) {
  for (const RefusedCase& c : kRefused) {
    SCOPED_TRACE(c.name);
    const ClockRecord record = RecordOf(c.edit);
    const auto cli = CliFrame(record, c.section, NoFields(c.section), c.cp);
    ASSERT_TRUE(std::holds_alternative<std::string>(cli)) << "the command line wrote " << Hex(std::get<Bytes>(cli));
    const std::string& refusal = std::get<std::string>(cli);
    EXPECT_NE(refusal.find(c.refusalNames), std::string::npos) << refusal;

    Window& window = WindowFor(c.cp);
    window.Show(record);
    const std::optional<ClockFrame> page = window.Modify(c.section);
    if (!page) continue;
    EXPECT_NE(Hex(Held(AfterWrite(record, c.section, PayloadOf(*page)), c.section)), Hex(Held(record, c.section)))
        << "the page writes the record back as the clock holds it, with " << Hex(BytesOf(*page))
        << "\nyet the command line refuses: " << refusal;
  }
}

// ---------------------------------------------------------------------------
// One control changed against one field given

struct ChangeCase {
  const char* name;
  CodePage cp;
  Section section;
  Edit edit;
  void (*operate)(Window&);
  const char* fields;
};

const ChangeCase kChanges[] = {
    {"brightness Normal to Bright", CodePage::Cp1252, Section::Basic, nullptr,
     [](Window& w) { Window::Choose(w.basic(), "brightness", "Bright"); }, R"({"brightness": "Bright"})"},
    {"brightness Auto to Bright", CodePage::Cp1252, Section::Basic, [](ClockRecord& r) { r.brightness = 5; },
     [](Window& w) { Window::Choose(w.basic(), "brightness", "Bright"); }, R"({"brightness": "Bright"})"},
    {"zone to UTC +5:45", CodePage::Cp1252, Section::Basic, nullptr,
     [](Window& w) { Window::Choose(w.basic(), "zone", "UTC +5:45"); }, R"({"zone": "UTC +5:45"})"},
    {"daylight saving switched off", CodePage::Cp1252, Section::Basic, nullptr,
     [](Window& w) { Window::Click(w.basic(), "dstEnable"); }, R"({"dst": {"enabled": false}})"},
    {"energy saving switched off", CodePage::Cp1252, Section::Basic, nullptr,
     [](Window& w) { Window::Click(w.basic(), "energySaving"); }, R"({"energySaving": {"enabled": false}})"},
    {"third NTP address", CodePage::Cp1252, Section::Ntp, nullptr,
     [](Window& w) {
       if (auto* field = Window::Find<Ipv4Edit>(w.server(), "address3")) field->SetAddress(0x0A000003);
     },
     R"({"servers": ["10.0.0.1", "10.0.0.2", "10.0.0.3", "0.0.0.0", "0.0.0.0"]})"},
    {"NTP switched to a name", CodePage::Cp1252, Section::Ntp, nullptr,
     [](Window& w) {
       Window::Click(w.server(), "domain");
       Window::Type(w.server(), "name1", "pool.ntp.org");
     },
     R"({"mode": "names", "names": ["pool.ntp.org"]})"},
    {"radio id 42", CodePage::Cp1252, Section::Display, nullptr,
     [](Window& w) { Window::Choose(w.other(), "radioId", "42"); }, R"({"radio": {"id": 42}})"},
    {"radio closed", CodePage::Cp1252, Section::Display, nullptr,
     [](Window& w) { Window::Click(w.other(), "radioClose"); }, R"({"radio": {"on": false}})"},
    {"Fahrenheit", CodePage::Cp1252, Section::Display, nullptr,
     [](Window& w) { Window::Click(w.other(), "fahrenheit"); }, R"({"unit": "F"})"},
    {"alternating switched on", CodePage::Cp1252, Section::Display,
     [](ClockRecord& r) { SetHumiture(r, 1, 45, 6, 5, 0); },
     [](Window& w) {
       Window::Click(w.other(), "timeOnlyNo");
       Window::Choose(w.other(), "timeDisplayDuration", "4");
       Window::Choose(w.other(), "humitureDisplayDuration", "6");
     },
     R"({"timeOnly": false, "timeSeconds": 4, "humitureSeconds": 6})"},
    {"text typed", CodePage::Cp1252, Section::Text, nullptr,
     [](Window& w) { Window::Type(w.other(), "text", "NEW TEXT"); }, R"({"text": "NEW TEXT"})"},
    {"text typed in code page 936", CodePage::Cp936, Section::Text, nullptr,
     [](Window& w) { Window::Type(w.other(), "text", "\xE4\xB8\xAD\xE6\x96\x87"); },
     "{\"text\": \"\xE4\xB8\xAD\xE6\x96\x87\"}"},
    {"text switched to alternate", CodePage::Cp1252, Section::Text,
     [](ClockRecord& r) { SetText(r, 1, 0x00, "ROLL", 32); },
     [](Window& w) { Window::Click(w.other(), "alternate"); }, R"({"mode": "alternate"})"},
    {"text switched to roll", CodePage::Cp1252, Section::Text, nullptr,
     [](Window& w) { Window::Click(w.other(), "roll"); }, R"({"mode": "roll"})"},
    {"alternate seconds 3 to 5", CodePage::Cp1252, Section::Text, nullptr,
     [](Window& w) { Window::Choose(w.other(), "alternateSeconds", "5"); }, R"({"alternateSeconds": 5})"},
    {"bell 4 rings 9 seconds", CodePage::Cp1252, Section::Bells, nullptr,
     [](Window& w) { Window::Choose(w.bellPage(4), Window::BellControl("duration", 4), "9"); },
     R"([{"bell": 4, "duration": 9}])"},
    {"bell 12 enabled", CodePage::Cp1252, Section::Bells, nullptr,
     [](Window& w) { Window::Click(w.bellPage(12), Window::BellControl("enable", 12)); },
     R"([{"bell": 12, "enabled": true}])"},
    {"bell 25 at another time", CodePage::Cp1252, Section::Bells, nullptr,
     [](Window& w) {
       Window::Choose(w.bellPage(25), Window::BellControl("hour", 25), "6");
       Window::Choose(w.bellPage(25), Window::BellControl("minute", 25), "45");
       Window::Choose(w.bellPage(25), Window::BellControl("second", 25), "30");
     },
     R"([{"bell": 25, "time": "06:45:30"}])"},
    {"bell 30 on Monday too", CodePage::Cp1252, Section::Bells, nullptr,
     [](Window& w) { Window::Click(w.bellPage(30), Window::BellControl("mon", 30)); },
     R"([{"bell": 30, "days": ["Mon", "Sat"]}])"},
};

TEST_F(CliMatchesPagesTest, ChangedControlEqualsTheSameFieldGiven) {
  for (const ChangeCase& c : kChanges) {
    SCOPED_TRACE(c.name);
    const ClockRecord record = RecordOf(c.edit);
    Window& window = WindowFor(c.cp);
    window.Show(record);
    c.operate(window);
    ExpectSameFrame(window, record, c.section, Json::parse(c.fields), c.cp);
    EXPECT_TRUE(window.Messages().empty()) << window.Messages().front();
  }
}

}  // namespace
}  // namespace marindo
