#pragma once

#include <cstdint>
#include <memory>

#include "clocks/ClockSelection.h"
#include "link/ClockLink.h"
#include "maint/Choosers.h"
#include "platform/CodePage.h"
#include "platform/Notifier.h"
#include "tftp/TftpClient.h"
#include "widgets/SettingsPage.h"

namespace Ui {
class System;
}

namespace marindo {

// The "System  Info" tab: the selected clock's address and MAC, and the
// firmware upgrade. The page follows its own uploads as their UploadProgress.
class System : public SettingsPage, public UploadProgress {
  Q_OBJECT

 public:
  // Paths go to the clock in `codePage`. The program uses the system's
  // dialogs, sockets and files and the clocks' own timings.
  System(ClockLink& link, ClockSelection& selection, Notifier& notifier, QWidget* parent = nullptr,
         MaintChoosers& choosers = DialogChoosers(), TftpTimings timings = {},
         CodePage codePage = CodePageForLocale(), TftpIo& io = SystemTftpIo());
  ~System() override;

  // Both find the clock by its address and change nothing for an unknown one.
  void ShowAddresses(std::uint32_t ip);
  void ShowUptime(std::uint32_t ip);
  // The "...." button: the file chooser for the selected clock's model.
  void ChooseFirmware();
  // The whole upgrade of the selected clock: announcement, upload, result.
  void StartUpgrade();

  // The upload's progress, shown at once: the window is blocked meanwhile.
  void Start() override;
  void Block(std::uint64_t block, std::uint64_t fileLength) override;
  void Finish(std::uint64_t block, std::uint64_t bytesTransferred) override;

  std::uint64_t UpgradeCount() const { return upgradeCount_; }
  // The page's transfer client, for the window to tune how it waits.
  TftpClient& Tftp() { return tftp_; }

 private:
  bool AcceptsFirmware(const QString& path, bool newPlatform);
  void SetBlockText(const std::string& text);

  std::unique_ptr<Ui::System> ui_;
  ClockLink& link_;
  ClockSelection& selection_;
  Notifier& notifier_;
  MaintChoosers& choosers_;
  CodePage codePage_;
  TftpClient tftp_;
  // Successful uploads of this run, for all clocks together.
  std::uint64_t upgradeCount_ = 0;
};

}  // namespace marindo
