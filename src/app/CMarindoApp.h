#pragma once

#include <functional>

#include "clocks/PasswordStore.h"
#include "platform/Notifier.h"

namespace marindo {

// The program's start-up: the login gate first, then the main window, modal,
// until it closes. Nothing of the network exists before the right password:
// the clock socket belongs to the main window, which `runMainWindow` builds.
class CMarindoApp {
 public:
  using MainWindowRunner = std::function<void()>;

  CMarindoApp(PasswordStore& passwords, Notifier& notifier, MainWindowRunner runMainWindow);

  // Returns when the operator leaves the login window or closes the main window.
  void InitInstance();

  // Shows login windows until the right password (true) or "Exit" (false).
  // Every try gets a new window: an empty password, the user name again.
  bool PassLoginGate();

 private:
  PasswordStore& passwords_;
  Notifier& notifier_;
  MainWindowRunner runMainWindow_;
};

// The program as the operator runs it: the machine's settings file, message
// boxes, and the real network services with the clock protocol's own ports.
// Needs a QApplication.
int RunMarindo();

}  // namespace marindo
