#include "maint/System.h"

#include "ui_System.h"

namespace marindo {

System::System(ClockLink& link, ClockSelection& selection, Notifier& notifier, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::System>()),
      link_(link),
      selection_(selection),
      notifier_(notifier) {
  ui_->setupUi(this);
}

System::~System() = default;

void System::ShowAddresses(std::uint32_t) {}

void System::ShowUptime(std::uint32_t) {}

void System::StartUpgrade() {}

}  // namespace marindo
