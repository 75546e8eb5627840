#pragma once

#include <memory>

#include <QDialog>
#include <QString>

#include "clocks/PasswordStore.h"
#include "platform/Notifier.h"

namespace Ui {
class Login;
}

namespace marindo {

// The login window in front of everything else. Accepted means the operator
// pressed "Login"; rejected means "Exit", the close box or Escape. The window
// does not judge the password: start-up asks the password store.
class Login : public QDialog {
  Q_OBJECT

 public:
  // Shown for the operator's information only; never compared with anything.
  static constexpr const char* kUserName = "admin";

  Login(PasswordStore& passwords, Notifier& notifier, QWidget* parent = nullptr);
  ~Login() override;

  // The texts the fields held when "Login" was pressed.
  const QString& UserName() const { return userName_; }
  const QString& Password() const { return password_; }

 private:
  void ConnectSignals();
  void TakeTextsAndAccept();
  void ChangePassword();

  std::unique_ptr<Ui::Login> ui_;
  PasswordStore& passwords_;
  Notifier& notifier_;
  QString userName_;
  QString password_;
};

}  // namespace marindo
