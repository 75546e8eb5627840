#pragma once

#include <array>
#include <memory>

#include <QWidget>

#include "settings/BellEntry.h"
#include "widgets/SettingsPage.h"

class QCheckBox;
class QComboBox;

namespace Ui {
class BellPage;
}

namespace marindo {

// The rows of one sub-page.
inline constexpr int kBellRowsPerPage = 10;
using BellPageRows = std::array<BellRow, kBellRowsPerPage>;

// One sub-page of ten bells, a view over their rows. The bell tab holds
// three of them, Bell1, Bell2 and Bell3, which differ only in their bell
// numbers. A row is emptied (only its enable box usable), filled from a
// clock's bells, or edited from either.
class BellPage : public QWidget, public ModelView<BellPageRows> {
  Q_OBJECT

 public:
  static constexpr int kRows = kBellRowsPerPage;
  using Rows = BellPageRows;
  using Entries = std::array<BellEntry, kRows>;

  // `firstBell` is 1, 11 or 21.
  explicit BellPage(int firstBell, QWidget* parent = nullptr);
  ~BellPage() override;

  int FirstBell() const { return firstBell_; }
  // Empties the ten rows and disables their controls but the enable boxes.
  void ClearBellRows();
  // Shows ten bells of a clock's table, by position, as ShowModel does their
  // rows.
  void FillBellRows(const Entries& entries);
  // The "Clean" button: empties the ten rows and leaves every control as
  // usable as it was. The clock learns of it only with the next write.
  void CleanBellRows();
  // What row `row` (0 to 9) shows now.
  BellRow Row(int row) const;

  // Shows the ten rows and makes every control usable.
  void ShowModel(const Rows& rows) override;
  void ReadModel(Rows& rows) const override;

 private:
  struct RowControls {
    QCheckBox* enable = nullptr;
    QComboBox* hour = nullptr;
    QComboBox* minute = nullptr;
    QComboBox* second = nullptr;
    std::array<QCheckBox*, kDaysPerWeek> days{};
    QComboBox* duration = nullptr;
  };

  RowControls FindRow(int row);
  static void EmptyRow(const RowControls& row);
  static void ShowRow(const RowControls& row, const BellRow& values);
  // Everything of the row but its enable box, which stays usable.
  static void SetRowUsable(const RowControls& row, bool usable);

  std::unique_ptr<Ui::BellPage> ui_;
  int firstBell_;
  std::array<RowControls, kRows> rows_{};
};

}  // namespace marindo
