#include "platform/Signals.h"

#include <pthread.h>
#include <signal.h>

#include <ctime>

namespace marindo {

struct TerminationSignals::Masks {
  sigset_t wanted;
  sigset_t old;
};

TerminationSignals::TerminationSignals() : masks_(std::make_unique<Masks>()) {
  sigemptyset(&masks_->wanted);
  sigaddset(&masks_->wanted, SIGTERM);
  sigaddset(&masks_->wanted, SIGINT);
  pthread_sigmask(SIG_BLOCK, &masks_->wanted, &masks_->old);
}

TerminationSignals::~TerminationSignals() {
  // A second signal that came meanwhile would end the program on the way
  // out, with the status of a kill rather than that of a clean stop.
  const timespec none{};
  while (sigtimedwait(&masks_->wanted, nullptr, &none) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &masks_->old, nullptr);
}

void TerminationSignals::Wait() {
  int received = 0;
  while (sigwait(&masks_->wanted, &received) != 0) {
  }
}

void IgnoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace marindo
