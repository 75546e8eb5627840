#include "pages/Basic.h"

#include <algorithm>
#include <variant>

#include <QKeyEvent>

#include "widgets/Ipv4Edit.h"
#include "widgets/PageControls.h"
#include "ui_Basic.h"

namespace marindo {
namespace {


void Unselect(QComboBox* list) { list->setCurrentIndex(-1); }

// Selects the entry at `position`; a position the list does not have leaves
// it without a selection.
void SelectPosition(QComboBox* list, int position) {
  list->setCurrentIndex(position >= 0 && position < list->count() ? position : -1);
}

void SelectText(QComboBox* list, const QString& text) { list->setCurrentIndex(list->findText(text)); }

std::string TextOf(const QComboBox* list) { return list->currentText().toStdString(); }

}  // namespace

Basic::Basic(ClockSelection& selection, Notifier& notifier, QWidget* parent, CodePage codePage)
    : QWidget(parent),
      ui_(std::make_unique<Ui::Basic>()),
      selection_(selection),
      notifier_(notifier),
      codePage_(codePage) {
  ui_->setupUi(this);
  addressFields_ = {ui_->ipAddress, ui_->subnetMask, ui_->gateway, ui_->dnsServer};
  dstLists_ = {ui_->dstStartHour, ui_->dstStartWeek, ui_->dstStartWeekday, ui_->dstStartMonth,
               ui_->dstEndHour,   ui_->dstEndWeek,   ui_->dstEndWeekday,   ui_->dstEndMonth};
  // Every list starts without a selection, whatever the form file's items did.
  for (QComboBox* list : findChildren<QComboBox*>()) Unselect(list);
  // Wide enough for a whole time in this font, seconds included.
  QLabel* syncTime = ui_->lastSyncTime;
  const int margins = 2 * syncTime->frameWidth() + syncTime->contentsMargins().left() +
                      syncTime->contentsMargins().right() + 2 * syncTime->margin() + syncTime->indent();
  syncTime->setMinimumWidth(syncTime->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) +
                            margins + syncTime->fontMetrics().averageCharWidth());
  ConnectSignals();
}

Basic::~Basic() = default;

void Basic::ConnectSignals() {
  connect(ui_->hour12, &QRadioButton::clicked, this, [this] { CheckOnly(ui_->hour12, ui_->hour24); });
  connect(ui_->hour24, &QRadioButton::clicked, this, [this] { CheckOnly(ui_->hour24, ui_->hour12); });
  connect(ui_->dynamicIp, &QRadioButton::clicked, this, &Basic::DynamicIpClicked);
  connect(ui_->staticIp, &QRadioButton::clicked, this, &Basic::StaticIpClicked);
  connect(ui_->dstEnable, &QCheckBox::clicked, this, &Basic::DstEnableClicked);
  connect(ui_->energySaving, &QCheckBox::clicked, this, &Basic::EnergySavingClicked);
  connect(ui_->displayDim, &QRadioButton::clicked, this,
          [this] { CheckOnly(ui_->displayDim, ui_->displayClose); });
  connect(ui_->displayClose, &QRadioButton::clicked, this,
          [this] { CheckOnly(ui_->displayClose, ui_->displayDim); });
}

// The page sits in the main window's dialog: Enter and Escape must not reach
// it and press Modify or close the program.
void Basic::keyPressEvent(QKeyEvent* event) {
  if (!SwallowDialogKey(event)) QWidget::keyPressEvent(event);
}

void Basic::DynamicIpClicked() {
  CheckOnly(ui_->dynamicIp, ui_->staticIp);
  SetAddressFieldsEnabled(false);
}

void Basic::StaticIpClicked() {
  CheckOnly(ui_->staticIp, ui_->dynamicIp);
  SetAddressFieldsEnabled(true);
}

void Basic::DstEnableClicked(bool checked) {
  if (checked) {
    SetDstListsEnabled(true);
  } else {
    ClearDstLists();
    SetDstListsEnabled(false);
  }
}

// "Display Close" is unchecked too, so that switching the period on never
// shows both display choices checked.
void Basic::EnergySavingClicked(bool checked) {
  if (checked) {
    SetEnergyControlsEnabled(true);
    CheckOnly(ui_->displayDim, ui_->displayClose);
  } else {
    ClearEnergyControls();
    SetEnergyControlsEnabled(false);
  }
}

