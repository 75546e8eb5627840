#pragma once

#include <functional>

#include <QStyledItemDelegate>

namespace marindo {

// Label editing in the clock tree. Whatever ends the edit (Enter, Escape or
// leaving the field), the text the editor holds at that moment goes to the
// edit-end handler; the delegate itself never writes the item, so that only
// the rename decides what the tree shows.
class LabelEditDelegate final : public QStyledItemDelegate {
 public:
  static constexpr int kMaxLabelChars = 64;
  using EditEnd = std::function<void(const QModelIndex& index, const QString& text)>;

  explicit LabelEditDelegate(QObject* parent = nullptr);

  void SetEditEnd(EditEnd handler) { editEnd_ = std::move(handler); }

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
  void destroyEditor(QWidget* editor, const QModelIndex& index) const override;

 private:
  EditEnd editEnd_;
};

}  // namespace marindo
