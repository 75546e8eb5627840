#include "clocks/ClockNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace marindo {
namespace {

namespace fs = std::filesystem;

ClockRecord MakeClock(std::uint32_t ip, std::string_view serial, std::array<std::uint8_t, 6> mac) {
  ClockRecord record;
  record.ip = ip;
  std::copy_n(serial.begin(), std::min(serial.size(), ClockRecord::kSerialChars), record.serial.begin());
  record.mac = mac;
  return record;
}

constexpr std::array<std::uint8_t, 6> kHallMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr std::array<std::uint8_t, 6> kGateMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xAF};

class ClockNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "marindo-names-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    settings_ = folder_ / "Tessaly.ini";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::string SettingsText() const {
    std::ifstream in(settings_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path folder_;
  fs::path settings_;
  ClockRecord hall_ = MakeClock(0xC0A80114, "A1B2C3", kHallMac);  // 192.168.1.20
};

TEST_F(ClockNamesTest, StoresTheNameUnderSerialAndMac) {
  ClockNames names(settings_, CodePage::Cp1252);
  EXPECT_EQ(names.SectionName(hall_), "A1B2C3-00-1A-2B-3C-4D-5E");
  ASSERT_TRUE(names.Store(hall_, "Hall clock"));
  EXPECT_EQ(SettingsText(), "[A1B2C3-00-1A-2B-3C-4D-5E]\nname=Hall clock\n");
  EXPECT_EQ(names.Lookup(&hall_), "Hall clock");
}

TEST_F(ClockNamesTest, LookupGivesEmptyTextWithoutAStoredName) {
  ClockNames names(settings_, CodePage::Cp1252);
  EXPECT_EQ(names.Lookup(nullptr), "");
  EXPECT_EQ(names.Lookup(&hall_), "") << "no file";

  std::ofstream(settings_) << "[A1B2C3-00-1A-2B-3C-4D-5E]\nname=\nother=x\n";
  EXPECT_EQ(names.Lookup(&hall_), "") << "empty value";
  std::ofstream(settings_) << "[a1b2c3-00-1a-2b-3c-4d-5e]\nNAME = Hall clock \n";
  EXPECT_EQ(names.Lookup(&hall_), "Hall clock") << "written by hand";
}

TEST_F(ClockNamesTest, NameIsFoundAgainAtAnotherAddress) {
  ClockNames(settings_, CodePage::Cp1252).Store(hall_, "Hall clock");
  const ClockRecord moved = MakeClock(0x0A000007, "A1B2C3", kHallMac);
  EXPECT_EQ(ClockNames(settings_, CodePage::Cp1252).Lookup(&moved), "Hall clock");
}

TEST_F(ClockNamesTest, SameSerialWithTwoMacsKeepsTwoNames) {
  ClockNames names(settings_, CodePage::Cp1252);
  const ClockRecord gate = MakeClock(0xC0A80115, "A1B2C3", kGateMac);
  ASSERT_TRUE(names.Store(hall_, "Hall clock"));
  ASSERT_TRUE(names.Store(gate, "Gate clock"));
  EXPECT_EQ(names.Lookup(&hall_), "Hall clock");
  EXPECT_EQ(names.Lookup(&gate), "Gate clock");
  ASSERT_TRUE(names.Store(gate, ""));
  EXPECT_EQ(names.Lookup(&hall_), "Hall clock");
  EXPECT_EQ(names.Lookup(&gate), "");
}

TEST_F(ClockNamesTest, LookupReadsAtMost259Characters) {
  ClockNames names(settings_, CodePage::Cp1252);
  ASSERT_TRUE(names.Store(hall_, std::string(300, 'n')));
  EXPECT_EQ(names.Lookup(&hall_), std::string(259, 'n'));
}

