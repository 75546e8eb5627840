// The site view's preferences in the settings file: the threshold and its
// default for whatever else the file holds, and the ranges, stored only when
// they parse.

#include "site/SitePreferences.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "site/Targets.h"

namespace marindo {
namespace {

namespace fs = std::filesystem;

// A clock's name beside the preferences: storing them must leave it alone.
constexpr const char* kNameSection = "[A1B2C3-02-13-0A-D5-00-0B]\nname=Hall clock\n";

class SitePreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "marindo-site-prefs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    settings_ = folder_ / "Tessaly.ini";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void Write(const std::string& text) const {
    std::ofstream out(settings_, std::ios::binary | std::ios::trunc);
    out << text;
  }
  std::string Text() const {
    std::ifstream in(settings_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path folder_;
  fs::path settings_;
};

TEST_F(SitePreferencesTest, ThresholdIsTheDefaultWithoutAFileOrKey) {
  EXPECT_EQ(SitePreferences(settings_).SyncThresholdHours(), kDefaultSyncThresholdHours);
  Write(std::string(kNameSection) + "[SiteView]\nRanges=10.0.0.0/24\n");
  EXPECT_EQ(SitePreferences(settings_).SyncThresholdHours(), kDefaultSyncThresholdHours);
}

TEST_F(SitePreferencesTest, StoredThresholdIsReadOnlyWhenItIsAWholeNumberInRange) {
  struct Stored {
    const char* text;
    int hours;
  };
  const std::vector<Stored> cases{
      {"1", 1},
      {"36", 36},
      {"8760", kMaxSyncThresholdHours},
      {" 48 ", 48},  // blanks around a value are the file's, not the value's
      {"0048", 48},
      {"", kDefaultSyncThresholdHours},
      {"abc", kDefaultSyncThresholdHours},
      {"12h", kDefaultSyncThresholdHours},
      {"1.5", kDefaultSyncThresholdHours},
      {"+12", kDefaultSyncThresholdHours},
      {"0", kDefaultSyncThresholdHours},
      {"-5", kDefaultSyncThresholdHours},
      {"8761", kDefaultSyncThresholdHours},
      {"99999999999", kDefaultSyncThresholdHours},  // beyond int
      // Longer than any threshold: bad as a whole, not cut to "...0004".
      {"00000000000000048", kDefaultSyncThresholdHours},
  };
  for (const Stored& c : cases) {
    SCOPED_TRACE(c.text);
    Write(std::string("[SiteView]\nSyncThresholdHours=") + c.text + "\n");
    EXPECT_EQ(SitePreferences(settings_).SyncThresholdHours(), c.hours);
  }
}

TEST_F(SitePreferencesTest, ThresholdRoundTripsAndOutOfRangeIsRefused) {
  Write(kNameSection);
  SitePreferences preferences(settings_);
  std::string problem;
  ASSERT_TRUE(preferences.StoreSyncThresholdHours(48, &problem)) << problem;
  EXPECT_EQ(preferences.SyncThresholdHours(), 48);
  EXPECT_EQ(SitePreferences(settings_).SyncThresholdHours(), 48);
  ASSERT_TRUE(preferences.StoreSyncThresholdHours(kMaxSyncThresholdHours, &problem)) << problem;
  EXPECT_EQ(preferences.SyncThresholdHours(), kMaxSyncThresholdHours);

  const std::string before = Text();
  for (const int hours : {0, -1, kMaxSyncThresholdHours + 1}) {
    SCOPED_TRACE(hours);
    problem.clear();
    EXPECT_FALSE(preferences.StoreSyncThresholdHours(hours, &problem));
    EXPECT_EQ(problem, "the threshold must be 1 to 8760 hours");
  }
  EXPECT_EQ(Text(), before);
  EXPECT_EQ(Text().find(kNameSection), 0u);
}

TEST_F(SitePreferencesTest, RangesRoundTripAsWritten) {
  Write(kNameSection);
  SitePreferences preferences(settings_);
  EXPECT_EQ(preferences.Ranges(), "");
  // The longest ranges kept: a full line of addresses, read back whole.
  std::string longest = "10.0.0.1";
  while (longest.size() + 9 <= 4085) longest += ",10.0.0.1";
  longest += ",10.0.0.100";
  ASSERT_EQ(longest.size(), 4096u);
  for (const std::string& ranges : {std::string("10.0.0.0/24,10.0.1.5"), std::string("10.20.0.10-10.20.0.200"), longest}) {
    SCOPED_TRACE(ranges.substr(0, 40));
    std::string problem;
    ASSERT_TRUE(preferences.StoreRanges(ranges, &problem)) << problem;
    EXPECT_EQ(preferences.Ranges(), ranges);
    EXPECT_EQ(SitePreferences(settings_).Ranges(), ranges);
  }
  EXPECT_EQ(Text().find(kNameSection), 0u);
}

TEST_F(SitePreferencesTest, RangesThatDoNotParseAreRefusedWithTheParsersWords) {
  SitePreferences preferences(settings_);
  ASSERT_TRUE(preferences.StoreRanges("10.0.0.0/24", nullptr));
  const std::string before = Text();
  for (const char* bad : {"10.0.0.300", "10.0.0.9-10.0.0.1", "10.0.0.0/8", "hall clock", "10.0.0.1,,10.0.0.2",
                          "10.0.0.1\n[Other]"}) {
    SCOPED_TRACE(bad);
    const auto parsed = ParseTargets(bad);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    std::string problem;
    EXPECT_FALSE(preferences.StoreRanges(bad, &problem));
    EXPECT_EQ(problem, std::get<std::string>(parsed));
    EXPECT_EQ(preferences.Ranges(), "10.0.0.0/24");
  }
  EXPECT_EQ(Text(), before);
}

TEST_F(SitePreferencesTest, AllIsRefusedAsRanges) {
  SitePreferences preferences(settings_);
  std::string problem;
  EXPECT_FALSE(preferences.StoreRanges("all", &problem));
  EXPECT_NE(problem.find("\"all\""), std::string::npos) << problem;
  EXPECT_FALSE(fs::exists(settings_));  // nothing was written
  EXPECT_FALSE(preferences.StoreRanges("all", nullptr));  // and no one need ask why
}

TEST_F(SitePreferencesTest, TooLongRangesAreRefusedBeforeParsing) {
  SitePreferences preferences(settings_);
  std::string longer = "10.0.0.1";
  while (longer.size() <= 4096) longer += ",10.0.0.1";
  std::string problem;
  EXPECT_FALSE(preferences.StoreRanges(longer, &problem));
  EXPECT_EQ(problem, "the ranges are longer than 4096 characters");
  EXPECT_FALSE(fs::exists(settings_));
}

TEST_F(SitePreferencesTest, EmptyRangesDeleteTheKeyAndKeepTheRest) {
  Write(kNameSection);
  SitePreferences preferences(settings_);
  ASSERT_TRUE(preferences.StoreRanges("10.0.0.0/24", nullptr));
  ASSERT_TRUE(preferences.StoreSyncThresholdHours(12, nullptr));
  std::string problem;
  ASSERT_TRUE(preferences.StoreRanges("", &problem)) << problem;
  EXPECT_EQ(preferences.Ranges(), "");
  EXPECT_EQ(Text().find("Ranges"), std::string::npos) << Text();
  EXPECT_EQ(preferences.SyncThresholdHours(), 12);
  EXPECT_EQ(Text().find(kNameSection), 0u);
  // Nothing to delete is no failure, with or without a file.
  EXPECT_TRUE(preferences.StoreRanges("", &problem)) << problem;
  EXPECT_TRUE(SitePreferences(folder_ / "none.ini").StoreRanges("", &problem)) << problem;
}

TEST_F(SitePreferencesTest, AFileThatCannotBeWrittenSaysSo) {
  Write("");
  // A settings file under a regular file: its folder can never be made, even
  // by root.
  SitePreferences preferences(settings_ / "Tessaly.ini");
  std::string problem;
  EXPECT_FALSE(preferences.StoreSyncThresholdHours(12, &problem));
  EXPECT_FALSE(problem.empty());
  problem.clear();
  EXPECT_FALSE(preferences.StoreRanges("10.0.0.1", &problem));
  EXPECT_FALSE(problem.empty());
  EXPECT_EQ(preferences.SyncThresholdHours(), kDefaultSyncThresholdHours);
}

}  // namespace
}  // namespace marindo
