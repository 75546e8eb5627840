// The settings file of apply and the site file of backup and restore: what is
// wrong with a bad one, in the words marindo-cli prints, and a site written
// by one front end read back by the other.

#include "site/SiteFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <unistd.h>

#include "clocks/ClockNames.h"
#include "site/ClockIdentity.h"

namespace marindo {
namespace {

class SiteFileTest : public ::testing::Test {
 protected:
  SiteFileTest() { std::filesystem::create_directories(folder_); }
  ~SiteFileTest() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& text) {
    const std::string path = (folder_ / "file.json").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
  }

  std::filesystem::path folder_ =
      std::filesystem::temp_directory_path() / ("marindo-site-file-test-" + std::to_string(::getpid()));
};

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST_F(SiteFileTest, ABadFileIsRefusedWithItsFirstProblem) {
  enum Kind { kClockSettings, kSite };
  struct Case {
    Kind kind;
    const char* file;  // nullptr: no such file
    std::string first;  // the first line, after "PATH: "
    bool whole = true;  // false: the line starts with `first`
  };
  const Case cases[] = {
      {kClockSettings, nullptr, "cannot be read"},
      {kClockSettings, R"({"basic": {"hour24": true)", "malformed JSON: ", false},
      {kClockSettings, "[1, 2]", "must hold a JSON object"},
      {kClockSettings, R"({"clocks": []})", "\"clocks\" must hold exactly one clock for apply"},
      {kClockSettings, R"({"clocks": [{"text": {}}, {"text": {}}]})",
       "\"clocks\" must hold exactly one clock for apply"},
      {kClockSettings, R"({"lights": {}, "serial": 5})", "lights: unknown field"},
      {kClockSettings, R"({"serial": 5, "text": {"text": "A"}})", "serial: must be a text"},
      {kClockSettings, R"({"serial": "A1"})", "no section to write (basic, ntp, display, text or bells)"},
      {kClockSettings, R"({"clocks": [{"mac": "02-00-00-00-00-01"}]})",
       "no section to write (basic, ntp, display, text or bells)"},
      {kSite, nullptr, "cannot be read"},
      {kSite, "{\"clocks\": [", "malformed JSON: ", false},
      {kSite, "[]", "must hold a JSON object"},
      {kSite, R"({"format": "marindo-site", "owner": "hall", "clocks": []})", "owner: unknown field"},
      {kSite, R"({"format": "marindo-site", "version": 1})", "clocks: a list of clocks is needed"},
      {kSite, R"({"clocks": {"serial": "A1"}})", "clocks: a list of clocks is needed"},
      {kSite, R"({"clocks": [5]})", "clocks[0].is not an object"},
      {kSite, R"({"clocks": [{"serial": "A1", "text": {"text": "A"}}]})",
       "clocks[0]. needs \"serial\" and \"mac\" to find its clock"},
      {kSite, R"({"clocks": [{"serial": "A1", "mac": "02-00-00-00-00-01"}, {"serial": "B2", "mac": 7}]})",
       "clocks[1].mac: must be a text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file == nullptr ? "no file" : c.file);
    const std::string path = c.file == nullptr ? (folder_ / "missing.json").string() : Write(c.file);
    const auto loaded = c.kind == kSite ? LoadSiteFile(path) : LoadClockSettings(path);
    ASSERT_TRUE(std::holds_alternative<std::string>(loaded));
    const std::string first = FirstLine(std::get<std::string>(loaded));
    if (c.whole) {
      EXPECT_EQ(first, path + ": " + c.first);
    } else {
      EXPECT_TRUE(first.starts_with(path + ": " + c.first)) << first;
    }
  }
}

// Every problem of the file is told, each on a line naming the file.
TEST_F(SiteFileTest, EveryProblemHasALineOfItsOwn) {
  const std::string path = Write(R"({"clocks": [{"serial": "A1", "lights": 1}, 5]})");
  const auto loaded = LoadSiteFile(path);
  ASSERT_TRUE(std::holds_alternative<std::string>(loaded));
  EXPECT_EQ(std::get<std::string>(loaded), path + ": clocks[0].lights: unknown field\n" + path +
                                               ": clocks[0]. needs \"serial\" and \"mac\" to find its clock\n" +
                                               path + ": clocks[1].is not an object");
}

// A backup of every section of a clock, as either front end writes it, reads
// back as it was written, finds its clock again, and applies to one clock.
TEST_F(SiteFileTest, ASavedSiteReadsBackAsItWasWritten) {
  ClockRecord record;
  record.ip = 0x0AD5000B;
  std::ranges::copy(std::string("HALL0001"), record.serial.begin());
  record.mac = {0x02, 0x13, 0x0A, 0xD5, 0x00, 0x0B};
  record.firmwareMajor = 1;
  record.firmwareMinor = 5;
  const ClockNames names(folder_ / "none.ini", CodePage::Cp1252);
  Json clock = IdentityJson(record, names, CodePage::Cp1252);
  for (Section section : kAllSections) {
    clock[std::string(SectionName(section))] = SectionToJson(record, section, CodePage::Cp1252);
  }
  const Json site = SiteDocument(Json::array({clock}));
  const std::string text = site.dump(2);
  EXPECT_TRUE(text.starts_with("{\n  \"format\": \"marindo-site\",\n  \"version\": 1,\n  \"clocks\": [")) << text;
  const std::string path = Write(text);

  const auto loaded = LoadSiteFile(path);
  ASSERT_TRUE(std::holds_alternative<Json>(loaded)) << std::get<std::string>(loaded);
  EXPECT_EQ(std::get<Json>(loaded), site);
  const Json& saved = std::get<Json>(loaded)["clocks"][0];
  EXPECT_TRUE(IsSavedClock(saved, record, CodePage::Cp1252));
  EXPECT_EQ(WritableSectionsIn(saved),
            (std::vector<Section>{Section::Ntp, Section::Display, Section::Text, Section::Bells, Section::Basic}));

  const auto one = LoadClockSettings(path);
  ASSERT_TRUE(std::holds_alternative<Json>(one)) << std::get<std::string>(one);
  EXPECT_EQ(std::get<Json>(one), clock);
}

// A saved clock is found again by serial and MAC, however the MAC is written.
TEST_F(SiteFileTest, ASavedClockIsItsSerialAndMac) {
  ClockRecord record;
  std::ranges::copy(std::string("HALL0001"), record.serial.begin());
  record.mac = {0x02, 0x13, 0x0A, 0xD5, 0x00, 0x0B};
  struct Case {
    const char* serial;
    const char* mac;
    bool same;
  };
  const Case cases[] = {
      {"HALL0001", "02-13-0A-D5-00-0B", true},
      {"HALL0001", "02:13:0a:d5:00:0b", true},
      {"HALL0002", "02-13-0A-D5-00-0B", false},
      {"HALL0001", "02-13-0A-D5-00-0C", false},
      {"HALL0001", "", false},
  };
  for (const Case& c : cases) {
    const Json saved = {{"serial", c.serial}, {"mac", c.mac}};
    EXPECT_EQ(IsSavedClock(saved, record, CodePage::Cp1252), c.same) << c.serial << " " << c.mac;
  }
}

}  // namespace
}  // namespace marindo
