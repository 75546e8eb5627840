#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FileReplace.h"
#include "platform/FolderLock.h"

namespace marindo {
namespace fs = std::filesystem;

namespace ini {
namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\n", "\r\n", or "" on a last line without one
};

// The file split into lines. A UTF-8 byte-order mark, written by some
// Windows editors, is set apart so that the first header is still seen.
struct Document {
  std::string bom;
  std::vector<Line> lines;
};

enum class LineKind { Other, Section, UnnamedSection, Key };

struct LineMeaning {
  LineKind kind = LineKind::Other;
  std::string_view name;
  std::string_view value;
};

// Lines [header + 1, end) belong to the section whose header is `header`.
struct SectionSpan {
  std::size_t header;
  std::size_t end;
};

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

// Quotes protect blanks at the ends of a value; a single quote character on
// its own is a value, not a pair.
std::string_view Unquoted(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

LineMeaning Classify(std::string_view text) {
  const std::string_view body = Trim(text);
  if (body.empty() || body.front() == ';') {
    return {};
  }
  if (body.front() == '[') {
    const std::size_t close = body.find(']');
    if (close == std::string_view::npos) {
      return {LineKind::UnnamedSection, {}, {}};
    }
    return {LineKind::Section, Trim(body.substr(1, close - 1)), {}};
  }
  const std::size_t equals = body.find('=');
  if (equals == std::string_view::npos) {
    return {};
  }
  const std::string_view name = Trim(body.substr(0, equals));
  if (name.empty()) {
    return {};
  }
  return {LineKind::Key, name, Trim(body.substr(equals + 1))};
}

bool StartsSection(std::string_view text) {
  const LineKind kind = Classify(text).kind;
  return kind == LineKind::Section || kind == LineKind::UnnamedSection;
}

Document Parse(std::string_view content) {
  Document document;
  if (content.starts_with(kUtf8Bom)) {
    document.bom = kUtf8Bom;
    content.remove_prefix(kUtf8Bom.size());
  }
  std::size_t pos = 0;
  while (pos < content.size()) {
    const std::size_t newline = content.find('\n', pos);
    if (newline == std::string_view::npos) {
      document.lines.push_back({std::string(content.substr(pos)), {}});
      break;
    }
    const std::size_t textEnd = (newline > pos && content[newline - 1] == '\r') ? newline - 1 : newline;
    document.lines.push_back({std::string(content.substr(pos, textEnd - pos)),
                              std::string(content.substr(textEnd, newline + 1 - textEnd))});
    pos = newline + 1;
  }
  return document;
}

std::string Join(const Document& document) {
  std::string content = document.bom;
  for (const Line& line : document.lines) {
    content += line.text;
    content += line.end;
  }
  return content;
}

// New lines follow the file's own line ends, so a file kept with a Windows
// editor stays a CRLF file.
std::string NewLineEnd(const Document& document) {
  for (const Line& line : document.lines) {
    if (!line.end.empty()) {
      return line.end;
    }
  }
  return "\n";
}

std::optional<SectionSpan> FindSection(const Document& document, std::string_view name) {
  const std::vector<Line>& lines = document.lines;
  for (std::size_t header = 0; header < lines.size(); ++header) {
    const LineMeaning meaning = Classify(lines[header].text);
    if (meaning.kind != LineKind::Section || !EqualsNoCase(meaning.name, name)) {
      continue;
    }
    std::size_t end = header + 1;
    while (end < lines.size() && !StartsSection(lines[end].text)) {
      ++end;
    }
    return SectionSpan{header, end};
  }
  return std::nullopt;
}

std::vector<std::size_t> FindKeys(const Document& document, SectionSpan span, std::string_view key) {
  std::vector<std::size_t> found;
  for (std::size_t i = span.header + 1; i < span.end; ++i) {
    const LineMeaning meaning = Classify(document.lines[i].text);
    if (meaning.kind == LineKind::Key && EqualsNoCase(meaning.name, key)) {
      found.push_back(i);
    }
  }
  return found;
}

// A new key goes after the section's last non-blank line, so that a blank
// line separating it from the next section stays where it is.
std::size_t InsertionPoint(const Document& document, SectionSpan span) {
  std::size_t point = span.header + 1;
  for (std::size_t i = span.header + 1; i < span.end; ++i) {
    if (!Trim(document.lines[i].text).empty()) {
      point = i + 1;
    }
  }
  return point;
}

void InsertLine(Document& document, std::size_t index, std::string text, const std::string& end) {
  if (index > 0 && document.lines[index - 1].end.empty()) {
    document.lines[index - 1].end = end;
  }
  document.lines.insert(document.lines.begin() + static_cast<std::ptrdiff_t>(index),
                        Line{std::move(text), end});
}

bool HasNoLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool IsWritableSection(std::string_view name) {
  return !name.empty() && HasNoLineBreak(name) && name.find(']') == std::string_view::npos;
}

bool IsWritableKey(std::string_view name) {
  return !name.empty() && HasNoLineBreak(name) && name.find('=') == std::string_view::npos &&
         name.front() != '[' && name.front() != ';';
}

std::string KeyLine(std::string_view key, std::string_view value) {
  std::string line(key);
  line += '=';
  line += value;
  return line;
}

}  // namespace

std::optional<std::string> FindValue(std::string_view content, std::string_view section,
                                     std::string_view key) {
  const Document document = Parse(content);
  const std::optional<SectionSpan> span = FindSection(document, Trim(section));
  if (!span) {
    return std::nullopt;
  }
  const std::vector<std::size_t> keys = FindKeys(document, *span, Trim(key));
  if (keys.empty()) {
    return std::nullopt;
  }
  return std::string(Unquoted(Classify(document.lines[keys.front()].text).value));
}

std::optional<std::string> WithValue(std::string_view content, std::string_view section,
                                     std::string_view key, std::string_view value) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  if (!IsWritableSection(sectionName) || !IsWritableKey(keyName) || !HasNoLineBreak(value)) {
    return std::nullopt;
  }
  Document document = Parse(content);
  const std::string end = NewLineEnd(document);
  if (const std::optional<SectionSpan> span = FindSection(document, sectionName)) {
    const std::vector<std::size_t> keys = FindKeys(document, *span, keyName);
    if (keys.empty()) {
      InsertLine(document, InsertionPoint(document, *span), KeyLine(keyName, value), end);
    } else {
      // The file's own spelling of the key is kept.
      Line& line = document.lines[keys.front()];
      line.text = KeyLine(Classify(line.text).name, value);
    }
  } else {
    InsertLine(document, document.lines.size(), "[" + std::string(sectionName) + "]", end);
    InsertLine(document, document.lines.size(), KeyLine(keyName, value), end);
  }
  return Join(document);
}

