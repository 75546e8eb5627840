#include "cli/CliOutput.h"

#include <gtest/gtest.h>

namespace marindo {
namespace {

// A name that is not UTF-8 must not end the program halfway through a backup.
TEST(CliOutputTest, TextThatIsNotUtf8IsPrintedWithItsBadBytesReplaced) {
  Json clock;
  clock["name"] = std::string("Caf\xE9");
  std::string printed;
  EXPECT_NO_THROW(printed = JsonDocument(clock));
  EXPECT_NE(printed.find("Caf\xEF\xBF\xBD"), std::string::npos) << printed;
}

TEST(CliOutputTest, TableColumnsLineUpWithoutTrailingBlanks) {
  TextTable table({"ADDRESS", "SERIAL", "RESULT"});
  table.AddRow({"10.213.0.100", "A1", "Modify success!"});
  table.AddRow({"10.0.0.5", "LONGSERIAL", "Modify failed!"});
  EXPECT_EQ(table.Render(),
            "ADDRESS       SERIAL      RESULT\n"
            "10.213.0.100  A1          Modify success!\n"
            "10.0.0.5      LONGSERIAL  Modify failed!\n");
}

TEST(CliOutputTest, MacLikeTheSystemPage) {
  EXPECT_EQ(MacText({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), "00-1A-2B-3C-4D-5E");
}

TEST(CliOutputTest, BellsShowOnlyTheBellsThatAreSet) {
  Json bells = Json::array();
  for (int bell = 1; bell <= 30; ++bell) {
    bells.push_back({{"bell", bell}, {"enabled", false}, {"time", "00:00:00"}, {"days", Json::array()},
                     {"duration", 0}});
  }
  bells[0] = {{"bell", 1}, {"enabled", true}, {"time", "07:30:00"}, {"days", {"Mon", "Fri"}}, {"duration", 5}};
  const std::string text = SectionText(Section::Bells, bells);
  EXPECT_NE(text.find("1     yes  07:30:00  Mon, Fri  5"), std::string::npos) << text;
  EXPECT_NE(text.find("29 bells not set"), std::string::npos) << text;
}

TEST(CliOutputTest, NestedFieldsReadAsDottedNames) {
  const Json basic = {{"zone", "UTC +5:45"}, {"dst", {{"enabled", true}, {"start", {{"month", "Mar"}}}}}};
  EXPECT_EQ(SectionText(Section::Basic, basic),
            "FIELD            VALUE\n"
            "zone             UTC +5:45\n"
            "dst.enabled      true\n"
            "dst.start.month  Mar\n");
}

}  // namespace
}  // namespace marindo
