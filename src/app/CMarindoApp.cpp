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
    if (passwords_.MatchesLoginPassword(login.Password().toStdString())) return true;
    notifier_.ShowMessage(kWrongPassword);
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
