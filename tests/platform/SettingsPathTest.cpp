#include "platform/SettingsPath.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace marindo {
namespace {

// Puts MARINDO_SETTINGS back as the test found it.
class SettingsPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv("MARINDO_SETTINGS")) {
      saved_ = value;
    }
  }
  void TearDown() override {
    if (saved_) {
      ::setenv("MARINDO_SETTINGS", saved_->c_str(), 1);
    } else {
      ::unsetenv("MARINDO_SETTINGS");
    }
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(SettingsPathTest, MachineFileUnlessTheEnvironmentNamesAnother) {
  ::unsetenv("MARINDO_SETTINGS");
  EXPECT_EQ(SettingsFilePath(), "/var/lib/marindo/Tessaly.ini");

  ::setenv("MARINDO_SETTINGS", "", 1);
  EXPECT_EQ(SettingsFilePath(), "/var/lib/marindo/Tessaly.ini") << "empty counts as unset";

  ::setenv("MARINDO_SETTINGS", "/tmp/sandbox/Tessaly.ini", 1);
  EXPECT_EQ(SettingsFilePath(), "/tmp/sandbox/Tessaly.ini");
}

}  // namespace
}  // namespace marindo
