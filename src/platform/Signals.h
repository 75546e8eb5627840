#pragma once

#include <memory>

namespace marindo {

// Blocks SIGTERM and SIGINT in the calling thread and in every thread it
// starts afterwards, so that Wait receives them; the old signal mask comes
// back when it goes.
class TerminationSignals {
 public:
  TerminationSignals();
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;
  // Returns once SIGTERM or SIGINT has come.
  void Wait();

 private:
  struct Masks;
  std::unique_ptr<Masks> masks_;
};

// A write to a peer that has hung up fails with EPIPE instead of ending the
// program with SIGPIPE.
void IgnoreBrokenPipes();

}  // namespace marindo