// Every line of the key goes: were a later duplicate left, it would be read
// once the first is gone, and a deleted value would come back.
std::optional<std::string> WithoutKey(std::string_view content, std::string_view section,
                                      std::string_view key) {
  Document document = Parse(content);
  const std::optional<SectionSpan> span = FindSection(document, Trim(section));
  if (!span) {
    return std::nullopt;
  }
  const std::vector<std::size_t> keys = FindKeys(document, *span, Trim(key));
  if (keys.empty()) {
    return std::nullopt;
  }
  for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
    document.lines.erase(document.lines.begin() + static_cast<std::ptrdiff_t>(*it));
  }
  return Join(document);
}

}  // namespace ini

namespace {

constexpr mode_t kNewFileMode = 0660;
constexpr mode_t kNewFolderMode = 0770;
// The kernel's own limit on the links of one path.
constexpr int kMaxLinkHops = 40;

std::error_code LastError() {
  return {errno, std::generic_category()};
}

void Tell(std::string* problem, std::string text) {
  if (problem != nullptr) {
    *problem = std::move(text);
  }
}

std::string CannotRead(const fs::path& file, std::error_code error) {
  return "The settings file " + file.string() + " cannot be read: " + error.message() + ".";
}

std::string CannotWrite(const fs::path& file, std::error_code error) {
  return "The settings file " + file.string() + " could not be written: " + error.message() + ".";
}

std::string LinkRefused(const fs::path& file) {
  return "The settings file " + file.string() +
         " is a symbolic link in a folder that other users can write to; it was neither read nor written. "
         "Remove it or replace it with a regular file.";
}

std::string NotARegularFile(const fs::path& file) {
  return "The settings file " + file.string() +
         " is not a regular file; it was neither read nor written. "
         "Remove it or replace it with a regular file.";
}

std::string CannotLock(const fs::path& file, std::error_code error) {
  if (error == std::errc::timed_out) {
    return "The settings file " + file.string() +
           " is being changed by another program; nothing was written. Try again.";
  }
  return CannotWrite(file, error);
}

std::string TextRefused(const fs::path& file) {
  return "This text cannot be stored in the settings file " + file.string() + ".";
}

fs::path FolderOf(const fs::path& path) {
  fs::path folder = path.parent_path();
  return folder.empty() ? fs::path(".") : folder;
}

// Whoever can change a folder's entries can turn the settings file into a
// link to a file of this user's, and have the next write replace that file.
// Root can write everywhere anyway, so a folder of root's is as safe as one of
// the user's own.
bool OnlyTheUserCanChange(const fs::path& folder) {
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0) {
    return false;
  }
  const bool ownerOnly = (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  return ownerOnly && (status.st_uid == ::geteuid() || status.st_uid == 0);
}

// The entry that stands for the settings file: the one opened, and the one a
// write renames over.
struct Location {
  fs::path file;
  // False where others can change the folder: the entry is then opened
  // without following a link.
  bool mayFollow = false;
};

// Follows links one at a time, each only out of a folder that no one else can
// change: a link the user keeps in a private folder is followed, also into the
// shared folder, but a link found in the shared folder never is.
Location Locate(const fs::path& path) {
  fs::path current = path;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    const fs::path folder = FolderOf(current);
    if (!OnlyTheUserCanChange(folder)) {
      return {current, false};
    }
    std::error_code error;
    if (!fs::is_symlink(current, error)) {
      return {current, true};
    }
    const fs::path next = fs::read_symlink(current, error);
    if (error) {
      return {current, true};
    }
    current = next.is_absolute() ? next : folder / next;
  }
  return {current, true};  // open() reports the loop
}

