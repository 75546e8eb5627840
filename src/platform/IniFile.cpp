#include "platform/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

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

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }

  int Get() const { return fd_; }

  // close() reports late write errors of some file systems, so its result
  // counts.
  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// A file's bytes: "" for a file that does not exist yet, nothing when it
// exists but cannot be read.
std::optional<std::string> LoadFile(const fs::path& path) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    return errno == ENOENT ? std::optional<std::string>(std::in_place) : std::nullopt;
  }
  std::string content;
  std::array<char, 16384> buffer{};
  for (;;) {
    const ssize_t count = ::read(file.Get(), buffer.data(), buffer.size());
    if (count == 0) {
      return content;
    }
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return std::nullopt;
    }
    content.append(buffer.data(), static_cast<std::size_t>(count));
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

// Creates the missing folders of `folder`. mkdir's mode passes through the
// umask, so the mode is set again on each folder made here.
bool EnsureFolder(const fs::path& folder) {
  std::error_code error;
  if (folder.empty() || fs::is_directory(folder, error)) {
    return true;
  }
  const fs::path parent = folder.parent_path();
  if (parent != folder && !EnsureFolder(parent)) {
    return false;
  }
  if (::mkdir(folder.c_str(), kNewFolderMode) != 0) {
    return errno == EEXIST && fs::is_directory(folder, error);
  }
  if (::chmod(folder.c_str(), kNewFolderMode) != 0) {
    // The folder exists, with the umask's narrower mode.
  }
  return true;
}

// A rewrite must not take the file away from the group it was shared with,
// nor widen or narrow its mode. Changing the owner needs privileges a normal
// operator lacks; the group alone is tried then.
void TakeOverOwnerAndMode(int fd, const fs::path& original) {
  struct stat existing {};
  if (::stat(original.c_str(), &existing) != 0) {
    if (::fchmod(fd, kNewFileMode) != 0) {
      // mkostemp's 0600 stays: narrower, never wider.
    }
    return;
  }
  if (::fchown(fd, existing.st_uid, existing.st_gid) != 0 &&
      ::fchown(fd, static_cast<uid_t>(-1), existing.st_gid) != 0) {
    // The file then belongs to whoever rewrote it.
  }
  if (::fchmod(fd, existing.st_mode & 07777) != 0) {
    // As above: the temporary file's 0600 stays.
  }
}

void SyncFolder(const fs::path& folder) {
  FileDescriptor directory(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Get() >= 0 && ::fsync(directory.Get()) != 0) {
    // The rename is done; a lost folder sync only matters on a crash.
  }
}

// A temporary file beside the target; removed again unless it was renamed
// over the target.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& target)
      : path_((target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string()),
        file_(::mkostemp(path_.data(), O_CLOEXEC)),
        created_(file_.Get() >= 0) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (created_ && !renamed_) {
      ::unlink(path_.c_str());
    }
  }

  int Get() const { return file_.Get(); }

  bool CloseAndRenameOver(const fs::path& target) {
    if (!file_.Close()) {
      return false;
    }
    renamed_ = ::rename(path_.c_str(), target.c_str()) == 0;
    return renamed_;
  }

 private:
  std::string path_;
  FileDescriptor file_;
  bool created_;
  bool renamed_ = false;
};

bool ReplaceFile(const fs::path& target, std::string_view content) {
  if (!EnsureFolder(target.parent_path())) {
    return false;
  }
  TemporaryFile temporary(target);
  if (temporary.Get() < 0) {
    return false;
  }
  TakeOverOwnerAndMode(temporary.Get(), target);
  if (!WriteAll(temporary.Get(), content) || ::fsync(temporary.Get()) != 0 ||
      !temporary.CloseAndRenameOver(target)) {
    return false;
  }
  SyncFolder(target.parent_path());
  return true;
}

// A settings file that is a link (for example into a shared folder) stays a
// link: the file it points to is rewritten, not the link replaced.
fs::path WriteTarget(const fs::path& path) {
  std::error_code error;
  if (fs::is_symlink(path, error)) {
    fs::path resolved = fs::canonical(path, error);
    if (!error) {
      return resolved;
    }
  }
  return path;
}

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U;
}

std::string FirstChars(std::string_view text, std::size_t maxChars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsContinuationByte(text[i])) {
      continue;
    }
    if (chars == maxChars) {
      return std::string(text.substr(0, i));
    }
    ++chars;
  }
  return std::string(text);
}

}  // namespace

IniFile::IniFile(fs::path path) : path_(std::move(path)) {}

const fs::path& IniFile::Path() const {
  return path_;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback,
                                std::size_t maxChars) const {
  std::optional<std::string> value = TryReadString(section, key, fallback, maxChars);
  return value ? std::move(*value) : FirstChars(fallback, maxChars);
}

std::optional<std::string> IniFile::TryReadString(std::string_view section, std::string_view key,
                                                  std::string_view fallback, std::size_t maxChars) const {
  const std::optional<std::string> content = LoadFile(path_);
  if (!content) {
    return std::nullopt;
  }
  const std::optional<std::string> value = ini::FindValue(*content, section, key);
  return FirstChars(value ? std::string_view(*value) : fallback, maxChars);
}

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const fs::path target = WriteTarget(path_);
  const std::optional<std::string> content = LoadFile(target);
  if (!content) {
    return false;
  }
  const std::optional<std::string> updated = ini::WithValue(*content, section, key, value);
  return updated && ReplaceFile(target, *updated);
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) {
  const fs::path target = WriteTarget(path_);
  const std::optional<std::string> content = LoadFile(target);
  if (!content) {
    return false;
  }
  const std::optional<std::string> updated = ini::WithoutKey(*content, section, key);
  return !updated || ReplaceFile(target, *updated);
}

}  // namespace marindo
