#pragma once

#include <memory>

#include <QDialog>

#include "clocks/PasswordStore.h"
#include "platform/Notifier.h"

class QCheckBox;
class QLineEdit;

namespace Ui {
class loginpasswd;
}

namespace marindo {

// The change-password window, opened from the login window. "Modify" checks
// the old password, the confirmation and the length, in that order, and
// reports only the first failure; "Cancle", the close box and Escape leave the
// store untouched.
class loginpasswd : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMinimumLength = 6;

  loginpasswd(PasswordStore& passwords, Notifier& notifier, QWidget* parent = nullptr);
  ~loginpasswd() override;

 private:
  void ConnectSignals();
  void ConnectShowBox(QCheckBox* box, QLineEdit* field);
  void ModifyPassword();

  std::unique_ptr<Ui::loginpasswd> ui_;
  PasswordStore& passwords_;
  Notifier& notifier_;
};

}  // namespace marindo
