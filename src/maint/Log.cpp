#include "maint/Log.h"

#include "ui_Log.h"

namespace marindo {

Log::Log(ClockSelection& selection, Notifier& notifier, QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::Log>()), selection_(selection), notifier_(notifier) {
  ui_->setupUi(this);
}

Log::~Log() = default;

void Log::RefreshLogFields() {}

void Log::StartDownload() {}

}  // namespace marindo
