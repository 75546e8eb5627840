#include "pages/Basic.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <variant>

#include "settings/SettingsLists.h"
#include "ui_Basic.h"
#include "widgets/Ipv4Edit.h"
#include "widgets/PageControls.h"

namespace marindo {
namespace {

QString QText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void Unselect(QComboBox* list) { list->setCurrentIndex(-1); }

// An empty text, or one the list does not offer, leaves it without a
// selection.
void SelectText(QComboBox* list, std::string_view text) { list->setCurrentIndex(list->findText(QText(text))); }

std::string TextOf(const QComboBox* list) { return list->currentText().toStdString(); }

void ShowDstRow(const DstRowTexts& row, QComboBox* hour, QComboBox* ordinal, QComboBox* weekday, QComboBox* month) {
  SelectText(hour, row.hour);
  SelectText(ordinal, row.ordinal);
  SelectText(weekday, row.weekday);
  SelectText(month, row.month);
}

DstRowTexts ReadDstRow(const QComboBox* hour, const QComboBox* ordinal, const QComboBox* weekday,
                       const QComboBox* month) {
  return {TextOf(hour), TextOf(ordinal), TextOf(weekday), TextOf(month)};
}

}  // namespace

Basic::Basic(ClockSelection& selection, Notifier& notifier, QWidget* parent, CodePage codePage)
    : SettingsPage(notifier, parent),
      ui_(std::make_unique<Ui::Basic>()),
      selection_(selection),
      codePage_(codePage) {
  ui_->setupUi(this);
  FillLists();
  addressFields_ = {ui_->ipAddress, ui_->subnetMask, ui_->gateway, ui_->dnsServer};
  dstLists_ = {ui_->dstStartHour, ui_->dstStartWeek, ui_->dstStartWeekday, ui_->dstStartMonth,
               ui_->dstEndHour,   ui_->dstEndWeek,   ui_->dstEndWeekday,   ui_->dstEndMonth};
  // Every list starts without a selection; filling a list selects its first item.
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

void Basic::FillLists() {
  FillNames(ui_->zone, kZoneEntries);
  for (QComboBox* hour : {ui_->dstStartHour, ui_->dstEndHour}) FillNumbers(hour, kHourList);
  for (QComboBox* ordinal : {ui_->dstStartWeek, ui_->dstEndWeek}) FillNames(ordinal, kOrdinalNames);
  for (QComboBox* weekday : {ui_->dstStartWeekday, ui_->dstEndWeekday}) FillNames(weekday, kWeekdayNames);
  for (QComboBox* month : {ui_->dstStartMonth, ui_->dstEndMonth}) FillNames(month, kMonthNames);
  for (QComboBox* hour : {ui_->energyFrom, ui_->energyTo}) FillNumbers(hour, kEnergyHourList);
  // The operator's five brightness choices, brightest first; "Auto" is the
  // clock's own and is not offered.
  for (std::size_t level = kBrightnessChoices; level-- > 0;) ui_->brightness->addItem(QText(kBrightnessNames[level]));
}

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
  ShowModel(BasicFormFromRecord(*record));
}

void Basic::ShowModel(const BasicForm& form) {
  ui_->hour12->setChecked(!form.hour24);
  ui_->hour24->setChecked(form.hour24);
  SelectText(ui_->zone, form.zone);
  ShowAddressing(form);
  ShowDst(form);
  ShowEnergySaving(form);
  SelectText(ui_->brightness, form.brightness);
}

void Basic::ShowAddressing(const BasicForm& form) {
  ui_->dynamicIp->setChecked(form.dynamicIp);
  ui_->staticIp->setChecked(form.staticIp && !form.dynamicIp);
  SetAddressFieldsEnabled(!form.dynamicIp);
  ui_->ipAddress->SetAddress(form.ipAddress);
  ui_->subnetMask->SetAddress(form.subnetMask);
  ui_->gateway->SetAddress(form.gateway);
  ui_->dnsServer->SetAddress(form.dnsServer);
}

void Basic::ShowDst(const BasicForm& form) {
  ui_->dstEnable->setChecked(form.dstEnabled);
  if (!form.dstEnabled) {
    ClearDstLists();
    SetDstListsEnabled(false);
    return;
  }
  SetDstListsEnabled(true);
  ShowDstRow(form.dstStart, ui_->dstStartHour, ui_->dstStartWeek, ui_->dstStartWeekday, ui_->dstStartMonth);
  ShowDstRow(form.dstEnd, ui_->dstEndHour, ui_->dstEndWeek, ui_->dstEndWeekday, ui_->dstEndMonth);
}

// An off period also empties the hour lists, whatever they held before, so
// that Modify sends it as 0 to 0 even without a clear in between.
void Basic::ShowEnergySaving(const BasicForm& form) {
  ui_->energySaving->setChecked(form.energySaving);
  if (!form.energySaving) {
    ClearEnergyControls();
    SetEnergyControlsEnabled(false);
    return;
  }
  SetEnergyControlsEnabled(true);
  ui_->displayClose->setChecked(form.displayClose);
  ui_->displayDim->setChecked(!form.displayClose);
  SelectText(ui_->energyFrom, form.energyFrom);
  SelectText(ui_->energyTo, form.energyTo);
}

void Basic::ReadModel(BasicForm& form) const {
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
  form.energySaving = ui_->energySaving->isChecked();
  form.displayClose = ui_->displayClose->isChecked();
  form.energyFrom = TextOf(ui_->energyFrom);
  form.energyTo = TextOf(ui_->energyTo);
  form.brightness = TextOf(ui_->brightness);
  form.dstEnabled = ui_->dstEnable->isChecked();
  form.dstStart = ReadDstRow(ui_->dstStartHour, ui_->dstStartWeek, ui_->dstStartWeekday, ui_->dstStartMonth);
  form.dstEnd = ReadDstRow(ui_->dstEndHour, ui_->dstEndWeek, ui_->dstEndWeekday, ui_->dstEndMonth);
}

std::optional<ClockFrame> Basic::BuildBasicFrame() {
  BasicForm form;
  ReadModel(form);
  const auto encoded = EncodeBasicForm(form);
  if (const auto* refusal = std::get_if<BasicRefusal>(&encoded)) {
    ReportFieldError(RefusalMessage(*refusal));
    return std::nullopt;
  }
  return ClockFrame::Build(std::get<BasicPayload>(encoded));
}

}  // namespace marindo
