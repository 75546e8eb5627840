#pragma once

#include <cstdint>
#include <memory>

#include <QWidget>

#include "clocks/ClockSelection.h"
#include "link/ClockLink.h"
#include "platform/Notifier.h"

namespace Ui {
class System;
}

namespace marindo {

// The "System  Info" tab: the selected clock's address and MAC, and the
// firmware upgrade.
class System : public QWidget {
  Q_OBJECT

 public:
  System(ClockLink& link, ClockSelection& selection, Notifier& notifier, QWidget* parent = nullptr);
  ~System() override;

  // Both find the clock by its address.
  void ShowAddresses(std::uint32_t ip);
  void ShowUptime(std::uint32_t ip);
  // The whole upgrade of the selected clock.
  void StartUpgrade();

 private:
  std::unique_ptr<Ui::System> ui_;
  ClockLink& link_;
  ClockSelection& selection_;
  Notifier& notifier_;
};

}  // namespace marindo
