#include "platform/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/FolderLock.h"

namespace marindo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

// A link in the user's own folder may lead into the shared folder; the file
// there is written, and both links stay as they were.
TEST_F(IniFileTest, LinkFromAPrivateFolderReachesTheSharedFile) {
  const fs::path shared = folder_ / "shared";
  fs::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 02770), 0);
  std::ofstream(shared / "Tessaly.ini") << "[t]\nx=1\n";
  fs::create_symlink(shared / "Tessaly.ini", path_);
  ASSERT_TRUE(IniFile(path_).WriteString("s", "k", "v"));
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(IniFile(shared / "Tessaly.ini").ReadString("s", "k", "", 10), "v");
  EXPECT_EQ(IniFile(shared / "Tessaly.ini").ReadString("t", "x", "", 10), "1");
}

// In a folder others can write, whatever one of them leaves in the settings
// file's place must neither hang a read nor make a write land in another file,
// also when the user's own link leads there.
class SharedFolderTest : public IniFileTest {
 protected:
  void SetUp() override {
    IniFileTest::SetUp();
    shared_ = folder_ / "shared";
    victim_ = folder_ / "profile";
    std::ofstream(victim_) << "[s]\nk=victim\n";
  }

  void MakeShared(unsigned mode) {
    std::error_code ignored;
    fs::remove_all(shared_, ignored);
    fs::create_directory(shared_);
    ASSERT_EQ(::chmod(shared_.c_str(), mode), 0);
  }