struct Loaded {
  std::string content;                // "" while the file does not exist
  std::optional<struct stat> status;  // of the file read, when there was one
};

// The file's bytes. A named pipe in the file's place would block an open or a
// read for good, and a device would be no settings file either, so the open
// never blocks and only a regular file is read.
std::optional<Loaded> Load(const Location& where, std::string& problem) {
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (where.mayFollow ? 0 : O_NOFOLLOW);
  FileDescriptor file(::open(where.file.c_str(), flags));
  if (file.Get() < 0) {
    if (errno == ENOENT) {
      return Loaded{};
    }
    const bool planted = errno == ELOOP && !where.mayFollow;
    problem = planted ? LinkRefused(where.file) : CannotRead(where.file, LastError());
    return std::nullopt;
  }
  struct stat status {};
  if (::fstat(file.Get(), &status) != 0) {
    problem = CannotRead(where.file, LastError());
    return std::nullopt;
  }
  if (!S_ISREG(status.st_mode)) {
    problem = NotARegularFile(where.file);
    return std::nullopt;
  }
  Loaded loaded{{}, status};
  std::array<char, 16384> buffer{};
  for (;;) {
    const ssize_t count = ::read(file.Get(), buffer.data(), buffer.size());
    if (count == 0) {
      return loaded;
    }
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      problem = CannotRead(where.file, LastError());
      return std::nullopt;
    }
    loaded.content.append(buffer.data(), static_cast<std::size_t>(count));
  }
}

// Creates the missing folders of `folder`. mkdir's mode passes through the
// umask, so the mode is set again on each folder made here.
std::error_code EnsureFolder(const fs::path& folder) {
  std::error_code error;
  if (folder.empty() || fs::is_directory(folder, error)) {
    return {};
  }
  const fs::path parent = folder.parent_path();
  if (!parent.empty() && parent != folder) {
    if (const std::error_code parentError = EnsureFolder(parent)) {
      return parentError;
    }
  }
  if (::mkdir(folder.c_str(), kNewFolderMode) != 0) {
    const std::error_code made = LastError();
    return (made == std::errc::file_exists && fs::is_directory(folder, error)) ? std::error_code() : made;
  }
  if (::chmod(folder.c_str(), kNewFolderMode) != 0) {
    // The folder exists, with the umask's narrower mode.
  }
  return {};
}

// A rewrite must not take the file away from the group it was shared with,
// nor widen or narrow its mode. Changing the owner needs privileges a normal
// operator lacks; the group alone is tried then. The owner and mode are those
// of the file that was read, never of what a name might point to.
void TakeOverOwnerAndMode(int fd, const std::optional<struct stat>& existing) {
  if (!existing) {
    if (::fchmod(fd, kNewFileMode) != 0) {
      // mkostemp's 0600 stays: narrower, never wider.
    }
    return;
  }
  if (::fchown(fd, existing->st_uid, existing->st_gid) != 0 &&
      ::fchown(fd, static_cast<uid_t>(-1), existing->st_gid) != 0) {
    // The file then belongs to whoever rewrote it.
  }
  if (::fchmod(fd, existing->st_mode & 07777) != 0) {
    // As above: the temporary file's 0600 stays.
  }
}

