// How the site view sums up a clock's sections in one result line, and when
// a planned clock is written.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "siteview/SiteTasks.h"

namespace marindo {
namespace {

TEST(SiteTasksTest, OneResultLinePerClock) {
  struct Case {
    const char* what;
    std::vector<SectionOutcome> sections;
    std::string text;
    bool ok;
  };
  const std::vector<Case> cases{
      {"one section", {{Section::Ntp, "Modify success!", true}}, "Modify success!", true},
      {"every section alike",
       {{Section::Ntp, "Modify success!", true}, {Section::Basic, "Modify success!", true}},
       "Modify success!",
       true},
      {"silent throughout",
       {{Section::Ntp, "No response from 10.0.0.7!", false, true},
        {Section::Text, "No response from 10.0.0.7!", false, true}},
       "No response from 10.0.0.7!",
       false},
      {"one section refused",
       {{Section::Ntp, "Modify success!", true}, {Section::Display, "Modify failed!", false}},
       "ntp: Modify success!; display: Modify failed!",
       false},
      {"stopped half way",
       {{Section::Ntp, "Modify success!", true}, {Section::Bells, kNotSent, false}},
       "ntp: Modify success!; bells: not sent",
       false},
      {"nothing to write", {}, "", false},
  };
  for (const Case& c : cases) {
    const ClockOutcome outcome = OutcomeOf(c.sections);
    EXPECT_EQ(outcome.text, c.text) << c.what;
    EXPECT_EQ(outcome.ok, c.ok) << c.what;
  }
}

TEST(SiteTasksTest, OnlyAClockReadWholeWithAChangeIsWritten) {
  const FieldChange change{"ntp.servers[0]", Json("0.0.0.0"), Json("10.0.0.1")};
  ClockPlan changing{{{Section::Ntp, "1 change", true}}, {{"ntp", {change}, "07"}}};
  EXPECT_TRUE(changing.Writable());
  EXPECT_TRUE(changing.Changes());

  ClockPlan unchanged{{{Section::Ntp, "no change", true}}, {{"ntp", {}, "07"}}};
  EXPECT_TRUE(unchanged.Writable());
  EXPECT_FALSE(unchanged.Changes());

  // A clock whose second section could not be read is left out whole, even
  // though its first would change.
  ClockPlan halfRead{{{Section::Ntp, "1 change", true}, {Section::Text, "No response from 10.0.0.7!", false, true}},
                     {{"ntp", {change}, "07"}}};
  EXPECT_FALSE(halfRead.Writable());

  EXPECT_FALSE(ClockPlan{}.Writable());
}

}  // namespace
}  // namespace marindo
