#include "maint/System.h"

#include <QRegularExpressionValidator>

#include "settings/FirmwareUpgrade.h"
#include "settings/SystemSettings.h"
#include "ui_System.h"
#include "widgets/Ipv4Edit.h"

namespace marindo {

System::System(ClockLink& link, ClockSelection& selection, Notifier& notifier, QWidget* parent,
               MaintChoosers& choosers, TftpTimings timings, CodePage codePage, TftpIo& io)
    : SettingsPage(notifier, parent),
      ui_(std::make_unique<Ui::System>()),
      link_(link),
      selection_(selection),
      notifier_(notifier),
      choosers_(choosers),
      codePage_(codePage),
      tftp_(codePage, timings, io) {
  ui_->setupUi(this);
  // The secret-key fields are never read or sent; they only keep their form.
  for (QLineEdit* key : {ui_->newKey, ui_->confirmKey}) {
    key->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), key));
  }
  connect(ui_->choose, &QPushButton::clicked, this, &System::ChooseFirmware);
}

System::~System() = default;

void System::ShowAddresses(std::uint32_t ip) {
  const ClockRecord* record = ip != 0 ? link_.FindByIp(ip) : nullptr;
  if (record == nullptr) return;
  ui_->upgradeAddress->SetAddress(record->ip);
  ui_->mac->setText(QString::fromStdString(MacText(record->mac)));
}

void System::ShowUptime(std::uint32_t ip) {
  const ClockRecord* record = ip != 0 ? link_.FindByIp(ip) : nullptr;
  if (record == nullptr) return;
  ui_->uptime->setText(QString::number(SystemInfoFromRecord(*record).uptimeDays));
}

// The clocks' loaders look at the path as the clock's code page spells it.
bool System::AcceptsFirmware(const QString& path, bool newPlatform) {
  if (FirmwareTypeAccepted(ToCodePage(path.toStdString(), codePage_), newPlatform)) return true;
  ReportFieldError(FirmwareTypeRefusal(newPlatform));
  return false;
}

void System::ChooseFirmware() {
  const ClockRecord* record = selection_.SelectedRecord();
  if (record == nullptr) return;
  const bool newPlatform = record->newPlatform;
  const QString path = choosers_.OpenFile(QString::fromUtf8(FirmwareFileFilter(newPlatform)));
  if (path.isEmpty()) return;
  if (AcceptsFirmware(path, newPlatform)) ui_->path->setText(path);
}

void System::StartUpgrade() {
  const QString path = ui_->path->text();
  const ClockRecord* record = selection_.SelectedRecord();
  if (record == nullptr) return;
  // The announcement's reply goes through the link's frame handling, which
  // may move records: keep what the upgrade needs, not the record.
  const std::uint32_t ip = record->ip;
  if (!AcceptsFirmware(path, record->newPlatform)) return;
  // The last upgrade's progress must not read as this one's.
  SetBlockText({});
  ui_->progress->setValue(ui_->progress->minimum());

  // The clock prepares for the upload if it hears this; the upload is tried
  // whether or not it answered.
  const ClockFrame announcement = BuildUpgradeAnnouncement();
  link_.Exchange(ip, announcement);

  const int result = tftp_.UploadFile(ip, path.toStdString(), *this);
  notifier_.ShowMessage(result == 0 ? kUpgradeSucceeded : kUpgradeFailed);
}

void System::SetBlockText(const std::string& text) {
  ui_->block->setText(QString::fromStdString(text));
  ui_->block->repaint();
}

void System::Start() {
  // Qt ignores a position outside the range; the common controls clamped it.
  QProgressBar* bar = ui_->progress;
  bar->setValue(qBound(bar->minimum(), 0, bar->maximum()));
  bar->repaint();
}

void System::Block(std::uint64_t block, std::uint64_t fileLength) {
  SetBlockText(BlockProgressText(block, fileLength));
  const ProgressBarScale scale = ProgressBarScaleFor(fileLength);
  ui_->progress->setRange(1, scale.maximum);
  ui_->progress->setValue(scale.Position(block));
  ui_->progress->repaint();
}

void System::Finish(std::uint64_t block, std::uint64_t bytesTransferred) {
  SetBlockText(FinishProgressText(block, bytesTransferred));
  ++upgradeCount_;
  ui_->counter->setText(QString::fromStdString(UpgradeCounterText(upgradeCount_)));
  ui_->counter->repaint();
}

}  // namespace marindo
