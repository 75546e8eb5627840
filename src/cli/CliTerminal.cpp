#include "cli/CliTerminal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <fstream>

#include "platform/FileReplace.h"
#include "settings/FirmwareUpgrade.h"

namespace marindo {
namespace {

// The terminal's settings while echo is off, for the signal handler: an
// operator who presses Ctrl-C at the prompt must get a terminal that echoes.
int echoFd = -1;
termios echoSaved{};

extern "C" void RestoreEchoAndDie(int signal) {
  if (echoFd >= 0) tcsetattr(echoFd, TCSANOW, &echoSaved);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

class TerminalEchoOff {
 public:
  explicit TerminalEchoOff(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    echoSaved = saved_;
    echoFd = fd_;
    for (int signal : kEndingSignals) previous_[Index(signal)] = std::signal(signal, RestoreEchoAndDie);
    // Typed-ahead input stays: it answers the prompt.
    active_ = tcsetattr(fd_, TCSANOW, &quiet) == 0;
  }
  ~TerminalEchoOff() {
    if (active_) tcsetattr(fd_, TCSANOW, &saved_);
    for (int signal : kEndingSignals) std::signal(signal, previous_[Index(signal)]);
    echoFd = -1;
  }
  TerminalEchoOff(const TerminalEchoOff&) = delete;
  TerminalEchoOff& operator=(const TerminalEchoOff&) = delete;

 private:
  static constexpr std::array<int, 4> kEndingSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  static std::size_t Index(int signal) {
    return static_cast<std::size_t>(std::find(kEndingSignals.begin(), kEndingSignals.end(), signal) -
                                    kEndingSignals.begin());
  }

  int fd_;
  termios saved_{};
  bool active_ = false;
  std::array<void (*)(int), 4> previous_{};
};

std::string StripLineEnd(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

std::optional<std::string> TerminalPasswordSource::AskPassword(const std::string& prompt) {
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> typed;
  {
    TerminalEchoOff echoOff(fd);
    if (write(fd, prompt.data(), prompt.size()) >= 0) {
      std::string line;
      char c = 0;
      ssize_t got = 0;
      while ((got = read(fd, &c, 1)) == 1 && c != '\n') line.push_back(c);
      if (got == 1 || !line.empty()) typed = StripLineEnd(std::move(line));
    }
  }
  close(fd);
  return typed;
}

std::variant<std::string, PasswordFileProblem> ReadPasswordFile(const std::string& path) {
  // Opened without blocking, so that a pipe in its place cannot hang us, and
  // checked on the open file, so that nothing can be swapped in between.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (file.Get() < 0 || ::fstat(file.Get(), &status) != 0) return PasswordFileProblem::Unreadable;
  if (!S_ISREG(status.st_mode)) return PasswordFileProblem::NotAFile;
  if ((status.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) return PasswordFileProblem::OpenToOthers;
  std::string text;
  std::array<char, 512> buffer{};
  for (;;) {
    const ssize_t got = ::read(file.Get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return PasswordFileProblem::Unreadable;
    text.append(buffer.data(), static_cast<std::size_t>(got));
    if (got == 0 || text.find('\n') != std::string::npos) break;
  }
  return StripLineEnd(text.substr(0, text.find('\n')));
}

std::string PasswordFileProblemText(PasswordFileProblem problem, const std::string& path) {
  switch (problem) {
    case PasswordFileProblem::Unreadable:
      break;
    case PasswordFileProblem::NotAFile:
      return path + ": is not a file";
    case PasswordFileProblem::OpenToOthers:
      return path + ": others can read or change this password file; make it yours alone (chmod 600 " + path + ")";
  }
  return path + ": cannot be read";
}

std::string ProgressBarText(double fraction) {
  constexpr int kCells = 20;
  const double clamped = std::clamp(fraction, 0.0, 1.0);
  const int full = static_cast<int>(std::floor(clamped * kCells));
  return "[" + std::string(static_cast<std::size_t>(full), '#') +
         std::string(static_cast<std::size_t>(kCells - full), ' ') + "]";
}

TerminalProgress::TerminalProgress(std::FILE* stream, std::string label)
    : stream_(stream), label_(std::move(label)), enabled_(isatty(fileno(stream)) == 1) {}

void TerminalProgress::Draw(double fraction, const std::string& detail) {
  if (!enabled_) return;
  const int percent = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100.0));
  std::fprintf(stream_, "\r\033[K%s %s %3d%%  %s", label_.c_str(), ProgressBarText(fraction).c_str(), percent,
               detail.c_str());
  std::fflush(stream_);
  drawn_ = true;
}

void TerminalProgress::Start() { Draw(0.0, ""); }

void TerminalProgress::Block(std::uint64_t block, std::uint64_t fileLength) {
  const double done = fileLength == 0 ? 1.0 : static_cast<double>(block) * 512.0 / static_cast<double>(fileLength);
  Draw(done, BlockProgressText(block, fileLength));
}

void TerminalProgress::Finish(std::uint64_t block, std::uint64_t bytesTransferred) {
  Draw(1.0, FinishProgressText(block, bytesTransferred));
}

void TerminalProgress::Close() {
  if (drawn_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
    drawn_ = false;
  }
}

std::string SiteProgressText(const std::string& command, std::size_t done, std::size_t total) {
  const std::string of = total == 0 ? "" : " of " + std::to_string(total);
  return command + ": " + std::to_string(done) + of + (done == 1 && total == 0 ? " clock done" : " clocks done");
}

SiteProgress::SiteProgress(std::FILE* stream, std::string command, std::size_t total)
    : stream_(stream), command_(std::move(command)), total_(total), enabled_(total != 1 && isatty(fileno(stream)) == 1) {}

void SiteProgress::Done(std::size_t done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if ((total_ == 0 || done < total_) && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  std::fprintf(stream_, "\r\033[K%s", SiteProgressText(command_, done, total_).c_str());
  std::fflush(stream_);
  drawn_ = true;
}

void SiteProgress::Close() {
  if (drawn_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
    drawn_ = false;
  }
}

}  // namespace marindo