TEST_F(ClockNamesTest, SerialIsConvertedFromTheCodePage) {
  struct Case {
    CodePage cp;
    const char* serial;
    const char* section;
    const char* label;
  };
  const Case cases[] = {
      {CodePage::Cp1252, "\xC4" "1", "\xC3\x84" "1-00-1A-2B-3C-4D-5E", "192.168.1.20 (\xC3\x84" "1)"},  // Ä1
      {CodePage::Cp936, "\xC4\xE3", "\xE4\xBD\xA0-00-1A-2B-3C-4D-5E", "192.168.1.20 (\xE4\xBD\xA0)"},  // 你
  };
  for (const Case& c : cases) {
    const ClockRecord clock = MakeClock(0xC0A80114, c.serial, kHallMac);
    ClockNames names(settings_, c.cp);
    EXPECT_EQ(names.SectionName(clock), c.section);
    EXPECT_EQ(names.DefaultLabel(clock), c.label);
    ASSERT_TRUE(names.Store(clock, "Salle \xC3\xA0 manger"));  // the file is UTF-8
    EXPECT_EQ(names.Lookup(&clock), "Salle \xC3\xA0 manger");
  }
}

// A name a Windows-era editor saved in the ANSI code page is not UTF-8; handed
// out as it is, it would break every consumer that needs UTF-8 (marindo-cli's
// JSON throws on it).
TEST_F(ClockNamesTest, NameThatIsNotUtf8IsReadThroughTheCodePage) {
  struct Case {
    const char* what;
    CodePage cp;
    std::string stored;
    std::string name;
  };
  const Case cases[] = {
      {"Latin-1 letter", CodePage::Cp1252, "Caf\xE9", "Caf\xC3\xA9"},
      {"Cyrillic", CodePage::Cp1251, "\xCC\xEE\xF1\xEA\xE2\xE0",
       "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"},
      {"double-byte", CodePage::Cp936, "\xC4\xE3\xBA\xC3", "\xE4\xBD\xA0\xE5\xA5\xBD"},
      {"byte the code page lacks", CodePage::Cp1252, "a\x81", "a\xEF\xBF\xBD"},
      {"overlong form", CodePage::Cp1252, "\xC0\xAF", "\xC3\x80\xC2\xAF"},
      {"surrogate", CodePage::Cp1252, "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
      {"cut", CodePage::Cp1252, "Caf\xC3", "Caf\xC3\x83"},
      {"UTF-8 as the window writes it", CodePage::Cp1251, "Salle \xC3\xA0 manger", "Salle \xC3\xA0 manger"},
      {"four-byte UTF-8", CodePage::Cp1252, "\xF0\x9F\x95\x92", "\xF0\x9F\x95\x92"},
  };
  for (const Case& c : cases) {
    std::ofstream(settings_, std::ios::binary | std::ios::trunc)
        << "[A1B2C3-00-1A-2B-3C-4D-5E]\nname=" << c.stored << "\n";
    EXPECT_EQ(ClockNames(settings_, c.cp).Lookup(&hall_), c.name) << c.what;
  }
}

TEST_F(ClockNamesTest, DecodedNameIsCutAt259Characters) {
  std::ofstream(settings_, std::ios::binary)
      << "[A1B2C3-00-1A-2B-3C-4D-5E]\nname=" << std::string(300, '\xE9') << "\n";
  std::string expected;
  for (int i = 0; i < 259; ++i) expected += "\xC3\xA9";
  EXPECT_EQ(ClockNames(settings_, CodePage::Cp1252).Lookup(&hall_), expected);
}

TEST_F(ClockNamesTest, SerialOfTwentyCharactersNeedsNoTerminator) {
  ClockRecord clock = MakeClock(0xC0A80114, "", kHallMac);
  clock.serial.fill('S');  // even the terminator's place
  ClockNames names(settings_, CodePage::Cp1252);
  EXPECT_EQ(names.SectionName(clock), std::string(20, 'S') + "-00-1A-2B-3C-4D-5E");
  EXPECT_EQ(names.DefaultLabel(clock), "192.168.1.20 (" + std::string(20, 'S') + ")");
}

TEST_F(ClockNamesTest, RenameEndStoresTheNameAndRelabels) {
  ClockNames names(settings_, CodePage::Cp1252);
  EXPECT_EQ(names.RenameEnd(&hall_, "Hall clock"), "Hall clock");
  EXPECT_EQ(hall_.label, "Hall clock");
  EXPECT_EQ(names.Lookup(&hall_), "Hall clock");
}

TEST_F(ClockNamesTest, RenameToEmptyDeletesTheNameAndShowsTheDefaultLabel) {
  ClockNames names(settings_, CodePage::Cp1252);
  ASSERT_TRUE(names.Store(hall_, "Hall clock"));
  EXPECT_EQ(names.RenameEnd(&hall_, ""), "192.168.1.20 (A1B2C3)");
  EXPECT_EQ(hall_.label, "192.168.1.20 (A1B2C3)");
  EXPECT_EQ(SettingsText().find("name="), std::string::npos) << SettingsText();
  EXPECT_EQ(names.Lookup(&hall_), "");
}

// Clicking a selected clock opens its label for editing; leaving the editor
// untouched must not store the label as the name. A default label so stored
// would keep the address of that moment after the clock moves.
TEST_F(ClockNamesTest, RenameThatLeavesTheLabelAsItWasStoresNothing) {
  struct Case {
    const char* what;
    std::string label;
    std::string settings;  // "" for no file
  };
  const std::string named = "[A1B2C3-00-1A-2B-3C-4D-5E]\nname=Hall clock\n";
  const Case cases[] = {
      {"default label", "192.168.1.20 (A1B2C3)", ""},
      {"default label, other names stored", "192.168.1.20 (A1B2C3)", "[B2-00-00-00-00-00-01]\nname=Gate\n"},
      {"stored name", "Hall clock", named},
      // Another operator renamed the clock since this window's search.
      {"name changed elsewhere meanwhile", "Hall clock", "[A1B2C3-00-1A-2B-3C-4D-5E]\nname=Lobby\n"},
  };
  for (const Case& c : cases) {
    fs::remove(settings_);
    if (!c.settings.empty()) {
      std::ofstream(settings_, std::ios::binary) << c.settings;
    }
    ClockNames names(settings_, CodePage::Cp1252);
    hall_.label = c.label;
    EXPECT_EQ(names.RenameEnd(&hall_, c.label), c.label) << c.what;
    EXPECT_EQ(hall_.label, c.label) << c.what;
    EXPECT_EQ(fs::exists(settings_), !c.settings.empty()) << c.what;
    EXPECT_EQ(SettingsText(), c.settings) << c.what;
  }

  // After the clock moves, the next search shows the new address.
  const ClockRecord moved = MakeClock(0x0A4D000D, "A1B2C3", kHallMac);  // 10.77.0.13
  EXPECT_EQ(ClockNames(settings_, CodePage::Cp1252).Lookup(&moved), "Lobby");
  fs::remove(settings_);
  hall_.label = "192.168.1.20 (A1B2C3)";
  ClockNames(settings_, CodePage::Cp1252).RenameEnd(&hall_, hall_.label);
  EXPECT_EQ(ClockNames(settings_, CodePage::Cp1252).Lookup(&moved), "");
  EXPECT_EQ(ClockNames(settings_, CodePage::Cp1252).DefaultLabel(moved), "10.77.0.13 (A1B2C3)");
}

TEST_F(ClockNamesTest, RenameWithoutASelectedClockDoesNothing) {
  ClockNames names(settings_, CodePage::Cp1252);
  EXPECT_EQ(names.RenameEnd(nullptr, "Hall clock"), std::nullopt);
  EXPECT_FALSE(fs::exists(settings_));
}

TEST_F(ClockNamesTest, UnwritableSettingsFileStillRelabelsForThisRun) {
  std::ofstream(settings_) << "";
  ClockNames names(settings_ / "Tessaly.ini", CodePage::Cp1252);  // its folder is a file
  std::string problem;
  EXPECT_FALSE(names.Store(hall_, "Hall clock", &problem));
  EXPECT_NE(problem.find("could not be written"), std::string::npos) << problem;
  problem.clear();
  EXPECT_EQ(names.RenameEnd(&hall_, "Hall clock", &problem), "Hall clock");
  EXPECT_EQ(hall_.label, "Hall clock");
  EXPECT_NE(problem.find("could not be written"), std::string::npos) << problem;
}

// A serial is the clock's bytes; one with a line break or ']' could not be a
// section header and must not write lines of its own.
TEST_F(ClockNamesTest, SerialThatCannotNameASectionIsNotStored) {
  ClockNames names(settings_, CodePage::Cp1252);
  for (const char* serial : {"A]B", "A\nB", "A\rB"}) {
    const ClockRecord odd = MakeClock(0xC0A80114, serial, kHallMac);
    EXPECT_FALSE(names.Store(odd, "x")) << serial;
    EXPECT_EQ(names.Lookup(&odd), "") << serial;
  }
  EXPECT_FALSE(fs::exists(settings_));
}

}  // namespace
}  // namespace marindo
