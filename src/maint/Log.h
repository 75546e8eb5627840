#pragma once

#include <memory>

#include <QWidget>

#include "clocks/ClockSelection.h"
#include "platform/Notifier.h"

namespace Ui {
class Log;
}

namespace marindo {

// The "Log Info" tab: the download of a log file from the selected clock.
class Log : public QWidget {
  Q_OBJECT

 public:
  Log(ClockSelection& selection, Notifier& notifier, QWidget* parent = nullptr);
  ~Log() override;

  // Resets the file name and enables or disables the fields for the selected clock.
  void RefreshLogFields();
  // The download from the selected clock.
  void StartDownload();

 private:
  std::unique_ptr<Ui::Log> ui_;
  ClockSelection& selection_;
  Notifier& notifier_;
};

}  // namespace marindo
