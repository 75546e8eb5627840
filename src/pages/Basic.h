#pragma once

#include <array>
#include <memory>
#include <optional>

#include "clocks/ClockRecord.h"
#include "clocks/ClockSelection.h"
#include "link/ClockFrame.h"
#include "platform/CodePage.h"
#include "platform/Notifier.h"
#include "settings/BasicSettings.h"
#include "widgets/SettingsPage.h"

class QComboBox;

namespace Ui {
class Basic;
}

namespace marindo {

class Ipv4Edit;

// The "Basic  Info" tab: time zone, time format, daylight saving, addressing,
// energy saving and brightness of the selected clock: a view over the basic
// settings model.
class Basic : public SettingsPage, public ModelView<BasicForm> {
  Q_OBJECT

 public:
  // The clock's serial number comes in `codePage`.
  Basic(ClockSelection& selection, Notifier& notifier, QWidget* parent = nullptr,
        CodePage codePage = CodePageForLocale());
  ~Basic() override;

  void ClearBasic();
  // Both take the selected clock's record, or null when none is selected.
  void ShowIdentity(const ClockRecord* record);
  void ShowBasicSettings(const ClockRecord* record);
  // The modify frame of code 0x06, or nothing when the input is refused (the
  // operator has been told why).
  std::optional<ClockFrame> BuildBasicFrame();

  void ShowModel(const BasicForm& form) override;
  // The mask, gateway and DNS fields are read even while disabled: the clock
  // keeps them in dynamic mode too.
  void ReadModel(BasicForm& form) const override;

 private:
  static constexpr std::size_t kDstLists = 8;
  static constexpr std::size_t kAddressFields = 4;

  void ConnectSignals();
  // The operator's choices.
  void DynamicIpClicked();
  void StaticIpClicked();
  void DstEnableClicked(bool checked);
  void EnergySavingClicked(bool checked);

  void SetAddressFieldsEnabled(bool enabled);
  void SetDstListsEnabled(bool enabled);
  void ClearDstLists();
  void SetEnergyControlsEnabled(bool enabled);
  void ClearEnergyControls();

  void FillLists();
  void ShowAddressing(const BasicForm& form);
  void ShowDst(const BasicForm& form);
  void ShowEnergySaving(const BasicForm& form);

  std::unique_ptr<Ui::Basic> ui_;
  ClockSelection& selection_;
  CodePage codePage_;
  std::array<Ipv4Edit*, kAddressFields> addressFields_{};
  std::array<QComboBox*, kDstLists> dstLists_{};
};

}  // namespace marindo
