#pragma once

#include <string>

#include "platform/Notifier.h"

namespace marindo {

// Tells the operator things the way the program always has: a modal message
// box with the program's title and one OK button, over the window in front.
class MessageBoxNotifier final : public Notifier {
 public:
  void ShowMessage(const std::string& text) override;
};

}  // namespace marindo
