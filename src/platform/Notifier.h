#pragma once

#include <string>

namespace marindo {

// How every layer tells the operator something: the windows show a modal
// message box with one OK button; tests record the texts.
class Notifier {
 public:
  virtual ~Notifier() = default;
  // Returns once the operator has seen and closed the message.
  virtual void ShowMessage(const std::string& text) = 0;
};

}  // namespace marindo
