#include "pages/Server.h"

#include <algorithm>
#include <string_view>

#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "settings/BasicSettings.h"
#include "ui_Server.h"
#include "widgets/Ipv4Edit.h"
#include "widgets/PageControls.h"

namespace marindo {
namespace {

// The port is not part of the protocol: the fields only show the NTP port.
const QString kNtpPort = QStringLiteral("123");

}  // namespace

Server::Server(ClockSelection& selection, Notifier& notifier, QWidget* parent, CodePage codePage)
    : SettingsPage(notifier, parent),
      ui_(std::make_unique<Ui::Server>()),
      selection_(selection),
      codePage_(codePage) {
  ui_->setupUi(this);
  addressFields_ = {ui_->address1, ui_->address2, ui_->address3, ui_->address4,
                    ui_->address5};
  portFields_ = {ui_->port1, ui_->port2, ui_->port3, ui_->port4, ui_->port5};
  nameFields_ = {ui_->name1, ui_->name2};
  for (QLineEdit* port : portFields_) {
    port->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), port));
  }
  ConnectSignals();
}

Server::~Server() = default;

void Server::ConnectSignals() {
  connect(ui_->timeServerIp, &QRadioButton::clicked, this, &Server::TimeServerIpClicked);
  connect(ui_->domain, &QRadioButton::clicked, this, &Server::DomainClicked);
}

void Server::SetAddressFieldsEnabled(bool enabled) {
  for (Ipv4Edit* address : addressFields_) address->setEnabled(enabled);
}

void Server::SetNameFieldsEnabled(bool enabled) {
  for (QLineEdit* name : nameFields_) name->setEnabled(enabled);
}

void Server::ShowPorts() {
  for (QLineEdit* port : portFields_) port->setText(kNtpPort);
}

void Server::ShowAddressRows(const ServerControls& controls) {
  for (std::size_t i = 0; i < addressFields_.size(); ++i) {
    if (const std::optional<std::uint32_t> address = controls.slotAddresses[i]) {
      addressFields_[i]->SetAddress(*address);
    } else {
      addressFields_[i]->ClearAddress();
    }
  }
}

void Server::ClearServers() {
  ui_->timeServerIp->setChecked(false);
  ui_->domain->setChecked(false);
  for (Ipv4Edit* address : addressFields_) address->ClearAddress();
  SetAddressFieldsEnabled(true);
  for (QLineEdit* port : portFields_) {
    port->clear();
    port->setEnabled(false);
  }
  for (QLineEdit* name : nameFields_) name->clear();
  SetNameFieldsEnabled(false);
}

void Server::ShowServers(const ClockRecord* record) {
  if (record == nullptr) return;
  ShowModel(ServerControlsFromRecord(*record, codePage_));
}

// The rows of the form not shown keep what they held, disabled.
void Server::ShowModel(const ServerControls& controls) {
  ui_->timeServerIp->setChecked(controls.formChosen && !controls.names);
  ui_->domain->setChecked(controls.formChosen && controls.names);
  if (controls.names) {
    for (std::size_t i = 0; i < nameFields_.size(); ++i) {
      nameFields_[i]->setText(QString::fromStdString(controls.nameTexts[i]));
    }
    SetNameFieldsEnabled(true);
    SetAddressFieldsEnabled(false);
  } else {
    SetNameFieldsEnabled(false);
    ShowAddressRows(controls);
  }
  ShowPorts();
}

// Going back to addresses shows the clock's own addresses again: edits made
// before the switch are dropped.
void Server::TimeServerIpClicked() {
  CheckOnly(ui_->timeServerIp, ui_->domain);
  const ClockRecord* record = selection_.SelectedRecord();
  if (record == nullptr) return;
  SetAddressFieldsEnabled(true);
  ShowAddressRows(ServerControlsFromRecord(*record, codePage_));
  ShowPorts();
  SetNameFieldsEnabled(false);
}

void Server::DomainClicked() {
  CheckOnly(ui_->domain, ui_->timeServerIp);
  SetAddressFieldsEnabled(false);
  SetNameFieldsEnabled(true);
}

// With both forms checked, which no click leaves, the addresses win.
void Server::ReadModel(ServerControls& controls) const {
  controls.formChosen = ui_->timeServerIp->isChecked() || ui_->domain->isChecked();
  controls.names = !ui_->timeServerIp->isChecked() && ui_->domain->isChecked();
  for (std::size_t i = 0; i < addressFields_.size(); ++i) {
    const Ipv4Edit* row = addressFields_[i];
    controls.addresses[i] = row->Address();
    controls.slotAddresses[i] = row->IsBlank() ? std::nullopt : std::optional<std::uint32_t>(row->Address());
  }
  controls.partialAddress =
      std::any_of(addressFields_.begin(), addressFields_.end(), [](const Ipv4Edit* row) { return row->IsPartial(); });
  for (std::size_t i = 0; i < nameFields_.size(); ++i) controls.nameTexts[i] = nameFields_[i]->text().toStdString();
}

std::optional<ClockFrame> Server::BuildServerFrame() {
  ServerControls controls;
  ReadModel(controls);
  auto encoded = EncodeServerControls(controls, codePage_);
  if (const auto* refusal = std::get_if<std::string>(&encoded)) {
    ReportFieldError(*refusal);
    return std::nullopt;
  }
  return std::get<ClockFrame>(std::move(encoded));
}

}  // namespace marindo
