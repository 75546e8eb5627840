#include "widgets/PageControls.h"

#include <QKeyEvent>
#include <QRadioButton>

namespace marindo {

void CheckOnly(QRadioButton* clicked, QRadioButton* other) {
  clicked->setChecked(true);
  other->setChecked(false);
}

bool SwallowDialogKey(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();
      return true;
    default:
      return false;
  }
}

}  // namespace marindo
