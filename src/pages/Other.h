#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "clocks/ClockList.h"
#include "clocks/ClockSelection.h"
#include "link/ClockFrame.h"
#include "platform/CodePage.h"
#include "platform/Notifier.h"
#include "settings/OtherFrames.h"
#include "widgets/SettingsPage.h"

class QComboBox;

namespace Ui {
class Other;
}

namespace marindo {

// The "Other Info" tab: count-down, humiture display, alternating displays,
// radio setting and the display text of the selected clock. A view over the
// display and the text sections; the sensor's readings are the clock's own and
// come from its record.
class Other : public SettingsPage, public ModelView<DisplayControls>, public ModelView<TextControls> {
  Q_OBJECT

 public:
  // The text frame comes in two sizes; which one a clock takes is its
  // record's longText flag.
  using TextForm = DisplayTextForm;

  // The display text goes to and comes from the clocks in `codePage`.
  Other(ClockList& clocks, ClockSelection& selection, Notifier& notifier, QWidget* parent = nullptr,
        CodePage codePage = CodePageForLocale());
  ~Other() override;

  void ClearOther();
  // Both look the clock up by its address and do nothing when it has gone.
  void ShowDisplaySettings(std::uint32_t ip);
  void ShowTextSettings(std::uint32_t ip);
  // The modify frame of code 0x09; always built.
  std::optional<ClockFrame> BuildDisplayFrame();
  // The modify frame of code 0x0B in the given form; always built.
  std::optional<ClockFrame> BuildTextFrame(TextForm form);

  // A sensor with a unit the page does not know leaves the unit buttons as
  // they were; the readings are shown apart, by ShowDisplaySettings.
  void ShowModel(const DisplayControls& model) override;
  void ReadModel(DisplayControls& model) const override;
  // Roll leaves the seconds list as it was, only disabled.
  void ShowModel(const TextControls& model) override;
  void ReadModel(TextControls& model) const override;

  // The operator's actions, by the control that starts them.
  void RollChecked();
  void AlternateChecked();
  void OpenClicked();
  void CloseClicked();
  void YesClicked();
  void NoClicked();
  void TextChanged();

 private:
  void FillLists();
  void ConnectSignals();
  void ShowNoSensor();
  void ShowUnit(const DisplayControls& model);
  void ShowAlternativeDisplay(const DisplayControls& model);
  void ShowRadio(const DisplayControls& model);
  void ShowReadings(const ClockRecord& record);
  void SetDurationListsEnabled(bool enabled);

  std::unique_ptr<Ui::Other> ui_;
  ClockList& clocks_;
  ClockSelection& selection_;
  CodePage codePage_;
  // Start hour, minute, second, then duration hours, minutes, seconds, as
  // kCountdownLists.
  std::array<QComboBox*, 6> countdownLists_{};
};

}  // namespace marindo
