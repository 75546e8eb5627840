#include "bells/BellPage.h"

#include <stdexcept>

#include <QCheckBox>
#include <QComboBox>
#include <QProxyStyle>

#include "ui_BellPage.h"
#include "widgets/PageControls.h"

namespace marindo {
namespace {

constexpr std::array<const char*, kDaysPerWeek> kDayNames{"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

// Ten rows of seven labelled day boxes and four lists stay narrow enough for
// the main window when each box sits close to its own label; the wider gap
// between the columns then keeps every label with its box.
class CompactCheckBoxStyle : public QProxyStyle {
 public:
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    if (metric == PM_CheckBoxLabelSpacing) return kLabelSpacing;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }

 private:
  static constexpr int kLabelSpacing = 2;
};

template <typename Control>
Control* FindControl(QWidget& page, const char* role, int row) {
  const QString name = QStringLiteral("%1_%2").arg(QLatin1String(role)).arg(row + 1);
  auto* control = page.findChild<Control*>(name);
  if (control == nullptr) throw std::logic_error("bell page control missing: " + name.toStdString());
  return control;
}

void Select(QComboBox* list, const NumberList& numbers, std::optional<std::uint8_t> value) {
  const std::optional<int> item = value ? numbers.ItemOf(*value) : std::nullopt;
  list->setCurrentIndex(item.value_or(-1));
}

std::optional<std::uint8_t> Selected(const QComboBox* list, const NumberList& numbers) {
  const int item = list->currentIndex();
  if (item < 0 || item >= numbers.Count()) return std::nullopt;
  return numbers.ValueAt(item);
}

}  // namespace

BellPage::BellPage(int firstBell, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::BellPage>()), firstBell_(firstBell) {
  ui_->setupUi(this);
  // A child made after the controls goes after them when the page is deleted.
  auto* checkBoxStyle = new CompactCheckBoxStyle;
  checkBoxStyle->setParent(this);
  for (int row = 0; row < kRows; ++row) {
    RowControls& controls = rows_[static_cast<std::size_t>(row)];
    controls = FindRow(row);
    controls.enable->setStyle(checkBoxStyle);
    for (QCheckBox* day : controls.days) day->setStyle(checkBoxStyle);
    controls.enable->setText(QString::number(firstBell_ + row));
    FillNumbers(controls.hour, kHourList);
    FillNumbers(controls.minute, kMinuteList);
    FillNumbers(controls.second, kSecondList);
    FillNumbers(controls.duration, kDurationList);
  }
  connect(ui_->clean, &QPushButton::clicked, this, &BellPage::CleanBellRows);
}

BellPage::~BellPage() = default;

BellPage::RowControls BellPage::FindRow(int row) {
  RowControls controls;
  controls.enable = FindControl<QCheckBox>(*this, "enable", row);
  controls.hour = FindControl<QComboBox>(*this, "hour", row);
  controls.minute = FindControl<QComboBox>(*this, "minute", row);
  controls.second = FindControl<QComboBox>(*this, "second", row);
  for (std::size_t day = 0; day < kDayNames.size(); ++day) {
    controls.days[day] = FindControl<QCheckBox>(*this, kDayNames[day], row);
  }
  controls.duration = FindControl<QComboBox>(*this, "duration", row);
  return controls;
}

void BellPage::ClearBellRows() {
  for (const RowControls& row : rows_) {
    EmptyRow(row);
    row.enable->setEnabled(true);
    SetRowUsable(row, false);
  }
}

void BellPage::FillBellRows(const Entries& entries) {
  Rows rows{};
  for (std::size_t row = 0; row < rows.size(); ++row) rows[row] = RowFromEntry(entries[row]);
  ShowModel(rows);
}

void BellPage::ShowModel(const Rows& rows) {
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    ShowRow(rows_[row], rows[row]);
    rows_[row].enable->setEnabled(true);
    SetRowUsable(rows_[row], true);
  }
}

void BellPage::ReadModel(Rows& rows) const {
  for (int row = 0; row < kRows; ++row) rows[static_cast<std::size_t>(row)] = Row(row);
}

void BellPage::CleanBellRows() {
  for (const RowControls& row : rows_) EmptyRow(row);
}

BellRow BellPage::Row(int row) const {
  const RowControls& controls = rows_.at(static_cast<std::size_t>(row));
  BellRow values;
  values.enabled = controls.enable->isChecked();
  values.hour = Selected(controls.hour, kHourList);
  values.minute = Selected(controls.minute, kMinuteList);
  values.second = Selected(controls.second, kSecondList);
  for (std::size_t day = 0; day < values.days.size(); ++day) values.days[day] = controls.days[day]->isChecked();
  values.duration = Selected(controls.duration, kDurationList);
  return values;
}

void BellPage::EmptyRow(const RowControls& row) { ShowRow(row, BellRow{}); }

void BellPage::ShowRow(const RowControls& row, const BellRow& values) {
  row.enable->setChecked(values.enabled);
  Select(row.hour, kHourList, values.hour);
  Select(row.minute, kMinuteList, values.minute);
  Select(row.second, kSecondList, values.second);
  for (std::size_t day = 0; day < values.days.size(); ++day) row.days[day]->setChecked(values.days[day]);
  Select(row.duration, kDurationList, values.duration);
}

void BellPage::SetRowUsable(const RowControls& row, bool usable) {
  for (QComboBox* list : {row.hour, row.minute, row.second, row.duration}) list->setEnabled(usable);
  for (QCheckBox* day : row.days) day->setEnabled(usable);
}

}  // namespace marindo