  std::string VictimText() const {
    std::ifstream in(victim_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Reads, writes and deletes through `entry`; each must be refused with
  // `problem`, and neither the entry nor the victim may change.
  void ExpectRefused(const fs::path& entry, const fs::path& planted, fs::file_type plantedType,
                     const std::string& problem, const std::string& what) {
    SCOPED_TRACE(what);
    IniFile file(entry);
    std::string told;
    EXPECT_EQ(file.TryReadString("s", "k", "fallback", 100, &told), std::nullopt);
    EXPECT_EQ(told, problem);
    EXPECT_EQ(file.ReadString("s", "k", "fallback", 100), "fallback");
    told.clear();
    EXPECT_FALSE(file.WriteString("s", "k", "planted", &told));
    EXPECT_EQ(told, problem);
    told.clear();
    EXPECT_FALSE(file.DeleteKey("s", "k", &told));
    EXPECT_EQ(told, problem);
    EXPECT_EQ(fs::symlink_status(planted).type(), plantedType);
    EXPECT_EQ(VictimText(), "[s]\nk=victim\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(shared_), fs::directory_iterator()), 1) << "no file left";
  }

  static std::string LinkProblem(const fs::path& entry) {
    return "The settings file " + entry.string() +
           " is a symbolic link in a folder that other users can write to; it was neither read nor written. "
           "Remove it or replace it with a regular file.";
  }
  static std::string IrregularProblem(const fs::path& entry) {
    return "The settings file " + entry.string() +
           " is not a regular file; it was neither read nor written. "
           "Remove it or replace it with a regular file.";
  }

  fs::path shared_;
  fs::path victim_;
};

TEST_F(SharedFolderTest, AnythingButARegularFileIsRefused) {
  struct Plant {
    const char* what;
    std::function<void(const fs::path& entry, const fs::path& victim)> make;
    fs::file_type type;
    bool isLink;
  };
  const Plant plants[] = {
      {"link to another file", [](const fs::path& e, const fs::path& v) { fs::create_symlink(v, e); },
       fs::file_type::symlink, true},
      {"link to nothing",
       [](const fs::path& e, const fs::path& v) { fs::create_symlink(v.parent_path() / "new.ini", e); },
       fs::file_type::symlink, true},
      {"named pipe", [](const fs::path& e, const fs::path&) { ASSERT_EQ(::mkfifo(e.c_str(), 0660), 0); },
       fs::file_type::fifo, false},
      {"folder", [](const fs::path& e, const fs::path&) { fs::create_directory(e); }, fs::file_type::directory,
       false},
  };
  // An open or read that blocks on the pipe ends the test here rather than
  // hanging it.
  ::alarm(30);
  for (const unsigned mode : {02770U, 0770U, 0707U, 01777U}) {
    for (const Plant& plant : plants) {
      MakeShared(mode);
      const fs::path entry = shared_ / "Tessaly.ini";
      plant.make(entry, victim_);
      const std::string what = std::string(plant.what) + " in a folder of mode " + std::to_string(mode);
      const std::string problem = plant.isLink ? LinkProblem(entry) : IrregularProblem(entry);
      ExpectRefused(entry, entry, plant.type, problem, what);
      EXPECT_FALSE(fs::exists(folder_ / "new.ini")) << what;
    }
  }
  ::alarm(0);
}

TEST_F(SharedFolderTest, OwnLinkIntoTheSharedFolderStopsAtALinkPlantedThere) {
  MakeShared(02770);
  const fs::path planted = shared_ / "Tessaly.ini";
  fs::create_symlink(victim_, planted);
  fs::create_symlink(planted, path_);
  ExpectRefused(path_, planted, fs::file_type::symlink, LinkProblem(planted), "two links");
  EXPECT_TRUE(fs::is_symlink(path_));
}

// A folder only its owner can write is still not the user's own when that
// owner is someone else: they could have planted the link.
TEST_F(SharedFolderTest, LinkInAnotherUsersFolderIsRefused) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to give a folder to another user";
  }
  MakeShared(0755);
  const fs::path entry = shared_ / "Tessaly.ini";
  fs::create_symlink(victim_, entry);
  ASSERT_EQ(::lchown(entry.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chown(shared_.c_str(), 65534, 65534), 0);
  ExpectRefused(entry, entry, fs::file_type::symlink, LinkProblem(entry), "folder of nobody");
}

TEST_F(SharedFolderTest, RegularFileThereIsReadAndWritten) {
  MakeShared(02770);
  const fs::path entry = shared_ / "Tessaly.ini";
  std::ofstream(entry) << "[t]\nx=1\n";
  ASSERT_EQ(::chmod(entry.c_str(), 0640), 0);
  IniFile file(entry);
  ASSERT_TRUE(file.WriteString("s", "k", "v"));
  EXPECT_EQ(file.ReadString("s", "k", "", 10), "v");
  EXPECT_EQ(file.ReadString("t", "x", "", 10), "1");
  EXPECT_EQ(ModeOf(entry), 0640U);
}

TEST_F(IniFileTest, WriteWaitsForAnotherWritersLockAndGivesUpWhenItIsKept) {
  WriteRaw("[s]\nk=1\n");
  IniFile holder(path_);
  std::optional<IniFile::Lock> lock = holder.Hold();
  ASSERT_TRUE(lock->Held());

  IniFile other(path_, 150ms);
  std::string problem;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(other.WriteString("s", "k", "2", &problem));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  EXPECT_EQ(problem, "The settings file " + path_.string() +
                         " is being changed by another program; nothing was written. Try again.");
  EXPECT_FALSE(other.DeleteKey("s", "k"));
  EXPECT_EQ(other.ReadString("s", "k", "", 10), "1") << "reading takes no lock";

  EXPECT_TRUE(holder.WriteString("s", "k", "3")) << "the holder writes under its own lock";
  EXPECT_TRUE(holder.Hold().Held()) << "and may hold it again";
  EXPECT_EQ(ReadRaw(), "[s]\nk=3\n");

  IniFile patient(path_, 5s);
  std::thread release([&lock] {
    std::this_thread::sleep_for(100ms);
    lock.reset();
  });
  EXPECT_TRUE(patient.WriteString("s", "k", "4")) << "once the holder lets go";
  release.join();
  EXPECT_EQ(ReadRaw(), "[s]\nk=4\n");
}

// A write never joins a lock held by another IniFile, even of this process.
TEST_F(IniFileTest, LockIsTheFoldersForEveryWriter) {
  FolderLock lock = FolderLock::Acquire(folder_, 0ms);
  ASSERT_TRUE(lock.Held());
  EXPECT_FALSE(FolderLock::Acquire(folder_, 50ms).Held());
  EXPECT_EQ(FolderLock::Acquire(folder_, 0ms).Error(), std::errc::timed_out);
  EXPECT_FALSE(IniFile(path_, 50ms).WriteString("s", "k", "v"));
  EXPECT_FALSE(IniFile(path_, 50ms).Hold().Held());
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_EQ(FolderLock::Acquire(folder_ / "missing", 0ms).Error(), std::errc::no_such_file_or_directory);
}

// Each process loads, edits and renames the whole file; without the lock, a
// rename made from a load taken before the other's rename drops the other's
// key.
TEST_F(IniFileTest, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 2;
  constexpr int kWrites = 100;
  int start[2];
  ASSERT_EQ(::pipe(start), 0);
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(start[1]);
      char go = 0;
      while (::read(start[0], &go, 1) < 0) {
      }
      IniFile file(path_);
      bool allWritten = true;
      for (int i = 0; i < kWrites; ++i) {
        allWritten &= file.WriteString("writer" + std::to_string(writer), "key" + std::to_string(i),
                                       std::to_string(i));
      }
      ::_exit(allWritten ? 0 : 1);
    }
    children.push_back(pid);
  }
  ::close(start[0]);
  ::close(start[1]);  // both start at once
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a write failed";
  }
  IniFile file(path_);
  int missing = 0;
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int i = 0; i < kWrites; ++i) {
      missing += file.ReadString("writer" + std::to_string(writer), "key" + std::to_string(i), "", 10) ==
                         std::to_string(i)
                     ? 0
                     : 1;
    }
  }
  EXPECT_EQ(missing, 0);
}

}  // namespace
}  // namespace marindo
