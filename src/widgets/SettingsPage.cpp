#include "widgets/SettingsPage.h"

#include <string>

#include <QKeyEvent>

#include "widgets/PageControls.h"

namespace marindo {

SettingsPage::SettingsPage(Notifier& notifier, QWidget* parent) : QWidget(parent), notifier_(notifier) {}

void SettingsPage::keyPressEvent(QKeyEvent* event) {
  if (!SwallowDialogKey(event)) QWidget::keyPressEvent(event);
}

void SettingsPage::ReportFieldError(std::string_view message) { notifier_.ShowMessage(std::string(message)); }

}  // namespace marindo
