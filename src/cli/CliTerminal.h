#pragma once

// What marindo-cli needs of the operator's terminal: a password typed without
// echo, and a progress bar drawn in place.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>

#include "tftp/TftpClient.h"

namespace marindo {

class PasswordSource {
 public:
  virtual ~PasswordSource() = default;
  // Nothing when there is no terminal to ask on, or the operator ended input.
  virtual std::optional<std::string> AskPassword(const std::string& prompt) = 0;
};

// Asks on the controlling terminal (/dev/tty) with echo switched off, so
// that the password neither shows nor ends up in the standard streams.
class TerminalPasswordSource final : public PasswordSource {
 public:
  std::optional<std::string> AskPassword(const std::string& prompt) override;
};

// Why a password file is not taken.
enum class PasswordFileProblem {
  Unreadable,
  NotAFile,      // a folder, a device, a pipe
  OpenToOthers,  // people other than its owner may read or change it
};

// The first line of a file, without its line end. A file that anyone but its
// owner may read or write is refused, as ssh refuses an open key: the login
// password is as good as published there.
std::variant<std::string, PasswordFileProblem> ReadPasswordFile(const std::string& path);
std::string PasswordFileProblemText(PasswordFileProblem problem, const std::string& path);

// An upload's progress as one line on a terminal, redrawn in place:
// "[#######             ]  35%  Block# 7 , Size#3584 bytes". Draws nothing
// when the stream is not a terminal, so scripts get only the result lines.
class TerminalProgress final : public UploadProgress {
 public:
  TerminalProgress(std::FILE* stream, std::string label);
  void Start() override;
  void Block(std::uint64_t block, std::uint64_t fileLength) override;
  void Finish(std::uint64_t block, std::uint64_t bytesTransferred) override;
  // Ends the line if a bar was drawn.
  void Close();

 private:
  void Draw(double fraction, const std::string& detail);

  std::FILE* stream_;
  std::string label_;
  bool enabled_;
  bool drawn_ = false;
};

// An upload that shows nothing: one of several running at once.
class QuietProgress final : public UploadProgress {
 public:
  void Start() override {}
  void Block(std::uint64_t, std::uint64_t) override {}
  void Finish(std::uint64_t, std::uint64_t) override {}
};

// How far a command on several clocks has come, as one line on a terminal
// redrawn in place at most ten times a second: "backup: 312 of 1000 clocks
// done", or "backup: 312 clocks done" while a search still finds them (a
// total of 0). Draws nothing when the stream is not a terminal, or for one
// clock.
class SiteProgress {
 public:
  SiteProgress(std::FILE* stream, std::string command, std::size_t total);
  void Done(std::size_t done);
  // Ends the line if one was drawn.
  void Close();

 private:
  std::FILE* stream_;
  std::string command_;
  std::size_t total_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// "backup: 312 of 1000 clocks done"; without a total "backup: 312 clocks done".
std::string SiteProgressText(const std::string& command, std::size_t done, std::size_t total);

// The bar alone, for a fraction from 0 to 1: 20 cells of '#' and ' '.
std::string ProgressBarText(double fraction);

}  // namespace marindo
