#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include <QWidget>

#include "clocks/ClockList.h"
#include "clocks/ClockSelection.h"
#include "link/ClockFrame.h"
#include "settings/OtherFrames.h"
#include "platform/CodePage.h"
#include "platform/Notifier.h"

class QComboBox;
class QKeyEvent;
class QRadioButton;

namespace Ui {
class Other;
}

namespace marindo {

// The "Other Info" tab: count-down, humiture display, alternating displays,
// radio setting and the display text of the selected clock.
class Other : public QWidget {
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

  // The operator's actions, by the control that starts them.
  void RollChecked();
  void AlternateChecked();
  void OpenClicked();
  void CloseClicked();
  void YesClicked();
  void NoClicked();
  void TextChanged();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ConnectSignals();
  void ShowCountdown(const ClockRecord& record);
  void ShowNoSensor();
  void ShowHumiture(const ClockRecord& record, const QString& temperature, const QString& humidity);
  void ShowAlternativeDisplay(const ClockRecord& record);
  void ShowRadio(const ClockRecord& record);
  void SetDurationListsEnabled(bool enabled);
  DisplayControls ReadDisplayControls() const;

  std::unique_ptr<Ui::Other> ui_;
  ClockList& clocks_;
  ClockSelection& selection_;
  Notifier& notifier_;
  CodePage codePage_;
  // Start hour, minute, second, then duration hours, minutes, seconds.
  std::array<QComboBox*, 6> countdownLists_{};
};

}  // namespace marindo
