#pragma once

#include <array>
#include <memory>
#include <optional>

#include "clocks/ClockRecord.h"
#include "clocks/ClockSelection.h"
#include "link/ClockFrame.h"
#include "platform/CodePage.h"
#include "platform/Notifier.h"
#include "settings/ServerFrame.h"
#include "widgets/SettingsPage.h"

class QLineEdit;

namespace Ui {
class Server;
}

namespace marindo {

class Ipv4Edit;

// The "NTPs Info" tab: the NTP servers of the selected clock, as addresses or
// as host names: a view over the NTP settings model.
class Server : public SettingsPage, public ModelView<ServerControls> {
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

  void ShowModel(const ServerControls& controls) override;
  void ReadModel(ServerControls& controls) const override;

 private:
  void ConnectSignals();
  void SetAddressFieldsEnabled(bool enabled);
  void SetNameFieldsEnabled(bool enabled);
  void ShowPorts();
  void ShowAddressRows(const ServerControls& controls);

  std::unique_ptr<Ui::Server> ui_;
  ClockSelection& selection_;
  CodePage codePage_;
  std::array<Ipv4Edit*, kServerAddressRows> addressFields_{};
  std::array<QLineEdit*, kServerAddressRows> portFields_{};
  std::array<QLineEdit*, kServerNameRows> nameFields_{};
};

}  // namespace marindo
