#pragma once

// What marindo-cli needs of the operator's terminal: a password typed without
// echo, and a progress bar drawn in place.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>

#include "maint/TftpClient.h"

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

// The bar alone, for a fraction from 0 to 1: 20 cells of '#' and ' '.
std::string ProgressBarText(double fraction);

}  // namespace marindo
