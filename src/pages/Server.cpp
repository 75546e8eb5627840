#include "pages/Server.h"

#include <algorithm>

#include <QKeyEvent>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "settings/BasicSettings.h"
#include "widgets/Ipv4Edit.h"
#include "widgets/PageControls.h"
#include "ui_Server.h"

namespace marindo {
namespace {

// The port is not part of the protocol: the fields only show the NTP port.
const QString kNtpPort = QStringLiteral("123");
constexpr const char* kChooseFormMessage = "请选择NTP模式(ip或域名)";


}  // namespace

Server::Server(ClockSelection& selection, Notifier& notifier, QWidget* parent, CodePage codePage)
    : QWidget(parent),
      ui_(std::make_unique<Ui::Server>()),
      selection_(selection),
      notifier_(notifier),
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

// The page sits in the main window's dialog: Enter and Escape must not reach
// it and press Modify or close the program.
void Server::keyPressEvent(QKeyEvent* event) {
  if (!SwallowDialogKey(event)) QWidget::keyPressEvent(event);
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

void Server::ShowSlotAddresses(const ClockRecord& record) {
  for (std::size_t i = 0; i < addressFields_.size(); ++i) {
    const std::optional<std::uint32_t> address = SlotAddress(record.ntpServers[i]);
    if (address) {
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
  const bool names = record->ntpMode != 0;
  ui_->timeServerIp->setChecked(!names);
  ui_->domain->setChecked(names);
  if (names) {
    for (std::size_t i = 0; i < nameFields_.size(); ++i) {
      nameFields_[i]->setText(QString::fromStdString(SlotName(record->ntpServers[i], codePage_)));
    }
    SetNameFieldsEnabled(true);
    SetAddressFieldsEnabled(false);
  } else {
    SetNameFieldsEnabled(false);
    ShowSlotAddresses(*record);
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
  ShowSlotAddresses(*record);
  ShowPorts();
  SetNameFieldsEnabled(false);
}

void Server::DomainClicked() {
  CheckOnly(ui_->domain, ui_->timeServerIp);
  SetAddressFieldsEnabled(false);
  SetNameFieldsEnabled(true);
}

ServerAddresses Server::AddressesOfRows() const {
  ServerAddresses addresses{};
  for (std::size_t i = 0; i < addresses.size(); ++i) addresses[i] = addressFields_[i]->Address();
  return addresses;
}

std::optional<ClockFrame> Server::BuildServerFrame() {
  if (ui_->timeServerIp->isChecked()) {
    // A half-cleared row would go out as an address with zeros in it.
    const auto partial = [](const Ipv4Edit* row) { return row->IsPartial(); };
    if (std::any_of(addressFields_.begin(), addressFields_.end(), partial)) {
      notifier_.ShowMessage(std::string(RefusalMessage(BasicRefusal::InvalidIpAddress)));
      return std::nullopt;
    }
    return BuildServerAddressFrame(AddressesOfRows());
  }
  if (ui_->domain->isChecked()) {
    return BuildServerNameFrame(nameFields_[0]->text().toStdString(), nameFields_[1]->text().toStdString(),
                                codePage_);
  }
  notifier_.ShowMessage(kChooseFormMessage);
  return std::nullopt;
}

}  // namespace marindo
