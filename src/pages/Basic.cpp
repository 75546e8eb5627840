#include "pages/Basic.h"

#include <algorithm>
#include <variant>

#include <QKeyEvent>

#include "pages/Ipv4Edit.h"
#include "pages/PageControls.h"
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
  addressFields_ = {ui_->ipAddress_1084, ui_->subnetMask_1085, ui_->gateway_1086, ui_->dnsServer_1087};
  dstLists_ = {ui_->dstStartHour_1078, ui_->dstStartWeek_1079, ui_->dstStartWeekday_1080, ui_->dstStartMonth_1062,
               ui_->dstEndHour_1081,   ui_->dstEndWeek_1082,   ui_->dstEndWeekday_1083,   ui_->dstEndMonth_1063};
  // Every list starts without a selection, whatever the form file's items did.
  for (QComboBox* list : findChildren<QComboBox*>()) Unselect(list);
  // Wide enough for a whole time in this font, seconds included.
  QLabel* syncTime = ui_->lastSyncTime_1138;
  const int margins = 2 * syncTime->frameWidth() + syncTime->contentsMargins().left() +
                      syncTime->contentsMargins().right() + 2 * syncTime->margin() + syncTime->indent();
  syncTime->setMinimumWidth(syncTime->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) +
                            margins + syncTime->fontMetrics().averageCharWidth());
  ConnectSignals();
}

Basic::~Basic() = default;

void Basic::ConnectSignals() {
  connect(ui_->hour12_1073, &QRadioButton::clicked, this, [this] { CheckOnly(ui_->hour12_1073, ui_->hour24_1074); });
  connect(ui_->hour24_1074, &QRadioButton::clicked, this, [this] { CheckOnly(ui_->hour24_1074, ui_->hour12_1073); });
  connect(ui_->dynamicIp_1010, &QRadioButton::clicked, this, &Basic::DynamicIpClicked);
  connect(ui_->staticIp_1011, &QRadioButton::clicked, this, &Basic::StaticIpClicked);
  connect(ui_->dstEnable_1067, &QCheckBox::clicked, this, &Basic::DstEnableClicked);
  connect(ui_->energySaving_1069, &QCheckBox::clicked, this, &Basic::EnergySavingClicked);
  connect(ui_->displayDim_1026, &QRadioButton::clicked, this,
          [this] { CheckOnly(ui_->displayDim_1026, ui_->displayClose_1027); });
  connect(ui_->displayClose_1027, &QRadioButton::clicked, this,
          [this] { CheckOnly(ui_->displayClose_1027, ui_->displayDim_1026); });
}

// The page sits in the main window's dialog: Enter and Escape must not reach
// it and press Modify or close the program.
void Basic::keyPressEvent(QKeyEvent* event) {
  if (!SwallowDialogKey(event)) QWidget::keyPressEvent(event);
}

void Basic::DynamicIpClicked() {
  CheckOnly(ui_->dynamicIp_1010, ui_->staticIp_1011);
  SetAddressFieldsEnabled(false);
}

void Basic::StaticIpClicked() {
  CheckOnly(ui_->staticIp_1011, ui_->dynamicIp_1010);
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
    CheckOnly(ui_->displayDim_1026, ui_->displayClose_1027);
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
  ui_->energyFrom_1075->setEnabled(enabled);
  ui_->energyTo_1076->setEnabled(enabled);
  ui_->displayDim_1026->setEnabled(enabled);
  ui_->displayClose_1027->setEnabled(enabled);
}

void Basic::ClearEnergyControls() {
  Unselect(ui_->energyFrom_1075);
  Unselect(ui_->energyTo_1076);
  ui_->displayDim_1026->setChecked(false);
  ui_->displayClose_1027->setChecked(false);
}

void Basic::ClearBasic() {
  ui_->firmwareVersion_1141->clear();
  ui_->lastSyncTime_1138->clear();
  ui_->serial_1142->clear();
  ui_->syncServer_1005->ClearAddress();

  for (QRadioButton* radio : {ui_->hour12_1073, ui_->hour24_1074, ui_->dynamicIp_1010, ui_->staticIp_1011}) {
    radio->setChecked(false);
  }
  ui_->dstEnable_1067->setChecked(false);
  Unselect(ui_->zone_1068);
  Unselect(ui_->brightness_1077);

  for (Ipv4Edit* field : addressFields_) field->ClearAddress();
  SetAddressFieldsEnabled(false);

  ClearEnergyControls();
  SetEnergyControlsEnabled(false);
  ui_->energySaving_1069->setChecked(false);
  ui_->energySaving_1069->setEnabled(true);

  ClearDstLists();
  SetDstListsEnabled(false);
}

void Basic::ShowIdentity(const ClockRecord* record) {
  if (record == nullptr) return;
  ui_->firmwareVersion_1141->setText(
      QString::fromStdString(FormatFirmwareVersion(record->firmwareMajor, record->firmwareMinor)));
  ui_->lastSyncTime_1138->setText(QString::fromStdString(FormatSyncTime(record->lastSyncTime)));
  ui_->syncServer_1005->SetAddress(record->syncServerIp);
  // The clock reports its sync server; the operator cannot change it here.
  ui_->syncServer_1005->setEnabled(false);
  const std::string serial = TextBeforeZero(record->serial.data(), record->serial.size());
  ui_->serial_1142->setText(QString::fromStdString(FromCodePage(serial, codePage_)));
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
    CheckOnly(ui_->hour12_1073, ui_->hour24_1074);
  } else {
    CheckOnly(ui_->hour24_1074, ui_->hour12_1073);
  }
}

