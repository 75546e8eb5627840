#include "app/Login.h"

#include "app/PasswordMask.h"
#include "app/ProgramIcon.h"
#include "app/loginpasswd.h"
#include "ui_Login.h"

namespace marindo {

Login::Login(PasswordStore& passwords, Notifier& notifier, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::Login>()), passwords_(passwords), notifier_(notifier) {
  ui_->setupUi(this);
  setWindowIcon(ProgramIcon());
  ui_->userNameEdit->setText(QString::fromLatin1(kUserName));
  MaskWithBlackCircles(ui_->passwordEdit);
  ui_->passwordEdit->setFocus();
  ConnectSignals();
}

Login::~Login() = default;

void Login::ConnectSignals() {
  connect(ui_->loginButton, &QPushButton::clicked, this, &Login::TakeTextsAndAccept);
  connect(ui_->exitButton, &QPushButton::clicked, this, &Login::reject);
  connect(ui_->changePasswordButton, &QPushButton::clicked, this, &Login::ChangePassword);
}

void Login::TakeTextsAndAccept() {
  userName_ = ui_->userNameEdit->text();
  password_ = ui_->passwordEdit->text();
  accept();
}

// Changing the password logs no one in: the login window stays as it was.
void Login::ChangePassword() {
  loginpasswd window(passwords_, notifier_, this);
  window.exec();
}

}  // namespace marindo
