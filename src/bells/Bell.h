#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "bells/BellPage.h"
#include "clocks/ClockList.h"
#include "clocks/ClockSelection.h"
#include "link/ClockFrame.h"
#include "platform/Notifier.h"
#include "settings/BellEntry.h"
#include "widgets/SettingsPage.h"

namespace Ui {
class Bell;
}

namespace marindo {

// The "Bell  Info" tab: the 30 bells of the selected clock on three inner
// tabs of ten bells each, a view over the bell section. It keeps no schedule
// of its own: rows are shown from the clock's record and read back into it on
// a write.
class Bell : public SettingsPage, public ModelView<BellRows> {
  Q_OBJECT

 public:
  static constexpr int kPages = 3;

  Bell(ClockList& clocks, ClockSelection& selection, Notifier& notifier, QWidget* parent = nullptr);
  ~Bell() override;

  // Sub-page 0, 1 or 2 (Bell1, Bell2, Bell3).
  BellPage& Page(int index);
  // Finds the clock by its address and fills the three sub-pages from its
  // bells; a clock no longer in the list leaves the rows as they are.
  void ShowClockBells(std::uint32_t ip);
  // Reads the 30 rows into the selected clock's bells and frames them as the
  // write of code 0x08. Nothing without a selected clock, or when a row is
  // refused (the operator has been told which).
  std::optional<ClockFrame> BuildBellWrite();

  // Bell 1 first; every control of the three sub-pages becomes usable.
  void ShowModel(const BellRows& rows) override;
  void ReadModel(BellRows& rows) const override;

 private:
  ClockRecord* SelectedClock();

  std::unique_ptr<Ui::Bell> ui_;
  ClockList& clocks_;
  ClockSelection& selection_;
  std::array<BellPage*, kPages> pages_{};
};

}  // namespace marindo
