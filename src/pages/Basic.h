#pragma once

#include <array>
#include <memory>
#include <optional>

#include <QWidget>

#include "clocks/ClockRecord.h"
#include "clocks/ClockSelection.h"
#include "link/ClockFrame.h"
#include "settings/BasicSettings.h"
#include "platform/CodePage.h"
#include "platform/Notifier.h"

class QComboBox;
class QKeyEvent;

namespace Ui {
class Basic;
}

namespace marindo {

class Ipv4Edit;

// The "Basic  Info" tab: time zone, time format, daylight saving, addressing,
// energy saving and brightness of the selected clock.
class Basic : public QWidget {
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

 protected:
  void keyPressEvent(QKeyEvent* event) override;

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

  void ShowTimeFormat(const ClockRecord& record);
  void ShowZone(const ClockRecord& record);
  void ShowAddressing(const ClockRecord& record);
  void ShowDst(const ClockRecord& record);
  void ShowEnergySaving(const ClockRecord& record);
  void ShowBrightness(const ClockRecord& record);

  BasicForm ReadForm() const;
  DstRowTexts ReadDstRow(const QComboBox* hour, const QComboBox* ordinal, const QComboBox* weekday,
                         const QComboBox* month) const;

  std::unique_ptr<Ui::Basic> ui_;
  ClockSelection& selection_;
  Notifier& notifier_;
  CodePage codePage_;
  std::array<Ipv4Edit*, kAddressFields> addressFields_{};
  std::array<QComboBox*, kDstLists> dstLists_{};
};

}  // namespace marindo
