#include "widgets/PageControls.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QRadioButton>
#include <QStringList>

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

void FillNumbers(QComboBox* list, const NumberList& numbers) {
  QStringList items;
  items.reserve(numbers.Count());
  for (int item = 0; item < numbers.Count(); ++item) items << QString::number(numbers.ValueAt(item));
  list->addItems(items);
  list->setCurrentIndex(-1);
}

void FillNames(QComboBox* list, std::span<const std::string_view> names) {
  QStringList items;
  items.reserve(static_cast<qsizetype>(names.size()));
  for (std::string_view name : names) items << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  list->addItems(items);
  list->setCurrentIndex(-1);
}

}  // namespace marindo