void Basic::SetAddressFieldsEnabled(bool enabled) {
  for (Ipv4Edit* field : addressFields_) field->setEnabled(enabled);
}

void Basic::SetDstListsEnabled(bool enabled) {
  for (QComboBox* list : dstLists_) list->setEnabled(enabled);
}

void Basic::ClearDstLists() {
  for (QComboBox* list : dstLists_) Unselect(list);
}

void Basic::SetEnergyControlsEnabled(bool enabled) {
  ui_->energyFrom->setEnabled(enabled);
  ui_->energyTo->setEnabled(enabled);
  ui_->displayDim->setEnabled(enabled);
  ui_->displayClose->setEnabled(enabled);
}

void Basic::ClearEnergyControls() {
  Unselect(ui_->energyFrom);
  Unselect(ui_->energyTo);
  ui_->displayDim->setChecked(false);
  ui_->displayClose->setChecked(false);
}

void Basic::ClearBasic() {
  ui_->firmwareVersion->clear();
  ui_->lastSyncTime->clear();
  ui_->serial->clear();
  ui_->syncServer->ClearAddress();

  for (QRadioButton* radio : {ui_->hour12, ui_->hour24, ui_->dynamicIp, ui_->staticIp}) {
    radio->setChecked(false);
  }
  ui_->dstEnable->setChecked(false);
  Unselect(ui_->zone);
  Unselect(ui_->brightness);

  for (Ipv4Edit* field : addressFields_) field->ClearAddress();
  SetAddressFieldsEnabled(false);

  ClearEnergyControls();
  SetEnergyControlsEnabled(false);
  ui_->energySaving->setChecked(false);
  ui_->energySaving->setEnabled(true);

  ClearDstLists();
  SetDstListsEnabled(false);
}

void Basic::ShowIdentity(const ClockRecord* record) {
  if (record == nullptr) return;
  ui_->firmwareVersion->setText(
      QString::fromStdString(FormatFirmwareVersion(record->firmwareMajor, record->firmwareMinor)));
  ui_->lastSyncTime->setText(QString::fromStdString(FormatSyncTime(record->lastSyncTime)));
  ui_->syncServer->SetAddress(record->syncServerIp);
  // The clock reports its sync server; the operator cannot change it here.
  ui_->syncServer->setEnabled(false);
  const std::string serial = TextBeforeZero(record->serial.data(), record->serial.size());
  ui_->serial->setText(QString::fromStdString(FromCodePage(serial, codePage_)));
}

void Basic::ShowBasicSettings(const ClockRecord* record) {
  if (record == nullptr) return;
  ShowTimeFormat(*record);
  ShowZone(*record);
  ShowAddressing(*record);
  ShowDst(*record);
  ShowEnergySaving(*record);
  ShowBrightness(*record);
}

void Basic::ShowTimeFormat(const ClockRecord& record) {
  if (record.hour24 == 0) {
    CheckOnly(ui_->hour12, ui_->hour24);
  } else {
    CheckOnly(ui_->hour24, ui_->hour12);
  }
}

// The list pads one-digit whole hours with a blank; the comparison ignores it,
// so that "UTC -9" finds "UTC -9 " and never "UTC -9:30".
void Basic::ShowZone(const ClockRecord& record) {
  const std::string zone = ZoneText(record);
  int found = -1;
  for (int i = 0; i < ui_->zone->count() && !zone.empty(); ++i) {
    if (TrimTrailingBlanks(ui_->zone->itemText(i).toStdString()) == zone) {
      found = i;
      break;
    }
  }
  ui_->zone->setCurrentIndex(found);
}

void Basic::ShowAddressing(const ClockRecord& record) {
  const bool dynamic = record.dynamicIp != 0;
  if (dynamic) {
    CheckOnly(ui_->dynamicIp, ui_->staticIp);
  } else {
    CheckOnly(ui_->staticIp, ui_->dynamicIp);
  }
  SetAddressFieldsEnabled(!dynamic);
  ui_->ipAddress->SetAddress(record.ipAddress);
  ui_->subnetMask->SetAddress(record.subnetMask);
  ui_->gateway->SetAddress(record.gateway);
  ui_->dnsServer->SetAddress(record.dnsServer);
}

