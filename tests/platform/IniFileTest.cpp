#include "platform/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace marindo {
namespace {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with all it
// holds at the end of the test.
class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "marindo-ini-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    path_ = folder_ / "Tessaly.ini";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void WriteRaw(const std::string& content) const {
    std::ofstream(path_, std::ios::binary) << content;
  }
  std::string ReadRaw() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static unsigned ModeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 0777U;
  }
  std::size_t EntriesInFolder() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
  }

  fs::path folder_;
  fs::path path_;
};

TEST_F(IniFileTest, ReadsByTheProfileRules) {
  struct Case {
    const char* what;
    std::string content;
    const char* section;
    const char* key;
    const char* expected;
  };
  const Case cases[] = {
      {"names without case", "[Login_Psw]\nPWD=abc\n", "LOGIN_PSW", "pwd", "abc"},
      {"blanks around names and value", "[ s ]\n  k  =  v w \t\n", "s", "k", "v w"},
      {"double quotes", "[s]\nk=\" v \"\n", "s", "k", " v "},
      {"single quotes", "[s]\nk='v'\n", "s", "k", "v"},
      {"unmatched quotes stay", "[s]\nk=\"v'\n", "s", "k", "\"v'"},
      {"one quote is a value", "[s]\nk=\"\n", "s", "k", "\""},
      {"value holding '='", "[s]\nk=a=b\n", "s", "k", "a=b"},
      {"present but empty", "[s]\nk=\n", "s", "k", ""},
      {"CRLF lines", "[s]\r\nk=v\r\nj=w\r\n", "s", "j", "w"},
      {"no final line end", "[s]\nk=v", "s", "k", "v"},
      {"byte-order mark", "\xEF\xBB\xBF[s]\nk=v\n", "s", "k", "v"},
      {"first of equal keys", "[s]\nk=1\nK=2\n", "s", "k", "1"},
      {"first of equal sections", "[s]\nk=1\n[S]\nk=2\n", "s", "k", "1"},
      {"later equal section unread", "[s]\nk=1\n[S]\nj=2\n", "s", "j", "fallback"},
      {"missing section", "[t]\nk=v\n", "s", "k", "fallback"},
      {"missing key", "[s]\nj=v\n", "s", "k", "fallback"},
      {"key of another section", "[t]\nk=v\n[s]\n", "s", "k", "fallback"},
      {"key before any section", "k=v\n[s]\n", "s", "k", "fallback"},
      {"comment line", "[s]\n;k=v\n", "s", "k", "fallback"},
      {"line without '='", "[s]\nk\n", "s", "k", "fallback"},
      {"header without ']' ends the section", "[s]\n[t\nk=v\n", "s", "k", "fallback"},
      {"header without ']' is no section", "[s]\n[t\nk=v\n", "t", "k", "fallback"},
      {"text after ']'", "[s] ; note\nk=v\n", "s", "k", "v"},
  };
  for (const Case& c : cases) {
    WriteRaw(c.content);
    EXPECT_EQ(IniFile(path_).ReadString(c.section, c.key, "fallback", 100), c.expected) << c.what;
  }
}

TEST_F(IniFileTest, MissingOrUnreadableFileReadsTheFallback) {
  EXPECT_EQ(IniFile(path_).ReadString("s", "k", "fallback", 100), "fallback");
  EXPECT_EQ(IniFile(path_).TryReadString("s", "k", "fallback", 100), "fallback");

  // A folder in the file's place exists but cannot be read as a file.
  fs::create_directory(path_);
  EXPECT_EQ(IniFile(path_).ReadString("s", "k", "fallback", 100), "fallback");
  EXPECT_EQ(IniFile(path_).TryReadString("s", "k", "fallback", 100), std::nullopt);
}

