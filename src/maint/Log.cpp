#include "maint/Log.h"


#include "settings/LogDownload.h"
#include "ui_Log.h"

namespace marindo {

Log::Log(ClockSelection& selection, Notifier& notifier, QWidget* parent, MaintChoosers& choosers,
         TftpTimings timings, CodePage codePage, TftpIo& io)
    : SettingsPage(notifier, parent),
      ui_(std::make_unique<Ui::Log>()),
      selection_(selection),
      notifier_(notifier),
      choosers_(choosers),
      tftp_(codePage, timings, io) {
  ui_->setupUi(this);
  connect(ui_->browse, &QPushButton::clicked, this, &Log::BrowseSaveFolder);
}

Log::~Log() = default;

void Log::SetFieldsEnabled(bool enabled) {
  ui_->fileName->setEnabled(enabled);
  ui_->savePath->setEnabled(enabled);
  ui_->download->setEnabled(enabled);
  ui_->browse->setEnabled(enabled);
}

// Only the newer clocks keep logs to download.
void Log::RefreshLogFields() {
  const ClockRecord* record = selection_.SelectedRecord();
  const bool logsAvailable = record != nullptr && record->newPlatform;
  ui_->fileName->setText(logsAvailable ? QString::fromUtf8(kLogDefaultName) : QString());
  SetFieldsEnabled(logsAvailable);
}

void Log::BrowseSaveFolder() {
  const QString folder = choosers_.ExistingFolder();
  if (!folder.isEmpty()) ui_->savePath->setText(folder);
}

void Log::StartDownload() {
  const ClockRecord* record = selection_.SelectedRecord();
  if (record == nullptr) return;
  const std::uint32_t ip = record->ip;
  const std::string name = ui_->fileName->text().toStdString();
  if (name.empty()) {
    ReportFieldError(kFillInFileName);
    return;
  }
  const std::string folder = ui_->savePath->text().toStdString();
  if (folder.empty()) {
    ReportFieldError(kSelectSavePath);
    return;
  }
  const DownloadOutcome outcome = tftp_.DownloadFile(ip, name, folder);
  notifier_.ShowMessage(DownloadOutcomeMessage(outcome, ip, name));
}

}  // namespace marindo
