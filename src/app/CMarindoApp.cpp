#include "app/CMarindoApp.h"

#include <QApplication>

#include "app/CMarindoDlg.h"
#include "app/Login.h"
#include "app/MessageBoxNotifier.h"
#include "app/ProgramIcon.h"
#include "platform/SettingsPath.h"

namespace marindo {
namespace {

constexpr const char* kWrongPassword = "Wrong password!";

}  // namespace

CMarindoApp::CMarindoApp(PasswordStore& passwords, Notifier& notifier, MainWindowRunner runMainWindow)
    : passwords_(passwords), notifier_(notifier), runMainWindow_(std::move(runMainWindow)) {}

void CMarindoApp::InitInstance() {
  if (PassLoginGate()) runMainWindow_();
}

bool CMarindoApp::PassLoginGate() {
  for (;;) {
    Login login(passwords_, notifier_);
    if (login.exec() != QDialog::Accepted) return false;
    std::string problem;
    if (passwords_.MatchesLoginPassword(login.Password().toStdString(), &problem)) return true;
    // A settings file that was refused lets no one in, and the operator must
    // learn why rather than try password after password.
    notifier_.ShowMessage(problem.empty() ? std::string(kWrongPassword) : problem);
  }
}

int RunMarindo() {
  QApplication::setWindowIcon(ProgramIcon());
  const std::filesystem::path settingsFile = SettingsFilePath();
  PasswordStore passwords(settingsFile);
  MessageBoxNotifier notifier;
  CMarindoApp app(passwords, notifier, [&] {
    SystemAdapters adapters;
    SystemNeighbours neighbours;
    TcpPortProbe probe;
    CMarindoDlg window(PlatformServices{notifier, adapters, neighbours, probe}, settingsFile);
    window.exec();
  });
  app.InitInstance();
  return 0;
}

}  // namespace marindo
