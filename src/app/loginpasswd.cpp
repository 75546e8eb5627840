#include "app/loginpasswd.h"

#include "app/PasswordMask.h"
#include "app/ProgramIcon.h"
#include "ui_loginpasswd.h"

namespace marindo {
namespace {

constexpr const char* kOldMismatch = "Current password mismatch!";
constexpr const char* kConfirmMismatch = "Confirm password mismatch with new password!";
constexpr const char* kTooShort = "Minimum password length is six!";
constexpr const char* kChanged = "Password changed, please login!";
// Reported instead of kChanged: telling the operator the change worked when
// it did not would lock them out with a password that is not in force.
constexpr const char* kNotSaved = "Password could not be saved; the old password stays in force.";

}  // namespace

loginpasswd::loginpasswd(PasswordStore& passwords, Notifier& notifier, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::loginpasswd>()), passwords_(passwords), notifier_(notifier) {
  ui_->setupUi(this);
  setWindowIcon(ProgramIcon());
  for (QLineEdit* field : {ui_->oldPasswordEdit, ui_->newPasswordEdit, ui_->confirmPasswordEdit}) {
    MaskWithBlackCircles(field);
  }
  ConnectSignals();
}

loginpasswd::~loginpasswd() = default;

void loginpasswd::ConnectSignals() {
  connect(ui_->modifyButton, &QPushButton::clicked, this, &loginpasswd::ModifyPassword);
  connect(ui_->cancelButton, &QPushButton::clicked, this, &loginpasswd::reject);
  ConnectShowBox(ui_->oldShowBox, ui_->oldPasswordEdit);
  ConnectShowBox(ui_->newShowBox, ui_->newPasswordEdit);
  ConnectShowBox(ui_->confirmShowBox, ui_->confirmPasswordEdit);
}

void loginpasswd::ConnectShowBox(QCheckBox* box, QLineEdit* field) {
  connect(box, &QCheckBox::toggled, field, [field](bool checked) { ShowPasswordText(field, checked); });
}

void loginpasswd::ModifyPassword() {
  if (!passwords_.MatchesLoginPassword(ui_->oldPasswordEdit->text().toStdString())) {
    notifier_.ShowMessage(kOldMismatch);
    return;
  }
  const QString newPassword = ui_->newPasswordEdit->text();
  if (newPassword != ui_->confirmPasswordEdit->text()) {
    notifier_.ShowMessage(kConfirmMismatch);
    return;
  }
  if (newPassword.size() < kMinimumLength) {
    notifier_.ShowMessage(kTooShort);
    return;
  }
  if (!passwords_.WriteStoredPassword(newPassword.toStdString())) {
    notifier_.ShowMessage(kNotSaved);
    return;
  }
  notifier_.ShowMessage(kChanged);
  accept();
}

}  // namespace marindo
