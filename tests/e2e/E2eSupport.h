#pragma once

// Support for the tests that run inside the test LAN's tool namespace: the
// link with the real platform services and ports, and the simulator's files.

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "clocks/ClockSelection.h"
#include "link/ClockLink.h"
#include "platform/Notifier.h"

namespace marindo::e2e {

class RecordingNotifier : public Notifier {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  std::vector<std::string> messages;
};

class Selection : public ClockSelection {
 public:
  std::optional<std::uint32_t> SelectedClockIp() const override { return selected; }
  ClockRecord* SelectedRecord() override { return nullptr; }
  std::optional<std::uint32_t> selected;
};

// The selected clock as the main window keeps it: an address, looked up in
// the link's list on every call.
class LinkSelection : public ClockSelection {
 public:
  std::optional<std::uint32_t> SelectedClockIp() const override { return selected; }
  ClockRecord* SelectedRecord() override {
    return link != nullptr && selected ? link->FindByIp(*selected) : nullptr;
  }
  ClockLink* link = nullptr;
  std::optional<std::uint32_t> selected;
};

// Environment the test LAN gives the command it runs.
inline std::filesystem::path RunFolder() {
  const char* run = std::getenv("TESTLAN_RUN");
  return run != nullptr ? run : "";
}

inline std::filesystem::path ToolsFolder() {
  const char* tools = std::getenv("MARINDO_TOOLS");
  return tools != nullptr ? tools : "";
}

// A shell command's exit status (-1 when it did not exit) and standard output.
struct CommandOutcome {
  int status = -1;
  std::string out;
};

inline CommandOutcome RunCommand(const std::string& command) {
  CommandOutcome outcome;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.out.append(buffer, n);
  const int raw = ::pclose(pipe);
  outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return outcome;
}

// Runs a shell command; its standard output, trailing newline removed.
inline std::string Shell(const std::string& command) {
  std::string out = RunCommand(command).out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// The system's interpreter when there is one: a version manager's shim in
// front of `python3` costs most of a second per call.
inline std::string Python() {
  return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// Evaluates a Python expression over simulator `sim`'s state, where `c` is its
// first clock.
inline std::string SimState(const std::string& sim, const std::string& expression) {
  const std::string path = (RunFolder() / (sim + ".state.json")).string();
  return Shell(Python() + " -c 'import json; s=json.load(open(\"" + path + "\")); c=s[\"clocks\"][0]; print(" +
               expression + ")'");
}

// How many datagrams simulator `sim` received on the clock port with `code`.
inline int ReceivedCount(const std::string& sim, int code) {
  const std::string path = (RunFolder() / (sim + ".record.jsonl")).string();
  return std::atoi(Shell(Python() + " -c 'import json; print(sum(1 for l in open(\"" + path +
                         "\") if (r:=json.loads(l)).get(\"proto\")==\"clock\" and r.get(\"code\")==" +
                         std::to_string(code) + "))'")
                       .c_str());
}

// Drives a running simulator through the test LAN's control command.
inline int Control(const std::string& clock, const std::string& arguments) {
  const std::string command =
      "bash " + (ToolsFolder() / "testlan.sh").string() + " ctl " + clock + " " + arguments + " >/dev/null";
  return std::system(command.c_str());
}

inline int TestLan(const std::string& arguments) {
  const std::string command = "bash " + (ToolsFolder() / "testlan.sh").string() + " " + arguments + " >/dev/null";
  return std::system(command.c_str());
}

}  // namespace marindo::e2e
