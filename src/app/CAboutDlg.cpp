#include "app/CAboutDlg.h"

#include "app/ProgramIcon.h"
#include "ui_CAboutDlg.h"

namespace marindo {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
  ui_->setupUi(this);
  ui_->iconLabel->setPixmap(ProgramIcon().pixmap(32, 32));
  connect(ui_->okButton, &QPushButton::clicked, this, &CAboutDlg::accept);
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace marindo
