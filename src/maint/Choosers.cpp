#include "maint/Choosers.h"

#include <QFileDialog>

namespace marindo {
namespace {

class FileDialogChoosers final : public MaintChoosers {
 public:
  QString OpenFile(const QString& filter) override {
    return QFileDialog::getOpenFileName(nullptr, QString(), QString(), filter);
  }
  QString ExistingFolder() override {
    return QFileDialog::getExistingDirectory(nullptr, QString(), QString(), QFileDialog::ShowDirsOnly);
  }
};

}  // namespace

MaintChoosers& DialogChoosers() {
  static FileDialogChoosers choosers;
  return choosers;
}

}  // namespace marindo
