#include "pages/Other.h"

#include <QKeyEvent>

#include "pages/PageControls.h"
#include "ui_Other.h"

namespace marindo {
namespace {

constexpr std::uint8_t kRadioOpenBit = 0x80;
constexpr std::uint8_t kRadioIdBits = 0x7F;

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
  countdownLists_ = {ui_->startHour_1111,      ui_->startMinute_1112,     ui_->startSecond_1021,
                     ui_->durationHours_1113, ui_->durationMinutes_1114, ui_->durationSeconds_1022};
  ConnectSignals();
}

Other::~Other() = default;

void Other::ConnectSignals() {
  connect(ui_->roll_1146, &QRadioButton::clicked, this, &Other::RollChecked);
  connect(ui_->alternate_1147, &QRadioButton::clicked, this, &Other::AlternateChecked);
  connect(ui_->radioOpen_1005, &QRadioButton::clicked, this, &Other::OpenClicked);
  connect(ui_->radioClose_1006, &QRadioButton::clicked, this, &Other::CloseClicked);
  connect(ui_->timeOnlyYes_1007, &QRadioButton::clicked, this, &Other::YesClicked);
  connect(ui_->timeOnlyNo_1008, &QRadioButton::clicked, this, &Other::NoClicked);
  connect(ui_->celsius_1003, &QRadioButton::clicked, this,
          [this] { CheckOnly(ui_->celsius_1003, ui_->fahrenheit_1004); });
  connect(ui_->fahrenheit_1004, &QRadioButton::clicked, this,
          [this] { CheckOnly(ui_->fahrenheit_1004, ui_->celsius_1003); });
  connect(ui_->text_1148, &QLineEdit::textChanged, this, &Other::TextChanged);
}

// The page sits in the main window's dialog: Enter and Escape must not reach
// it and press Modify or close the program.
void Other::keyPressEvent(QKeyEvent* event) {
  if (!SwallowDialogKey(event)) QWidget::keyPressEvent(event);
}

void Other::SetDurationListsEnabled(bool enabled) {
  ui_->timeDisplayDuration_1009->setEnabled(enabled);
  ui_->humitureDisplayDuration_1018->setEnabled(enabled);
}

// Nearly everything is disabled; the "Yes"/"No" and "Open"/"Close" buttons
// keep their check marks for the next clock.
void Other::ClearOther() {
  for (QComboBox* list : countdownLists_) {
    RemoveSelection(list);
    list->setEnabled(false);
  }
  ui_->text_1148->clear();
  ui_->text_1148->setEnabled(false);
  for (QRadioButton* mode : {ui_->roll_1146, ui_->alternate_1147}) {
    mode->setChecked(false);
    mode->setEnabled(false);
  }
  RemoveSelection(ui_->alternateSeconds_1019);
  ui_->alternateSeconds_1019->setEnabled(false);
  for (QRadioButton* unit : {ui_->celsius_1003, ui_->fahrenheit_1004}) {
    unit->setChecked(false);
    unit->setEnabled(false);
  }
  ui_->temperature_1116->clear();
  ui_->humidity_1115->clear();
  ui_->timeOnlyYes_1007->setEnabled(false);
  ui_->timeOnlyNo_1008->setEnabled(false);
  RemoveSelection(ui_->timeDisplayDuration_1009);
  RemoveSelection(ui_->humitureDisplayDuration_1018);
  SetDurationListsEnabled(false);
  RemoveSelection(ui_->radioId_1010);
  ui_->radioId_1010->setEnabled(false);
  ui_->radioOpen_1005->setEnabled(false);
  ui_->radioClose_1006->setEnabled(false);
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
  for (QRadioButton* unit : {ui_->celsius_1003, ui_->fahrenheit_1004}) {
    unit->setEnabled(true);
    unit->setChecked(false);
  }
  ui_->temperature_1116->clear();
  ui_->humidity_1115->clear();
  SetDurationListsEnabled(false);
  SetChecks(ui_->timeOnlyYes_1007, ui_->timeOnlyNo_1008, true);
  ui_->timeOnlyYes_1007->setEnabled(false);
  ui_->timeOnlyNo_1008->setEnabled(false);
}

// A unit the page does not know leaves the unit buttons and the readings as
// they were.
void Other::ShowHumiture(const ClockRecord& record, const QString& temperature, const QString& humidity) {
  if (record.tempUnit != 1 && record.tempUnit != 2) return;
  ui_->celsius_1003->setEnabled(true);
  ui_->fahrenheit_1004->setEnabled(true);
  SetChecks(ui_->celsius_1003, ui_->fahrenheit_1004, record.tempUnit == 1);
  ui_->temperature_1116->setText(temperature);
  ui_->humidity_1115->setText(humidity);
}

// A humiture display duration of 0 means the clock shows the time only.
void Other::ShowAlternativeDisplay(const ClockRecord& record) {
  RemoveSelection(ui_->timeDisplayDuration_1009);
  RemoveSelection(ui_->humitureDisplayDuration_1018);
  ui_->timeOnlyYes_1007->setEnabled(true);
  ui_->timeOnlyNo_1008->setEnabled(true);
  const bool alternates = record.displayTimes[1] != 0;
  SetChecks(ui_->timeOnlyYes_1007, ui_->timeOnlyNo_1008, !alternates);
  SetDurationListsEnabled(alternates);
  if (alternates) {
    SelectPosition(ui_->timeDisplayDuration_1009, record.displayTimes[0]);
    SelectPosition(ui_->humitureDisplayDuration_1018, record.displayTimes[1]);
  }
}

void Other::ShowRadio(const ClockRecord& record) {
  SelectPosition(ui_->radioId_1010, record.radio & kRadioIdBits);
  ui_->radioId_1010->setEnabled(true);
  ui_->radioOpen_1005->setEnabled(true);
  ui_->radioClose_1006->setEnabled(true);
  SetChecks(ui_->radioOpen_1005, ui_->radioClose_1006, (record.radio & kRadioOpenBit) != 0);
}

void Other::ShowTextSettings(std::uint32_t ip) {
  const ClockRecord* record = clocks_.FindByIp(ip);
  if (record == nullptr) return;
  const bool alternates = record->textRoll != 0;
  SetChecks(ui_->roll_1146, ui_->alternate_1147, !alternates);
  ui_->roll_1146->setEnabled(true);
  ui_->alternate_1147->setEnabled(true);
  ui_->alternateSeconds_1019->setEnabled(alternates);
  if (alternates) SelectText(ui_->alternateSeconds_1019, record->textAlternateSeconds);
  ui_->text_1148->setEnabled(true);
  ui_->text_1148->setText(QString::fromStdString(DisplayTextOf(*record, codePage_)));
  // Setting the same text again is no change to the field, yet the limit and
  // the counter must follow this clock.
  TextChanged();
}

// The limit follows the selected clock and is applied again at every change.
void Other::TextChanged() {
  const ClockRecord* record = selection_.SelectedRecord();
  if (record == nullptr) return;
  const int limit = DisplayTextLimit(record->longText);
  ui_->text_1148->setMaxLength(limit);
  const auto length = static_cast<int>(ui_->text_1148->text().size());
  ui_->textCounter_1491->setText(QString::fromStdString(DisplayTextCounter(length, limit)));
}

void Other::RollChecked() {
  CheckOnly(ui_->roll_1146, ui_->alternate_1147);
  RemoveSelection(ui_->alternateSeconds_1019);
  ui_->alternateSeconds_1019->setEnabled(false);
}

void Other::AlternateChecked() {
  CheckOnly(ui_->alternate_1147, ui_->roll_1146);
  ui_->alternateSeconds_1019->setCurrentIndex(0);
  ui_->alternateSeconds_1019->setEnabled(true);
}

void Other::OpenClicked() { CheckOnly(ui_->radioOpen_1005, ui_->radioClose_1006); }

void Other::CloseClicked() { CheckOnly(ui_->radioClose_1006, ui_->radioOpen_1005); }

void Other::YesClicked() {
  CheckOnly(ui_->timeOnlyYes_1007, ui_->timeOnlyNo_1008);
  SetDurationListsEnabled(false);
}

void Other::NoClicked() {
  CheckOnly(ui_->timeOnlyNo_1008, ui_->timeOnlyYes_1007);
  SetDurationListsEnabled(true);
}

DisplayControls Other::ReadDisplayControls() const {
  DisplayControls c;
  for (std::size_t i = 0; i < countdownLists_.size(); ++i) c.countdown[i] = ValueOf(countdownLists_[i]);
  c.showsTemperature = !ui_->temperature_1116->text().isEmpty();
  c.celsius = ui_->celsius_1003->isChecked();
  c.fahrenheit = ui_->fahrenheit_1004->isChecked();
  c.timeOnly = ui_->timeOnlyYes_1007->isChecked();
  // Read whether or not the lists have a selection: the operator may type.
  c.timeDuration = ValueOf(ui_->timeDisplayDuration_1009);
  c.humitureDuration = ValueOf(ui_->humitureDisplayDuration_1018);
  if (ui_->radioId_1010->currentIndex() >= 0) c.radioId = ValueOf(ui_->radioId_1010);
  c.radioOpen = ui_->radioOpen_1005->isChecked();
  return c;
}

std::optional<ClockFrame> Other::BuildDisplayFrame() { return BuildDisplayFrameFrom(ReadDisplayControls()); }

std::optional<ClockFrame> Other::BuildTextFrame(TextForm form) {
  return BuildTextFrameFrom(form, ui_->roll_1146->isChecked(), ValueOf(ui_->alternateSeconds_1019),
                            ui_->text_1148->text().toStdString(), codePage_);
}

}  // namespace marindo
