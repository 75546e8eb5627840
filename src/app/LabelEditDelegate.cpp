#include "app/LabelEditDelegate.h"

#include <QLineEdit>

namespace marindo {

LabelEditDelegate::LabelEditDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

QWidget* LabelEditDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  if (auto* line = qobject_cast<QLineEdit*>(editor)) line->setMaxLength(kMaxLabelChars);
  return editor;
}

void LabelEditDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {}

// The view closes every editor through here, also after Escape, when Qt
// itself would drop the typed text.
void LabelEditDelegate::destroyEditor(QWidget* editor, const QModelIndex& index) const {
  if (const auto* line = qobject_cast<const QLineEdit*>(editor); line != nullptr && editEnd_) {
    editEnd_(index, line->text());
  }
  QStyledItemDelegate::destroyEditor(editor, index);
}

}  // namespace marindo
