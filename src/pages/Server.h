#pragma once

#include <array>
#include <memory>
#include <optional>

#include <QWidget>

#include "clocks/ClockRecord.h"
#include "clocks/ClockSelection.h"
#include "link/ClockFrame.h"
#include "settings/ServerFrame.h"
#include "platform/CodePage.h"
#include "platform/Notifier.h"

class QKeyEvent;
class QLineEdit;

namespace Ui {
class Server;
}

namespace marindo {

class Ipv4Edit;

// The "NTPs Info" tab: the NTP servers of the selected clock, as addresses or
// as host names.
class Server : public QWidget {
  Q_OBJECT

 public:
  // Names go to and come from the clocks in `codePage`.
  Server(ClockSelection& selection, Notifier& notifier, QWidget* parent = nullptr,
         CodePage codePage = CodePageForLocale());
  ~Server() override;

  void ClearServers();
  // The selected clock's record, or null when none is selected.
  void ShowServers(const ClockRecord* record);
  // The modify frame of code 0x07, or nothing when the input is refused.
  std::optional<ClockFrame> BuildServerFrame();

  // The operator's clicks on the two form buttons.
  void TimeServerIpClicked();
  void DomainClicked();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ConnectSignals();
  void SetAddressFieldsEnabled(bool enabled);
  void SetNameFieldsEnabled(bool enabled);
  void ShowPorts();
  void ShowSlotAddresses(const ClockRecord& record);
  ServerAddresses AddressesOfRows() const;

  std::unique_ptr<Ui::Server> ui_;
  ClockSelection& selection_;
  Notifier& notifier_;
  CodePage codePage_;
  std::array<Ipv4Edit*, kServerAddressRows> addressFields_{};
  std::array<QLineEdit*, kServerAddressRows> portFields_{};
  std::array<QLineEdit*, kServerNameRows> nameFields_{};
};

}  // namespace marindo
