#include "clocks/PasswordStore.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "clocks/FileSizeLimit.h"
#include "platform/IniFile.h"

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

TEST_F(PasswordStoreTest, SaveTellsWhatIsInForce) {
  PasswordStore store(settings_);
  const PasswordStore::SaveResult saved = store.SavePassword("Secret9");
  EXPECT_EQ(saved.outcome, PasswordStore::Saved::Yes);
  EXPECT_EQ(saved.problem, "");

  const PasswordStore::SaveResult padded = store.SavePassword(" padded ");
  EXPECT_EQ(padded.outcome, PasswordStore::Saved::OldInForce);
  EXPECT_EQ(padded.problem, "") << "the file worked; it cannot carry the password";
  EXPECT_TRUE(store.MatchesLoginPassword("Secret9"));
}

using testing::FileSizeLimit;

// The new password is written but reads back trimmed; the old one's file is
// bigger than the new one's and no longer fits. Neither password is in force,
// and the store must not say the old one is.
TEST_F(PasswordStoreTest, ChangeThatCannotBeUndoneSaysNoPasswordIsInForce) {
  const std::string old = "[LOGIN_PSW]\npwd=Secret#1234567\n";  // 31 bytes
  const std::string changed = "[LOGIN_PSW]\npwd= abcde\n";      // 23 bytes
  WriteSettings(old);
  PasswordStore store(settings_);
  PasswordStore::SaveResult result;
  {
    FileSizeLimit limit(25);
    result = store.SavePassword(" abcde");
  }
  EXPECT_EQ(result.outcome, PasswordStore::Saved::NoneInForce);
  EXPECT_EQ(result.problem,
            "The settings file " + settings_.string() + " could not be written: File too large.");
  EXPECT_EQ(SettingsText(), changed);
  EXPECT_FALSE(store.MatchesLoginPassword("Secret#1234567"));
  EXPECT_FALSE(store.MatchesLoginPassword(" abcde"));
}

TEST_F(PasswordStoreTest, SettingsFileThatIsNotARegularFileIsRefusedWithItsReason) {
  ASSERT_EQ(::mkfifo(settings_.c_str(), 0660), 0);
  const std::string reason = "The settings file " + settings_.string() +
                             " is not a regular file; it was neither read nor written. "
                             "Remove it or replace it with a regular file.";
  PasswordStore store(settings_);
  std::string problem;
  EXPECT_FALSE(store.MatchesLoginPassword("Tulip@KVX", &problem));
  EXPECT_EQ(problem, reason);
  problem.clear();
  EXPECT_FALSE(store.MatchesLoginPassword("wrong", &problem));
  EXPECT_EQ(problem, reason);

  const PasswordStore::SaveResult result = store.SavePassword("Secret9");
  EXPECT_EQ(result.outcome, PasswordStore::Saved::OldInForce);
  EXPECT_EQ(result.problem, reason);
  EXPECT_TRUE(fs::is_fifo(settings_));

  fs::remove(settings_);
  problem = "untouched";
  EXPECT_FALSE(store.MatchesLoginPassword("wrong", &problem));
  EXPECT_EQ(problem, "untouched") << "a wrong password is no problem of the file";
}

// The window renames clocks while marindo-cli or a second operator changes the
// password: each rename loads, edits and renames the whole file. None of them
// may drop another's change, and none may put an old password back.
TEST_F(PasswordStoreTest, RenamesAndPasswordChangesOfTwoProcessesLoseNothing) {
  constexpr int kRenames = 80;
  constexpr int kChanges = 40;
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  auto spawn = [&](const std::function<bool()>& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(start[1]);
      char go = 0;
      while (::read(start[0], &go, 1) < 0) {
      }
      ::_exit(work() ? 0 : 1);
    }
    return pid;
  };
  const auto section = [](int i) { return "SN" + std::to_string(i) + "-00-1A-2B-3C-4D-5E"; };
  const std::vector<pid_t> children{
      spawn([&] {
        IniFile names(settings_);
        bool allStored = true;
        for (int i = 0; i < kRenames; ++i) {
          allStored &= names.WriteString(section(i), "name", "Clock " + std::to_string(i));
        }
        return allStored;
      }),
      spawn([&] {
        PasswordStore store(settings_);
        bool allSaved = true;
        for (int i = 0; i < kChanges; ++i) {
          allSaved &= store.WriteStoredPassword("Secret" + std::to_string(i));
        }
        return allSaved;
      }),
  };
  ::close(start[0]);
  ::close(start[1]);
  for (const pid_t pid : children) {
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write was refused";
  }
  EXPECT_EQ(PasswordStore(settings_).ReadStoredPassword(), "Secret" + std::to_string(kChanges - 1));
  IniFile names(settings_);
  int lost = 0;
  for (int i = 0; i < kRenames; ++i) {
    lost += names.ReadString(section(i), "name", "", 20) == "Clock " + std::to_string(i) ? 0 : 1;
  }
  EXPECT_EQ(lost, 0);
}

}  // namespace
}  // namespace marindo