TEST_F(IniFileTest, ReadsAtMostMaxCharsWholeCharacters) {
  struct Case {
    const char* value;
    std::size_t maxChars;
    const char* expected;
  };
  const Case cases[] = {
      {"abcdef", 3, "abc"},
      {"abc", 3, "abc"},
      {"abc", 0, ""},
      {"\xC3\xA4\xC3\xB6\xC3\xBC", 2, "\xC3\xA4\xC3\xB6"},     // äöü
      {"a\xE4\xB8\xAD\xE6\x96\x87", 2, "a\xE4\xB8\xAD"},         // a中文
  };
  for (const Case& c : cases) {
    WriteRaw(std::string("[s]\nk=") + c.value + "\n");
    EXPECT_EQ(IniFile(path_).ReadString("s", "k", "", c.maxChars), c.expected) << c.value;
  }
  EXPECT_EQ(IniFile(path_).ReadString("s", "missing", "abcdef", 4), "abcd");
}

TEST_F(IniFileTest, WritesIntoTheFileKeepingEverythingElse) {
  struct Case {
    const char* what;
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"new file", "", "[s]\nk=v\n"},
      {"replaces the value in place", "; note\n[s]\nj=1\nk=old\nm=2\n", "; note\n[s]\nj=1\nk=v\nm=2\n"},
      {"keeps the file's spelling", "[S]\n  K = old\n", "[S]\nK=v\n"},
      {"new key before the blank line", "[s]\nj=1\n\n[t]\nx=1\n", "[s]\nj=1\nk=v\n\n[t]\nx=1\n"},
      {"new key in an empty section", "[s]\n[t]\n", "[s]\nk=v\n[t]\n"},
      {"new section after a last line without end", "[t]\nx=1", "[t]\nx=1\n[s]\nk=v\n"},
      {"CRLF stays CRLF", "[t]\r\nx=1\r\n", "[t]\r\nx=1\r\n[s]\r\nk=v\r\n"},
      {"first of equal sections", "[s]\nk=1\n[s]\nk=2\n", "[s]\nk=v\n[s]\nk=2\n"},
      {"key into the last section", "[s]\nj=1", "[s]\nj=1\nk=v\n"},
      {"byte-order mark kept", "\xEF\xBB\xBF[s]\nk=1\n", "\xEF\xBB\xBF[s]\nk=v\n"},
      {"garbage kept", "\x01\x02junk\n[s\n[s]\nk=1\n", "\x01\x02junk\n[s\n[s]\nk=v\n"},
  };
  for (const Case& c : cases) {
    fs::remove(path_);
    if (!c.before.empty()) {
      WriteRaw(c.before);
    }
    EXPECT_TRUE(IniFile(path_).WriteString("s", "k", "v")) << c.what;
    EXPECT_EQ(ReadRaw(), c.after) << c.what;
  }
}

TEST_F(IniFileTest, DeleteRemovesTheKeysLines) {
  struct Case {
    const char* what;
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"one line", "[s]\nj=1\nk=v\nm=2\n", "[s]\nj=1\nm=2\n"},
      {"every equal key of the section", "[s]\nk=1\nK=2\n", "[s]\n"},
      {"only in the first equal section", "[s]\nk=1\n[s]\nk=2\n", "[s]\n[s]\nk=2\n"},
      {"missing key leaves the file", "[s]\nj=1\n", "[s]\nj=1\n"},
      {"missing section leaves the file", "[t]\nk=1\n", "[t]\nk=1\n"},
  };
  for (const Case& c : cases) {
    WriteRaw(c.before);
    EXPECT_TRUE(IniFile(path_).DeleteKey("s", "k")) << c.what;
    EXPECT_EQ(ReadRaw(), c.after) << c.what;
  }
  fs::remove(path_);
  EXPECT_TRUE(IniFile(path_).DeleteKey("s", "k"));
  EXPECT_FALSE(fs::exists(path_)) << "deleting from no file creates none";
}

// A name or value with a line break would write lines of its own: a clock
// name could plant a password.
TEST_F(IniFileTest, RefusesWhatOneLineCannotHold) {
  struct Case {
    const char* section;
    const char* key;
    std::string value;
  };
  const Case cases[] = {
      {"s", "k", "a\n[LOGIN_PSW]\npwd=x"},
      {"s", "k", "a\rb"},
      {"s", "k", std::string("a\0b", 3)},
      {"s]x", "k", "v"},
      {"", "k", "v"},
      {"s\n", "k", "v"},
      {"s", "k=x", "v"},
      {"s", "", "v"},
      {"s", "[k", "v"},
      {"s", ";k", "v"},
  };
  WriteRaw("[s]\nk=old\n");
  for (const Case& c : cases) {
    EXPECT_FALSE(IniFile(path_).WriteString(c.section, c.key, c.value)) << c.section << "/" << c.key;
  }
  EXPECT_EQ(ReadRaw(), "[s]\nk=old\n");
}