void Basic::ShowDst(const ClockRecord& record) {
  if (!DstIsOn(record)) {
    ui_->dstEnable->setChecked(false);
    ClearDstLists();
    SetDstListsEnabled(false);
    return;
  }
  ui_->dstEnable->setChecked(true);
  SetDstListsEnabled(true);
  SelectPosition(ui_->dstStartMonth, record.dstStartMonth - 1);
  SelectPosition(ui_->dstStartWeek, record.dstStartWeek - 1);
  SelectPosition(ui_->dstStartWeekday, record.dstStartWeekday - 1);
  SelectPosition(ui_->dstStartHour, record.dstStartHour);
  SelectPosition(ui_->dstEndMonth, record.dstEndMonth - 1);
  SelectPosition(ui_->dstEndWeek, record.dstEndWeek - 1);
  SelectPosition(ui_->dstEndWeekday, record.dstEndWeekday - 1);
  SelectPosition(ui_->dstEndHour, record.dstEndHour);
}

// An off period also empties the hour lists, whatever they held before, so
// that Modify sends it as 0 to 0 even without a clear in between.
void Basic::ShowEnergySaving(const ClockRecord& record) {
  ui_->energySaving->setChecked(false);
  if (!EnergySavingIsOn(record)) {
    ClearEnergyControls();
    SetEnergyControlsEnabled(false);
    return;
  }
  SetEnergyControlsEnabled(true);
  ui_->energySaving->setChecked(true);
  if (record.energyClose != 0) {
    CheckOnly(ui_->displayClose, ui_->displayDim);
  } else {
    CheckOnly(ui_->displayDim, ui_->displayClose);
  }
  SelectText(ui_->energyFrom, QString::number(record.energyFrom));
  SelectText(ui_->energyTo, QString::number(record.energyTo));
}

// "Auto" (5) is not among the operator's choices and shows no selection.
void Basic::ShowBrightness(const ClockRecord& record) {
  if (record.brightness < kBrightnessChoices) {
    const std::string_view name = kBrightnessNames[record.brightness];
    SelectText(ui_->brightness, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  } else {
    Unselect(ui_->brightness);
  }
}

DstRowTexts Basic::ReadDstRow(const QComboBox* hour, const QComboBox* ordinal, const QComboBox* weekday,
                              const QComboBox* month) const {
  return {TextOf(hour), TextOf(ordinal), TextOf(weekday), TextOf(month)};
}

// The mask, gateway and DNS fields are read even while disabled: the clock
// keeps them in dynamic mode too.
BasicForm Basic::ReadForm() const {
  BasicForm form;
  form.hour24 = ui_->hour24->isChecked();
  form.zone = TextOf(ui_->zone);
  form.dynamicIp = ui_->dynamicIp->isChecked();
  form.staticIp = ui_->staticIp->isChecked();
  form.ipAddress = ui_->ipAddress->Address();
  form.subnetMask = ui_->subnetMask->Address();
  form.gateway = ui_->gateway->Address();
  form.dnsServer = ui_->dnsServer->Address();
  // The clock's own address goes out in static mode only; the others always.
  form.partialAddress = std::any_of(addressFields_.begin(), addressFields_.end(), [&](const Ipv4Edit* field) {
    return field->IsPartial() && (field != ui_->ipAddress || !form.dynamicIp);
  });
  form.displayClose = ui_->displayClose->isChecked();
  form.energyFrom = TextOf(ui_->energyFrom);
  form.energyTo = TextOf(ui_->energyTo);
  form.brightness = TextOf(ui_->brightness);
  form.dstEnabled = ui_->dstEnable->isChecked();
  form.dstStart = ReadDstRow(ui_->dstStartHour, ui_->dstStartWeek, ui_->dstStartWeekday,
                             ui_->dstStartMonth);
  form.dstEnd =
      ReadDstRow(ui_->dstEndHour, ui_->dstEndWeek, ui_->dstEndWeekday, ui_->dstEndMonth);
  return form;
}

std::optional<ClockFrame> Basic::BuildBasicFrame() {
  const auto encoded = EncodeBasicForm(ReadForm());
  if (const auto* refusal = std::get_if<BasicRefusal>(&encoded)) {
    notifier_.ShowMessage(std::string(RefusalMessage(*refusal)));
    return std::nullopt;
  }
  return ClockFrame::Build(std::get<BasicPayload>(encoded));
}

}  // namespace marindo
