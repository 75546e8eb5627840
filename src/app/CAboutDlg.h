#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class CAboutDlg;
}

namespace marindo {

// The About box: the program's version and one button that closes it.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  ~CAboutDlg() override;

 private:
  std::unique_ptr<Ui::CAboutDlg> ui_;
};

}  // namespace marindo