// The list pads one-digit whole hours with a blank; the comparison ignores it,
// so that "UTC -9" finds "UTC -9 " and never "UTC -9:30".
void Basic::ShowZone(const ClockRecord& record) {
  const std::string zone = ZoneText(record);
  int found = -1;
  for (int i = 0; i < ui_->zone_1068->count() && !zone.empty(); ++i) {
    if (TrimTrailingBlanks(ui_->zone_1068->itemText(i).toStdString()) == zone) {
      found = i;
      break;
    }
  }
  ui_->zone_1068->setCurrentIndex(found);
}

void Basic::ShowAddressing(const ClockRecord& record) {
  const bool dynamic = record.dynamicIp != 0;
  if (dynamic) {
    CheckOnly(ui_->dynamicIp_1010, ui_->staticIp_1011);
  } else {
    CheckOnly(ui_->staticIp_1011, ui_->dynamicIp_1010);
  }
  SetAddressFieldsEnabled(!dynamic);
  ui_->ipAddress_1084->SetAddress(record.ipAddress);
  ui_->subnetMask_1085->SetAddress(record.subnetMask);
  ui_->gateway_1086->SetAddress(record.gateway);
  ui_->dnsServer_1087->SetAddress(record.dnsServer);
}

void Basic::ShowDst(const ClockRecord& record) {
  if (!DstIsOn(record)) {
    ui_->dstEnable_1067->setChecked(false);
    ClearDstLists();
    SetDstListsEnabled(false);
    return;
  }
  ui_->dstEnable_1067->setChecked(true);
  SetDstListsEnabled(true);
  SelectPosition(ui_->dstStartMonth_1062, record.dstStartMonth - 1);
  SelectPosition(ui_->dstStartWeek_1079, record.dstStartWeek - 1);
  SelectPosition(ui_->dstStartWeekday_1080, record.dstStartWeekday - 1);
  SelectPosition(ui_->dstStartHour_1078, record.dstStartHour);
  SelectPosition(ui_->dstEndMonth_1063, record.dstEndMonth - 1);
  SelectPosition(ui_->dstEndWeek_1082, record.dstEndWeek - 1);
  SelectPosition(ui_->dstEndWeekday_1083, record.dstEndWeekday - 1);
  SelectPosition(ui_->dstEndHour_1081, record.dstEndHour);
}

// An off period also empties the hour lists, whatever they held before, so
// that Modify sends it as 0 to 0 even without a clear in between.
void Basic::ShowEnergySaving(const ClockRecord& record) {
  ui_->energySaving_1069->setChecked(false);
  if (!EnergySavingIsOn(record)) {
    ClearEnergyControls();
    SetEnergyControlsEnabled(false);
    return;
  }
  SetEnergyControlsEnabled(true);
  ui_->energySaving_1069->setChecked(true);
  if (record.energyClose != 0) {
    CheckOnly(ui_->displayClose_1027, ui_->displayDim_1026);
  } else {
    CheckOnly(ui_->displayDim_1026, ui_->displayClose_1027);
  }
  SelectText(ui_->energyFrom_1075, QString::number(record.energyFrom));
  SelectText(ui_->energyTo_1076, QString::number(record.energyTo));
}

// "Auto" (5) is not among the operator's choices and shows no selection.
void Basic::ShowBrightness(const ClockRecord& record) {
  if (record.brightness < kBrightnessChoices) {
    const std::string_view name = kBrightnessNames[record.brightness];
    SelectText(ui_->brightness_1077, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  } else {
    Unselect(ui_->brightness_1077);
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
  form.hour24 = ui_->hour24_1074->isChecked();
  form.zone = TextOf(ui_->zone_1068);
  form.dynamicIp = ui_->dynamicIp_1010->isChecked();
  form.staticIp = ui_->staticIp_1011->isChecked();
  form.ipAddress = ui_->ipAddress_1084->Address();
  form.subnetMask = ui_->subnetMask_1085->Address();
  form.gateway = ui_->gateway_1086->Address();
  form.dnsServer = ui_->dnsServer_1087->Address();
  // The clock's own address goes out in static mode only; the others always.
  form.partialAddress = std::any_of(addressFields_.begin(), addressFields_.end(), [&](const Ipv4Edit* field) {
    return field->IsPartial() && (field != ui_->ipAddress_1084 || !form.dynamicIp);
  });
  form.displayClose = ui_->displayClose_1027->isChecked();
  form.energyFrom = TextOf(ui_->energyFrom_1075);
  form.energyTo = TextOf(ui_->energyTo_1076);
  form.brightness = TextOf(ui_->brightness_1077);
  form.dstEnabled = ui_->dstEnable_1067->isChecked();
  form.dstStart = ReadDstRow(ui_->dstStartHour_1078, ui_->dstStartWeek_1079, ui_->dstStartWeekday_1080,
                             ui_->dstStartMonth_1062);
  form.dstEnd =
      ReadDstRow(ui_->dstEndHour_1081, ui_->dstEndWeek_1082, ui_->dstEndWeekday_1083, ui_->dstEndMonth_1063);
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