TEST_F(IniFileTest, GarbageNeverBreaksTheOtherSections) {
  std::string garbage("\x00\xFF\xFE[[]]=\x01", 9);
  garbage += "\n[LOGIN_PSW]\npwd=secret1\n";
  garbage += std::string(100 * 1024, 'x') + "\n";
  garbage += "[broken\nname=lost\n[A1]\nname=Hall\n=novalue\n\x7F\x80\x81";
  WriteRaw(garbage);

  IniFile file(path_);
  ASSERT_TRUE(file.WriteString("B2", "name", "Gate"));
  ASSERT_TRUE(file.WriteString("A1", "other", "1"));
  EXPECT_EQ(file.ReadString("LOGIN_PSW", "pwd", "", 31), "secret1");
  EXPECT_EQ(file.ReadString("A1", "name", "", 100), "Hall");
  EXPECT_EQ(file.ReadString("A1", "other", "", 100), "1");
  EXPECT_EQ(file.ReadString("B2", "name", "", 100), "Gate");
  const std::string after = ReadRaw();
  EXPECT_NE(after.find(std::string(100 * 1024, 'x')), std::string::npos);
  EXPECT_EQ(after.substr(0, 9), garbage.substr(0, 9));
}

TEST_F(IniFileTest, WriteLeavesNoTemporaryAndGivesANewFileMode0660) {
  ASSERT_TRUE(IniFile(path_).WriteString("s", "k", "v"));
  EXPECT_EQ(ModeOf(path_), 0660U);
  ASSERT_TRUE(IniFile(path_).WriteString("s", "k", "w"));
  EXPECT_EQ(EntriesInFolder(), 1U) << "only the settings file";
}

TEST_F(IniFileTest, RewriteKeepsTheFilesMode) {
  WriteRaw("[s]\nk=1\n");
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(IniFile(path_).WriteString("s", "k", "2"));
  EXPECT_EQ(ModeOf(path_), 0600U);
}

TEST_F(IniFileTest, FirstWriteCreatesTheMissingFolders) {
  const fs::path nested = folder_ / "var" / "marindo" / "Tessaly.ini";
  ASSERT_TRUE(IniFile(nested).WriteString("s", "k", "v"));
  EXPECT_EQ(IniFile(nested).ReadString("s", "k", "", 10), "v");
  EXPECT_EQ(ModeOf(nested.parent_path()), 0770U);
}

TEST_F(IniFileTest, UnwritableOrUnreadableLocationFails) {
  WriteRaw("[s]\nk=1\n");
  const fs::path underFile = path_ / "Tessaly.ini";  // its "folder" is a file
  EXPECT_FALSE(IniFile(underFile).WriteString("s", "k", "v"));
  EXPECT_FALSE(IniFile(underFile).DeleteKey("s", "k"));

  // A file that cannot be read is never replaced: its other sections would
  // be lost.
  const fs::path folderInPlace = folder_ / "folder.ini";
  fs::create_directory(folderInPlace);
  EXPECT_FALSE(IniFile(folderInPlace).WriteString("s", "k", "v"));
  EXPECT_TRUE(fs::is_directory(folderInPlace));
  EXPECT_EQ(ReadRaw(), "[s]\nk=1\n");
}

TEST_F(IniFileTest, LinkedSettingsFileStaysALink) {
  const fs::path real = folder_ / "real.ini";
  std::ofstream(real) << "[t]\nx=1\n";
  fs::create_symlink(real, path_);
  ASSERT_TRUE(IniFile(path_).WriteString("s", "k", "v"));
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(IniFile(real).ReadString("s", "k", "", 10), "v");
  EXPECT_EQ(IniFile(real).ReadString("t", "x", "", 10), "1");
}

}  // namespace
}  // namespace marindo
