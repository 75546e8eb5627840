#include "app/loginpasswd.h"

#include <string>

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
// When the new password was written but did not read back, and the old one
// could not be written back either, neither is in force: saying the old one
// stays would send the operator back to a login that refuses them.
constexpr const char* kNoneInForce =
    "Password could not be saved, and the old password could not be put back: neither the old nor the new "
    "password works now. The password must be reset by hand in the settings file.";

// A message followed, when the settings file itself failed, by the reason.
std::string WithProblem(const char* message, const std::string& problem) {
  return problem.empty() ? std::string(message) : message + std::string("\n\n") + problem;
}

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
  // A settings file that cannot be read refuses every password; the operator
  // is told why rather than that they typed the wrong one.
  std::string problem;
  if (!passwords_.MatchesLoginPassword(ui_->oldPasswordEdit->text().toStdString(), &problem)) {
    notifier_.ShowMessage(problem.empty() ? kOldMismatch : problem);
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
  const PasswordStore::SaveResult saved = passwords_.SavePassword(newPassword.toStdString());
  switch (saved.outcome) {
    case PasswordStore::Saved::Yes:
      notifier_.ShowMessage(kChanged);
      accept();
      return;
    case PasswordStore::Saved::OldInForce:
      notifier_.ShowMessage(WithProblem(kNotSaved, saved.problem));
      return;
    case PasswordStore::Saved::NoneInForce:
      notifier_.ShowMessage(WithProblem(kNoneInForce, saved.problem));
      return;
  }
}

}  // namespace marindo
