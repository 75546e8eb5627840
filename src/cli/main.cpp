#include <chrono>
#include <clocale>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "platform/SettingsPath.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  marindo::TerminalPasswordSource passwords;
  marindo::SystemAdapters adapters;
  marindo::SystemNeighbours neighbours;
  marindo::TcpPortProbe probe;
  marindo::CliEnvironment env{
      .out = std::cout,
      .err = std::cerr,
      .progress = stderr,
      .passwords = passwords,
      .adapters = adapters,
      .neighbours = neighbours,
      .probe = probe,
      .settingsFile = marindo::SettingsFilePath(),
      .codePage = marindo::CodePageForLocale(),
      .now = [] {
        return static_cast<std::int64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
      },
  };
  const std::vector<std::string> args(argv + 1, argv + argc);
  return marindo::RunCli(args, env);
}
