#include "pages/Other.h"

#include <QStringList>

#include "ui_Other.h"
#include "widgets/PageControls.h"

namespace marindo {
namespace {

// Also empties the text typed into an editable list.
void RemoveSelection(QComboBox* list) { list->setCurrentIndex(-1); }

// Selects the item showing `value`; `selected` false, or a value the list does
// not offer, selects nothing.
void SelectValue(QComboBox* list, const NumberList& numbers, long value, bool selected) {
  std::optional<int> item;
  if (selected && value >= 0 && value <= 0xFF) item = numbers.ItemOf(static_cast<std::uint8_t>(value));
  list->setCurrentIndex(item.value_or(-1));
}

bool HasSelection(const QComboBox* list) { return list->currentIndex() >= 0; }

long ValueOf(const QComboBox* list) { return TypedNumber(list->currentText().toStdString()); }

void SetChecks(QRadioButton* first, QRadioButton* second, bool firstChecked) {
  first->setChecked(firstChecked);
  second->setChecked(!firstChecked);
}

}  // namespace

Other::Other(ClockList& clocks, ClockSelection& selection, Notifier& notifier, QWidget* parent, CodePage codePage)
    : SettingsPage(notifier, parent),
      ui_(std::make_unique<Ui::Other>()),
      clocks_(clocks),
      selection_(selection),
      codePage_(codePage) {
  ui_->setupUi(this);
  countdownLists_ = {ui_->startHour,      ui_->startMinute,     ui_->startSecond,
                     ui_->durationHours, ui_->durationMinutes, ui_->durationSeconds};
  FillLists();
  ConnectSignals();
}

Other::~Other() = default;

void Other::FillLists() {
  for (std::size_t slot = 0; slot < countdownLists_.size(); ++slot) {
    FillNumbers(countdownLists_[slot], kCountdownLists[slot]);
  }
  FillNumbers(ui_->timeDisplayDuration, kDisplaySecondsList);
  FillNumbers(ui_->humitureDisplayDuration, kDisplaySecondsList);
  FillNumbers(ui_->alternateSeconds, kAlternateList);
  FillNumbers(ui_->radioId, kRadioIdList);
}

void Other::ConnectSignals() {
  connect(ui_->roll, &QRadioButton::clicked, this, &Other::RollChecked);
  connect(ui_->alternate, &QRadioButton::clicked, this, &Other::AlternateChecked);
  connect(ui_->radioOpen, &QRadioButton::clicked, this, &Other::OpenClicked);
  connect(ui_->radioClose, &QRadioButton::clicked, this, &Other::CloseClicked);
  connect(ui_->timeOnlyYes, &QRadioButton::clicked, this, &Other::YesClicked);
  connect(ui_->timeOnlyNo, &QRadioButton::clicked, this, &Other::NoClicked);
  connect(ui_->celsius, &QRadioButton::clicked, this,
          [this] { CheckOnly(ui_->celsius, ui_->fahrenheit); });
  connect(ui_->fahrenheit, &QRadioButton::clicked, this,
          [this] { CheckOnly(ui_->fahrenheit, ui_->celsius); });
  connect(ui_->text, &QLineEdit::textChanged, this, &Other::TextChanged);
}

void Other::SetDurationListsEnabled(bool enabled) {
  ui_->timeDisplayDuration->setEnabled(enabled);
  ui_->humitureDisplayDuration->setEnabled(enabled);
}

// Nearly everything is disabled; the "Yes"/"No" and "Open"/"Close" buttons
// keep their check marks for the next clock.
void Other::ClearOther() {
  for (QComboBox* list : countdownLists_) {
    RemoveSelection(list);
    list->setEnabled(false);
  }
  ui_->text->clear();
  ui_->text->setEnabled(false);
  for (QRadioButton* mode : {ui_->roll, ui_->alternate}) {
    mode->setChecked(false);
    mode->setEnabled(false);
  }
  RemoveSelection(ui_->alternateSeconds);
  ui_->alternateSeconds->setEnabled(false);
  for (QRadioButton* unit : {ui_->celsius, ui_->fahrenheit}) {
    unit->setChecked(false);
    unit->setEnabled(false);
  }
  ui_->temperature->clear();
  ui_->humidity->clear();
  ui_->timeOnlyYes->setEnabled(false);
  ui_->timeOnlyNo->setEnabled(false);
  RemoveSelection(ui_->timeDisplayDuration);
  RemoveSelection(ui_->humitureDisplayDuration);
  SetDurationListsEnabled(false);
  RemoveSelection(ui_->radioId);
  ui_->radioId->setEnabled(false);
  ui_->radioOpen->setEnabled(false);
  ui_->radioClose->setEnabled(false);
}

void Other::ShowDisplaySettings(std::uint32_t ip) {
  const ClockRecord* record = clocks_.FindByIp(ip);
  if (record == nullptr) return;
  const DisplayControls model = DisplayControlsFromRecord(*record);
  ShowModel(model);
  if (model.showsTemperature) ShowReadings(*record);
}

void Other::ShowTextSettings(std::uint32_t ip) {
  const ClockRecord* record = clocks_.FindByIp(ip);
  if (record == nullptr) return;
  ShowModel(TextControlsFromRecord(*record, codePage_));
}

void Other::ShowModel(const DisplayControls& model) {
  for (std::size_t slot = 0; slot < countdownLists_.size(); ++slot) {
    SelectValue(countdownLists_[slot], kCountdownLists[slot], model.countdown[slot], model.countdownSelected[slot]);
    countdownLists_[slot]->setEnabled(true);
  }
  if (model.sensor) {
    ShowUnit(model);
    ShowAlternativeDisplay(model);
  } else {
    ShowNoSensor();
  }
  ShowRadio(model);
}

// Without a sensor only the time can be shown: "Yes" is checked and nothing
// about the humiture can be chosen.
void Other::ShowNoSensor() {
  for (QRadioButton* unit : {ui_->celsius, ui_->fahrenheit}) {
    unit->setEnabled(true);
    unit->setChecked(false);
  }
  ui_->temperature->clear();
  ui_->humidity->clear();
  SetDurationListsEnabled(false);
  SetChecks(ui_->timeOnlyYes, ui_->timeOnlyNo, true);
  ui_->timeOnlyYes->setEnabled(false);
  ui_->timeOnlyNo->setEnabled(false);
}

// A unit the page does not know leaves the unit buttons as they were.
void Other::ShowUnit(const DisplayControls& model) {
  if (!model.showsTemperature) return;
  ui_->celsius->setEnabled(true);
  ui_->fahrenheit->setEnabled(true);
  SetChecks(ui_->celsius, ui_->fahrenheit, model.celsius);
}

void Other::ShowReadings(const ClockRecord& record) {
  ui_->temperature->setText(QString::fromStdString(TemperatureText(record.humiture, record.tempUnit)));
  ui_->humidity->setText(QString::fromStdString(HumidityText(record.humiture)));
}

void Other::ShowAlternativeDisplay(const DisplayControls& model) {
  RemoveSelection(ui_->timeDisplayDuration);
  RemoveSelection(ui_->humitureDisplayDuration);
  ui_->timeOnlyYes->setEnabled(true);
  ui_->timeOnlyNo->setEnabled(true);
  SetChecks(ui_->timeOnlyYes, ui_->timeOnlyNo, model.timeOnly);
  SetDurationListsEnabled(!model.timeOnly);
  if (!model.timeOnly) {
    SelectValue(ui_->timeDisplayDuration, kDisplaySecondsList, model.timeDuration, model.timeDurationSelected);
    SelectValue(ui_->humitureDisplayDuration, kDisplaySecondsList, model.humitureDuration,
                model.humitureDurationSelected);
  }
}

void Other::ShowRadio(const DisplayControls& model) {
  SelectValue(ui_->radioId, kRadioIdList, model.radioId.value_or(0), model.radioId.has_value());
  ui_->radioId->setEnabled(true);
  ui_->radioOpen->setEnabled(true);
  ui_->radioClose->setEnabled(true);
  SetChecks(ui_->radioOpen, ui_->radioClose, model.radioOpen);
}

void Other::ReadModel(DisplayControls& model) const {
  for (std::size_t slot = 0; slot < countdownLists_.size(); ++slot) {
    model.countdown[slot] = ValueOf(countdownLists_[slot]);
    model.countdownSelected[slot] = HasSelection(countdownLists_[slot]);
  }
  // The humiture choice is offered only for a clock with a sensor.
  model.sensor = ui_->timeOnlyYes->isEnabledTo(this);
  model.showsTemperature = !ui_->temperature->text().isEmpty();
  model.celsius = ui_->celsius->isChecked();
  model.fahrenheit = ui_->fahrenheit->isChecked();
  model.timeOnly = ui_->timeOnlyYes->isChecked();
  // Read whether or not the lists have a selection: the operator may type.
  model.timeDuration = ValueOf(ui_->timeDisplayDuration);
  model.humitureDuration = ValueOf(ui_->humitureDisplayDuration);
  model.timeDurationSelected = HasSelection(ui_->timeDisplayDuration);
  model.humitureDurationSelected = HasSelection(ui_->humitureDisplayDuration);
  model.radioId.reset();
  if (HasSelection(ui_->radioId)) model.radioId = ValueOf(ui_->radioId);
  model.radioOpen = ui_->radioOpen->isChecked();
}

void Other::ShowModel(const TextControls& model) {
  SetChecks(ui_->roll, ui_->alternate, model.roll);
  ui_->roll->setEnabled(true);
  ui_->alternate->setEnabled(true);
  ui_->alternateSeconds->setEnabled(!model.roll);
  if (!model.roll) {
    SelectValue(ui_->alternateSeconds, kAlternateList, model.alternateSeconds, model.alternateSecondsSelected);
  }
  ui_->text->setEnabled(true);
  ui_->text->setText(QString::fromStdString(model.text));
  // Setting the same text again is no change to the field, yet the limit and
  // the counter must follow this clock.
  TextChanged();
}

void Other::ReadModel(TextControls& model) const {
  model.roll = ui_->roll->isChecked();
  model.alternateSeconds = ValueOf(ui_->alternateSeconds);
  model.alternateSecondsSelected = HasSelection(ui_->alternateSeconds);
  model.text = ui_->text->text().toStdString();
}

// The limit follows the selected clock and is applied again at every change.
void Other::TextChanged() {
  const ClockRecord* record = selection_.SelectedRecord();
  if (record == nullptr) return;
  const int limit = DisplayTextLimit(record->longText);
  ui_->text->setMaxLength(limit);
  const auto length = static_cast<int>(ui_->text->text().size());
  ui_->textCounter->setText(QString::fromStdString(DisplayTextCounter(length, limit)));
}

void Other::RollChecked() {
  CheckOnly(ui_->roll, ui_->alternate);
  RemoveSelection(ui_->alternateSeconds);
  ui_->alternateSeconds->setEnabled(false);
}

void Other::AlternateChecked() {
  CheckOnly(ui_->alternate, ui_->roll);
  ui_->alternateSeconds->setCurrentIndex(0);
  ui_->alternateSeconds->setEnabled(true);
}

void Other::OpenClicked() { CheckOnly(ui_->radioOpen, ui_->radioClose); }

void Other::CloseClicked() { CheckOnly(ui_->radioClose, ui_->radioOpen); }

void Other::YesClicked() {
  CheckOnly(ui_->timeOnlyYes, ui_->timeOnlyNo);
  SetDurationListsEnabled(false);
}

void Other::NoClicked() {
  CheckOnly(ui_->timeOnlyNo, ui_->timeOnlyYes);
  SetDurationListsEnabled(true);
}

std::optional<ClockFrame> Other::BuildDisplayFrame() {
  DisplayControls model;
  ReadModel(model);
  return BuildDisplayFrameFrom(model);
}

std::optional<ClockFrame> Other::BuildTextFrame(TextForm form) {
  TextControls model;
  ReadModel(model);
  return BuildTextFrameFrom(form, model.roll, model.alternateSeconds, model.text, codePage_);
}

}  // namespace marindo
