#include "app/MessageBoxNotifier.h"

#include <QApplication>
#include <QMessageBox>

#include "app/AppTexts.h"

namespace marindo {

void MessageBoxNotifier::ShowMessage(const std::string& text) {
  QWidget* owner = QApplication::activeModalWidget();
  if (owner == nullptr) owner = QApplication::activeWindow();
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), QString::fromStdString(text),
                  QMessageBox::Ok, owner);
  box.exec();
}

}  // namespace marindo