bool ReplaceFile(const fs::path& target, std::string_view content, const std::optional<struct stat>& existing,
                 std::string& problem) {
  TemporaryFile temporary(target);
  if (temporary.Get() < 0) {
    problem = CannotWrite(target, temporary.Error());
    return false;
  }
  TakeOverOwnerAndMode(temporary.Get(), existing);
  // The rename replaces the entry itself: a link planted at the target
  // meanwhile is not written through.
  if (!WriteAll(temporary.Get(), content) || !temporary.Commit(target, TemporaryFile::Over::Replace)) {
    problem = CannotWrite(target, LastError());
    return false;
  }
  return true;
}


}  // namespace

struct IniFile::HeldLock {
  fs::path folder;
  FolderLock lock;
};

IniFile::IniFile(fs::path path, std::chrono::milliseconds lockPatience)
    : path_(std::move(path)), lockPatience_(lockPatience) {}

const fs::path& IniFile::Path() const {
  return path_;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback,
                                std::size_t maxChars) const {
  std::optional<std::string> value = TryReadString(section, key, fallback, maxChars);
  return value ? std::move(*value) : FirstUtf8Chars(fallback, maxChars);
}

std::optional<std::string> IniFile::TryReadString(std::string_view section, std::string_view key,
                                                  std::string_view fallback, std::size_t maxChars,
                                                  std::string* problem) const {
  std::string why;
  const std::optional<Loaded> loaded = Load(Locate(path_), why);
  if (!loaded) {
    Tell(problem, std::move(why));
    return std::nullopt;
  }
  const std::optional<std::string> value = ini::FindValue(loaded->content, section, key);
  return FirstUtf8Chars(value ? std::string_view(*value) : fallback, maxChars);
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value,
                          std::string* problem) {
  // Refused before anything is touched: the names and the value alone decide.
  if (!ini::WithValue("", section, key, value)) {
    Tell(problem, TextRefused(path_));
    return false;
  }
  std::string why;
  const bool written = Rewrite(
      [&](std::string_view content) { return ini::WithValue(content, section, key, value); }, true, why);
  if (!written) {
    Tell(problem, std::move(why));
  }
  return written;
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key, std::string* problem) {
  std::string why;
  const bool written =
      Rewrite([&](std::string_view content) { return ini::WithoutKey(content, section, key); }, false, why);
  if (!written) {
    Tell(problem, std::move(why));
  }
  return written;
}

IniFile::Lock IniFile::Hold(std::string* problem) {
  const Location where = Locate(path_);
  if (const std::error_code error = EnsureFolder(FolderOf(where.file))) {
    Tell(problem, CannotWrite(where.file, error));
    return Lock(nullptr);
  }
  std::string why;
  std::shared_ptr<HeldLock> held = LockFor(where.file, why);
  if (!held) {
    Tell(problem, std::move(why));
  }
  held_ = held;
  return Lock(std::move(held));
}

std::shared_ptr<IniFile::HeldLock> IniFile::LockFor(const fs::path& file, std::string& problem) {
  const fs::path folder = FolderOf(file);
  if (std::shared_ptr<HeldLock> held = held_.lock(); held && held->folder == folder) {
    return held;
  }
  FolderLock lock = FolderLock::Acquire(folder, lockPatience_);
  if (!lock.Held()) {
    problem = CannotLock(file, lock.Error());
    return nullptr;
  }
  return std::make_shared<HeldLock>(HeldLock{folder, std::move(lock)});
}

// Load, edit and rename under the lock, so that a change another writer made
// in between is never overwritten with what was loaded before it.
bool IniFile::Rewrite(const Edit& edit, bool createsFolder, std::string& problem) {
  const Location where = Locate(path_);
  const fs::path folder = FolderOf(where.file);
  std::error_code error;
  if (!fs::exists(folder, error)) {
    if (!createsFolder) {
      return true;  // no folder, no file: nothing to remove
    }
    if (const std::error_code made = EnsureFolder(folder)) {
      problem = CannotWrite(where.file, made);
      return false;
    }
  }
  const std::shared_ptr<HeldLock> lock = LockFor(where.file, problem);
  if (!lock) {
    return false;
  }
  const std::optional<Loaded> loaded = Load(where, problem);
  if (!loaded) {
    return false;
  }
  const std::optional<std::string> updated = edit(loaded->content);
  return !updated || ReplaceFile(where.file, *updated, loaded->status, problem);
}

}  // namespace marindo
