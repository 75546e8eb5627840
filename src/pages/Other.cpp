#include "pages/Other.h"

#include <QKeyEvent>

#include "widgets/PageControls.h"
#include "ui_Other.h"

namespace marindo {
namespace {

// Also empties the text typed into an editable list.
void RemoveSelection(QComboBox* list) { list->setCurrentIndex(-1); }

// A position past the list's end selects nothing.
void SelectPosition(QComboBox* list, int position) {
  if (position >= 0 && position < list->count()) {
    list->setCurrentIndex(position);
  } else {
    RemoveSelection(list);
  }
}

void SelectText(QComboBox* list, int value) { SelectPosition(list, list->findText(QString::number(value))); }

long ValueOf(const QComboBox* list) { return TypedNumber(list->currentText().toStdString()); }


void SetChecks(QRadioButton* first, QRadioButton* second, bool firstChecked) {
  first->setChecked(firstChecked);
  second->setChecked(!firstChecked);
}

}  // namespace

Other::Other(ClockList& clocks, ClockSelection& selection, Notifier& notifier, QWidget* parent, CodePage codePage)
    : QWidget(parent),
      ui_(std::make_unique<Ui::Other>()),
      clocks_(clocks),
      selection_(selection),
      notifier_(notifier),
      codePage_(codePage) {
  ui_->setupUi(this);
  countdownLists_ = {ui_->startHour,      ui_->startMinute,     ui_->startSecond,
                     ui_->durationHours, ui_->durationMinutes, ui_->durationSeconds};
  ConnectSignals();
}

Other::~Other() = default;

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

// The page sits in the main window's dialog: Enter and Escape must not reach
// it and press Modify or close the program.
void Other::keyPressEvent(QKeyEvent* event) {
  if (!SwallowDialogKey(event)) QWidget::keyPressEvent(event);
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
  ShowCountdown(*record);
  const std::string temperature = TemperatureText(record->humiture, record->tempUnit);
  const std::string humidity = HumidityText(record->humiture);
  if (HasHumitureSensor(record->tempUnit, humidity)) {
    ShowHumiture(*record, QString::fromStdString(temperature), QString::fromStdString(humidity));
    ShowAlternativeDisplay(*record);
  } else {
    ShowNoSensor();
  }
  ShowRadio(*record);
}

void Other::ShowCountdown(const ClockRecord& record) {
  for (std::size_t i = 0; i < countdownLists_.size(); ++i) {
    const std::uint8_t value = i < 3 ? record.countdownStart[i] : record.countdownDuration[i - 3];
    SelectText(countdownLists_[i], value);
    countdownLists_[i]->setEnabled(true);
  }
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

// A unit the page does not know leaves the unit buttons and the readings as
// they were.
void Other::ShowHumiture(const ClockRecord& record, const QString& temperature, const QString& humidity) {
  if (record.tempUnit != 1 && record.tempUnit != 2) return;
  ui_->celsius->setEnabled(true);
  ui_->fahrenheit->setEnabled(true);
  SetChecks(ui_->celsius, ui_->fahrenheit, record.tempUnit == 1);
  ui_->temperature->setText(temperature);
  ui_->humidity->setText(humidity);
}

// A humiture display duration of 0 means the clock shows the time only.
void Other::ShowAlternativeDisplay(const ClockRecord& record) {
  RemoveSelection(ui_->timeDisplayDuration);
  RemoveSelection(ui_->humitureDisplayDuration);
  ui_->timeOnlyYes->setEnabled(true);
  ui_->timeOnlyNo->setEnabled(true);
  const bool alternates = record.displayTimes[1] != 0;
  SetChecks(ui_->timeOnlyYes, ui_->timeOnlyNo, !alternates);
  SetDurationListsEnabled(alternates);
  if (alternates) {
    SelectPosition(ui_->timeDisplayDuration, record.displayTimes[0]);
    SelectPosition(ui_->humitureDisplayDuration, record.displayTimes[1]);
  }
}

void Other::ShowRadio(const ClockRecord& record) {
  SelectPosition(ui_->radioId, record.radio & kRadioIdBits);
  ui_->radioId->setEnabled(true);
  ui_->radioOpen->setEnabled(true);
  ui_->radioClose->setEnabled(true);
  SetChecks(ui_->radioOpen, ui_->radioClose, (record.radio & kRadioOpenBit) != 0);
}

void Other::ShowTextSettings(std::uint32_t ip) {
  const ClockRecord* record = clocks_.FindByIp(ip);
  if (record == nullptr) return;
  const bool alternates = record->textRoll != 0;
  SetChecks(ui_->roll, ui_->alternate, !alternates);
  ui_->roll->setEnabled(true);
  ui_->alternate->setEnabled(true);
  ui_->alternateSeconds->setEnabled(alternates);
  if (alternates) SelectText(ui_->alternateSeconds, record->textAlternateSeconds);
  ui_->text->setEnabled(true);
  ui_->text->setText(QString::fromStdString(DisplayTextOf(*record, codePage_)));
  // Setting the same text again is no change to the field, yet the limit and
  // the counter must follow this clock.
  TextChanged();
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

DisplayControls Other::ReadDisplayControls() const {
  DisplayControls c;
  for (std::size_t i = 0; i < countdownLists_.size(); ++i) c.countdown[i] = ValueOf(countdownLists_[i]);
  c.showsTemperature = !ui_->temperature->text().isEmpty();
  c.celsius = ui_->celsius->isChecked();
  c.fahrenheit = ui_->fahrenheit->isChecked();
  c.timeOnly = ui_->timeOnlyYes->isChecked();
  // Read whether or not the lists have a selection: the operator may type.
  c.timeDuration = ValueOf(ui_->timeDisplayDuration);
  c.humitureDuration = ValueOf(ui_->humitureDisplayDuration);
  if (ui_->radioId->currentIndex() >= 0) c.radioId = ValueOf(ui_->radioId);
  c.radioOpen = ui_->radioOpen->isChecked();
  return c;
}

std::optional<ClockFrame> Other::BuildDisplayFrame() { return BuildDisplayFrameFrom(ReadDisplayControls()); }

std::optional<ClockFrame> Other::BuildTextFrame(TextForm form) {
  return BuildTextFrameFrom(form, ui_->roll->isChecked(), ValueOf(ui_->alternateSeconds),
                            ui_->text->text().toStdString(), codePage_);
}

}  // namespace marindo
