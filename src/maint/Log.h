#pragma once

#include <memory>

#include "clocks/ClockSelection.h"
#include "maint/Choosers.h"
#include "platform/CodePage.h"
#include "platform/Notifier.h"
#include "tftp/TftpClient.h"
#include "widgets/SettingsPage.h"

namespace Ui {
class Log;
}

namespace marindo {

// The "Log Info" tab: the download of a log file from the selected clock.
class Log : public SettingsPage {
  Q_OBJECT

 public:
  // Names go to the clock in `codePage`. The program uses the system's
  // dialogs, sockets and files and the clocks' own timings.
  Log(ClockSelection& selection, Notifier& notifier, QWidget* parent = nullptr,
      MaintChoosers& choosers = DialogChoosers(), TftpTimings timings = {},
      CodePage codePage = CodePageForLocale(), TftpIo& io = SystemTftpIo());
  ~Log() override;

  // Resets the file name and enables or disables the fields for the selected clock.
  void RefreshLogFields();
  // The "Browse" button: the folder chooser fills the save path.
  void BrowseSaveFolder();
  // The download from the selected clock.
  void StartDownload();
  // The page's transfer client, for the window to tune how it waits.
  TftpClient& Tftp() { return tftp_; }

 private:
  void SetFieldsEnabled(bool enabled);

  std::unique_ptr<Ui::Log> ui_;
  ClockSelection& selection_;
  Notifier& notifier_;
  MaintChoosers& choosers_;
  TftpClient tftp_;
};

}  // namespace marindo
