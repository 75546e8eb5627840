#include "app/PasswordStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace marindo {
namespace {

namespace fs = std::filesystem;

class PasswordStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "marindo-password-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    settings_ = folder_ / "Tessaly.ini";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void WriteSettings(const std::string& content) const { std::ofstream(settings_, std::ios::binary) << content; }
  std::string SettingsText() const {
    std::ifstream in(settings_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path folder_;
  fs::path settings_;
};

TEST_F(PasswordStoreTest, DefaultPasswordOnlyWhileNoneIsStored) {
  const PasswordStore store(settings_);
  struct Case {
    const char* what;
    std::string settings;  // "" for no file
    const char* accepted;
    const char* refused;
  };
  const Case cases[] = {
      {"no file", "", "Tulip@KVX", "tulip@kvx"},
      {"other sections only", "[A1-00-00-00-00-00-01]\nname=Hall\n", "Tulip@KVX", "Hall"},
      {"empty value", "[LOGIN_PSW]\npwd=\n", "Tulip@KVX", ""},
      {"stored", "[LOGIN_PSW]\npwd=Secret9\n", "Secret9", "Tulip@KVX"},
      {"case-sensitive", "[LOGIN_PSW]\npwd=Secret9\n", "Secret9", "secret9"},
      {"no trimming of the typed text", "[LOGIN_PSW]\npwd=Secret9\n", "Secret9", "Secret9 "},
  };
  for (const Case& c : cases) {
    fs::remove(settings_);
    if (!c.settings.empty()) {
      WriteSettings(c.settings);
    }
    EXPECT_TRUE(store.MatchesLoginPassword(c.accepted)) << c.what;
    EXPECT_FALSE(store.MatchesLoginPassword(c.refused)) << c.what;
  }
}

TEST_F(PasswordStoreTest, ReadsTheFileAfreshOnEveryCall) {
  const PasswordStore store(settings_);
  EXPECT_TRUE(store.MatchesLoginPassword("Tulip@KVX"));
  WriteSettings("[LOGIN_PSW]\npwd=Changed1\n");
  EXPECT_TRUE(store.MatchesLoginPassword("Changed1"));
  EXPECT_FALSE(store.MatchesLoginPassword("Tulip@KVX"));
}

TEST_F(PasswordStoreTest, ReadsAtMost31Characters) {
  const std::string stored(40, 'p');
  WriteSettings("[LOGIN_PSW]\npwd=" + stored + "\n");
  const PasswordStore store(settings_);
  EXPECT_EQ(store.ReadStoredPassword(), stored.substr(0, 31));
  EXPECT_TRUE(store.MatchesLoginPassword(stored.substr(0, 31)));
  EXPECT_FALSE(store.MatchesLoginPassword(stored));
}

// A file that exists but cannot be read must not put the well-known default
// password in force.
TEST_F(PasswordStoreTest, UnreadableSettingsFileLetsNoOneIn) {
  fs::create_directory(settings_);
  const PasswordStore store(settings_);
  EXPECT_EQ(store.ReadStoredPassword(), "");
  EXPECT_FALSE(store.MatchesLoginPassword("Tulip@KVX"));
  EXPECT_FALSE(store.MatchesLoginPassword(""));
}

TEST_F(PasswordStoreTest, WrittenPasswordIsInForceAsPlainText) {
  WriteSettings("[A1-00-00-00-00-00-01]\nname=Hall\n");
  PasswordStore store(settings_);
  ASSERT_TRUE(store.WriteStoredPassword("Secret9"));
  EXPECT_EQ(SettingsText(), "[A1-00-00-00-00-00-01]\nname=Hall\n[LOGIN_PSW]\npwd=Secret9\n");
  EXPECT_TRUE(store.MatchesLoginPassword("Secret9"));
  EXPECT_FALSE(store.MatchesLoginPassword("Tulip@KVX"));
  EXPECT_TRUE(store.WriteStoredPassword("Secret9")) << "the same password again";
  EXPECT_TRUE(store.WriteStoredPassword("Other1"));
  EXPECT_TRUE(store.MatchesLoginPassword("Other1"));
}

TEST_F(PasswordStoreTest, FailedWriteIsReportedAndChangesNothing) {
  WriteSettings("");
  PasswordStore store(settings_ / "Tessaly.ini");  // its folder is a file
  EXPECT_FALSE(store.WriteStoredPassword("Secret9"));
  EXPECT_FALSE(store.MatchesLoginPassword("Secret9"));
}

// Blanks at the ends and enclosing quotes do not survive the file; such a
// password would never log in, so the one before stays in force.
TEST_F(PasswordStoreTest, PasswordTheFileCannotCarryIsRefused) {
  const std::string refused[] = {
      " secret ", "secret\t", "\"quoted\"", "'quoted'", std::string(32, 'p'), "two\nlines",
  };
  struct Start {
    const char* what;
    std::string settings;
    std::string inForce;
  };
  const Start starts[] = {
      {"no stored password", "", "Tulip@KVX"},
      {"stored password", "[LOGIN_PSW]\npwd=Secret9\n", "Secret9"},
      {"hand-quoted password", "[LOGIN_PSW]\npwd=\"  old \"\n", "  old "},
  };
  for (const Start& start : starts) {
    for (const std::string& password : refused) {
      fs::remove(settings_);
      if (!start.settings.empty()) {
        WriteSettings(start.settings);
      }
      PasswordStore store(settings_);
      EXPECT_FALSE(store.WriteStoredPassword(password)) << start.what << ": [" << password << "]";
      EXPECT_TRUE(store.MatchesLoginPassword(start.inForce)) << start.what << ": [" << password << "]";
      EXPECT_FALSE(store.MatchesLoginPassword(password)) << start.what << ": [" << password << "]";
    }
  }
}

}  // namespace
}  // namespace marindo
