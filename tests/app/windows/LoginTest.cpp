// The login gate and the change-password window, driven as the operator
// would: typing into the fields and pressing the buttons.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/CMarindoApp.h"
#include "app/Login.h"
#include "app/loginpasswd.h"
#include "app/windows/WidgetTestSupport.h"
#include "clocks/FileSizeLimit.h"

namespace marindo {
namespace {

using testing::ModalDriver;
using testing::RecordingNotifier;
using testing::TempSettings;

constexpr const char* kWrongPassword = "Wrong password!";
constexpr const char* kOldMismatch = "Current password mismatch!";
constexpr const char* kConfirmMismatch = "Confirm password mismatch with new password!";
constexpr const char* kTooShort = "Minimum password length is six!";
constexpr const char* kChanged = "Password changed, please login!";
constexpr const char* kNotSaved = "Password could not be saved; the old password stays in force.";
constexpr const char* kNoneInForce =
    "Password could not be saved, and the old password could not be put back: neither the old nor the new "
    "password works now. The password must be reset by hand in the settings file.";
const QString kBlackCircle = QString(QChar(0x25CF));

template <class T>
T* Child(QWidget* window, const char* name) {
  T* child = window->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

void TypeInto(QWidget* window, const char* field, const QString& text) {
  QLineEdit* edit = Child<QLineEdit>(window, field);
  edit->clear();
  QTest::keyClicks(edit, text);
}

void Press(QWidget* window, const char* button) { Child<QPushButton>(window, button)->click(); }

// For a button whose window opens another modal one: pressed once the driver
// has returned to the event loop.
void PressLater(QWidget* window, const char* button) {
  QMetaObject::invokeMethod(Child<QPushButton>(window, button), "click", Qt::QueuedConnection);
}

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class LoginGateTest : public ::testing::Test {
 protected:
  // Runs start-up with the driver's steps; true when the main window opened.
  bool RunStartup(ModalDriver& driver) {
    int mainWindows = 0;
    CMarindoApp app(passwords_, notifier_, [&] { ++mainWindows; });
    app.InitInstance();
    EXPECT_FALSE(driver.TimedOut());
    EXPECT_LE(mainWindows, 1);
    return mainWindows == 1;
  }

  static void TypeAndLogin(Login* login, const QString& password) {
    TypeInto(login, "passwordEdit", password);
    Press(login, "loginButton");
  }

  TempSettings settings_;
  PasswordStore passwords_{settings_.Path()};
  RecordingNotifier notifier_;
};

TEST_F(LoginGateTest, LeavingTheFirstWindowEndsWithoutMessageOrMainWindow) {
  const std::vector<std::pair<const char*, std::function<void(Login*)>>> ways{
      {"Exit", [](Login* login) { Press(login, "exitButton"); }},
      {"Escape", [](Login* login) { QTest::keyClick(login, Qt::Key_Escape); }},
      {"close box", [](Login* login) { login->close(); }},
  };
  for (const auto& [way, leave] : ways) {
    SCOPED_TRACE(way);
    ModalDriver driver;
    driver.Then<Login>(leave);
    EXPECT_FALSE(RunStartup(driver));
    EXPECT_EQ(driver.StepsDone(), 1u);
    EXPECT_TRUE(notifier_.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(settings_.Path()));
  }
}

TEST_F(LoginGateTest, WrongPasswordThenRightOneOpensTheMainWindowAfterOneMessage) {
  ModalDriver driver;
  driver.Then<Login>([](Login* login) {
    EXPECT_EQ(login->windowTitle(), "Quellan_V4_1.96");
    TypeAndLogin(login, "not-it");
  });
  driver.Then<Login>([](Login* login) {
    // A new window: the password is empty again, the user name is back.
    EXPECT_TRUE(Child<QLineEdit>(login, "passwordEdit")->text().isEmpty());
    EXPECT_EQ(Child<QLineEdit>(login, "userNameEdit")->text(), "admin");
    TypeAndLogin(login, "Tulip@KVX");
  });
  EXPECT_TRUE(RunStartup(driver));
  EXPECT_EQ(driver.StepsDone(), 2u);
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{kWrongPassword}));
}

// A link planted in place of the settings file in a folder others can write
// lets no one in, and says why instead of "Wrong password!".
TEST_F(LoginGateTest, ARefusedSettingsFileIsNamedNotCalledAWrongPassword) {
  const std::filesystem::path folder = settings_.Path().parent_path() / ("marindo-shared-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all | std::filesystem::perms::group_all);
  const std::filesystem::path planted = folder / "Tessaly.ini";
  std::filesystem::create_symlink(settings_.Path(), planted);
  PasswordStore store(planted);
  ModalDriver driver;
  driver.Then<Login>([](Login* login) { TypeAndLogin(login, "Tulip@KVX"); });
  driver.Then<Login>([](Login* login) { Press(login, "exitButton"); });
  int mainWindows = 0;
  CMarindoApp app(store, notifier_, [&] { ++mainWindows; });
  app.InitInstance();
  EXPECT_FALSE(driver.TimedOut());
  EXPECT_EQ(mainWindows, 0);
  ASSERT_EQ(notifier_.messages.size(), 1u);
  EXPECT_NE(notifier_.messages.front().find("symbolic link"), std::string::npos) << notifier_.messages.front();
  std::filesystem::remove_all(folder);
}

TEST_F(LoginGateTest, PasswordDifferingOnlyInCaseIsRefused) {
  ModalDriver driver;
  driver.Then<Login>([](Login* login) { TypeAndLogin(login, "tulip@kvx"); });
  driver.Then<Login>([](Login* login) { Press(login, "exitButton"); });
  EXPECT_FALSE(RunStartup(driver));
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{kWrongPassword}));
}

TEST_F(LoginGateTest, UserNameIsReadOnlyAndNeverLookedAt) {
  ModalDriver driver;
  driver.Then<Login>([](Login* login) {
    QLineEdit* userName = Child<QLineEdit>(login, "userNameEdit");
    EXPECT_TRUE(userName->isReadOnly());
    QTest::keyClicks(userName, "root");
    EXPECT_EQ(userName->text(), "admin");
    userName->setText("someone-else");  // even a changed name plays no part
    TypeAndLogin(login, "Tulip@KVX");
  });
  EXPECT_TRUE(RunStartup(driver));
  EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(LoginGateTest, PasswordFieldTakesAtMostSixteenCharactersMasked) {
  Login login(passwords_, notifier_);
  QLineEdit* password = Child<QLineEdit>(&login, "passwordEdit");
  QTest::keyClicks(password, "0123456789abcdefghij");
  EXPECT_EQ(password->text(), "0123456789abcdef");
  EXPECT_EQ(password->displayText(), kBlackCircle.repeated(16));
}

TEST_F(LoginGateTest, ChangingThePasswordDoesNotLogInAndRetiresTheDefault) {
  ModalDriver driver;
  driver.Then<Login>([](Login* login) {
    TypeInto(login, "passwordEdit", "typed before");
    PressLater(login, "changePasswordButton");
  });
  driver.Then<loginpasswd>([](loginpasswd* window) {
    TypeInto(window, "oldPasswordEdit", "Tulip@KVX");
    TypeInto(window, "newPasswordEdit", "Garden#42");
    TypeInto(window, "confirmPasswordEdit", "Garden#42");
    Press(window, "modifyButton");
  });
  driver.Then<Login>([](Login* login) {
    // Back to the same login window, unchanged; the default no longer works.
    EXPECT_EQ(Child<QLineEdit>(login, "passwordEdit")->text(), "typed before");
    TypeAndLogin(login, "Tulip@KVX");
  });
  driver.Then<Login>([](Login* login) { TypeAndLogin(login, "Garden#42"); });
  EXPECT_TRUE(RunStartup(driver));
  EXPECT_EQ(driver.StepsDone(), 4u);
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{kChanged, kWrongPassword}));
  EXPECT_NE(FileText(settings_.Path()).find("pwd=Garden#42"), std::string::npos);
}

struct ChangeCase {
  const char* name;
  const char* stored;  // "" for none
  const char* oldPassword;
  const char* newPassword;
  const char* confirmation;
  const char* message;
  bool changed;
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class ChangePasswordTest : public ::testing::TestWithParam<ChangeCase> {
 protected:
  TempSettings settings_;
  PasswordStore passwords_{settings_.Path()};
  RecordingNotifier notifier_;
};

TEST_P(ChangePasswordTest, ModifyReportsOnlyTheFirstFailureAndWritesOnlyOnSuccess) {
  const ChangeCase& c = GetParam();
  if (*c.stored != '\0') {
    ASSERT_TRUE(passwords_.WriteStoredPassword(c.stored));
  }
  loginpasswd window(passwords_, notifier_);
  window.show();
  TypeInto(&window, "oldPasswordEdit", c.oldPassword);
  TypeInto(&window, "newPasswordEdit", c.newPassword);
  TypeInto(&window, "confirmPasswordEdit", c.confirmation);
  Press(&window, "modifyButton");

  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{c.message}));
  EXPECT_EQ(passwords_.ReadStoredPassword(), c.changed ? c.newPassword : c.stored);
  EXPECT_EQ(window.isVisible(), !c.changed);
  EXPECT_EQ(window.result(), c.changed ? QDialog::Accepted : QDialog::Rejected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangePasswordTest,
    ::testing::Values(
        ChangeCase{"DefaultAccepted", "", "Tulip@KVX", "abcdef", "abcdef", kChanged, true},
        ChangeCase{"WrongOld", "", "Tulip@KVY", "abcdef", "abcdef", kOldMismatch, false},
        ChangeCase{"OldCaseMatters", "", "tulip@kvx", "abcdef", "abcdef", kOldMismatch, false},
        ChangeCase{"WrongOldBeatsDifferingNew", "", "nope", "abcdef", "xyz", kOldMismatch, false},
        ChangeCase{"ShortAndDifferingIsAMismatch", "", "Tulip@KVX", "abcde", "abcdx", kConfirmMismatch, false},
        ChangeCase{"FiveIsTooShort", "", "Tulip@KVX", "abcde", "abcde", kTooShort, false},
        ChangeCase{"DefaultRetiredOnceStored", "Secret#1", "Tulip@KVX", "abcdef", "abcdef", kOldMismatch, false},
        ChangeCase{"SamePasswordAgain", "Secret#1", "Secret#1", "Secret#1", "Secret#1", kChanged, true},
        // A password the settings file cannot carry unchanged is not saved,
        // and the operator is told so instead of being told it changed.
        ChangeCase{"UnsavablePassword", "", "Tulip@KVX", " padded ", " padded ", kNotSaved, false}),
    [](const ::testing::TestParamInfo<ChangeCase>& p) { return std::string(p.param.name); });

TEST(ChangePasswordWindowTest, ShowUnmasksOnlyItsOwnField) {
  TempSettings settings;
  PasswordStore passwords(settings.Path());
  RecordingNotifier notifier;
  loginpasswd window(passwords, notifier);
  window.show();
  const std::vector<const char*> fields{"oldPasswordEdit", "newPasswordEdit", "confirmPasswordEdit"};
  for (const char* field : fields) TypeInto(&window, field, "secret");
  auto displayed = [&] {
    std::vector<QString> texts;
    for (const char* field : fields) texts.push_back(Child<QLineEdit>(&window, field)->displayText());
    return texts;
  };
  const QString masked = kBlackCircle.repeated(6);
  EXPECT_EQ(displayed(), (std::vector<QString>{masked, masked, masked}));

  QTest::mouseClick(Child<QCheckBox>(&window, "newShowBox"), Qt::LeftButton);
  EXPECT_EQ(displayed(), (std::vector<QString>{masked, "secret", masked}));

  QTest::mouseClick(Child<QCheckBox>(&window, "newShowBox"), Qt::LeftButton);
  EXPECT_EQ(displayed(), (std::vector<QString>{masked, masked, masked}));
  EXPECT_EQ(Child<QLineEdit>(&window, "newPasswordEdit")->text(), "secret");
}

TEST(ChangePasswordWindowTest, CancelAndEscapeLeaveTheStoreAlone) {
  const std::vector<std::pair<const char*, std::function<void(loginpasswd*)>>> ways{
      {"Cancle", [](loginpasswd* window) { Press(window, "cancelButton"); }},
      {"Escape", [](loginpasswd* window) { QTest::keyClick(window, Qt::Key_Escape); }},
  };
  for (const auto& [way, leave] : ways) {
    SCOPED_TRACE(way);
    TempSettings settings;
    PasswordStore passwords(settings.Path());
    RecordingNotifier notifier;
    loginpasswd window(passwords, notifier);
    window.show();
    TypeInto(&window, "oldPasswordEdit", "Tulip@KVX");
    TypeInto(&window, "newPasswordEdit", "abcdef");
    TypeInto(&window, "confirmPasswordEdit", "abcdef");
    EXPECT_EQ(Child<QPushButton>(&window, "cancelButton")->text(), "Cancle");
    leave(&window);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(notifier.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(settings.Path()));
  }
}

using testing::FileSizeLimit;

class ChangePasswordFailureTest : public ::testing::Test {
 protected:
  void Modify(const char* oldPassword, const char* newPassword) {
    window_.show();
    TypeInto(&window_, "oldPasswordEdit", oldPassword);
    TypeInto(&window_, "newPasswordEdit", newPassword);
    TypeInto(&window_, "confirmPasswordEdit", newPassword);
    Press(&window_, "modifyButton");
  }

  TempSettings settings_;
  PasswordStore passwords_{settings_.Path()};
  RecordingNotifier notifier_;
  loginpasswd window_{passwords_, notifier_};
};

// The new password is written but reads back trimmed, and the old password's
// bigger file no longer fits: the window must not claim the old one works.
TEST_F(ChangePasswordFailureTest, NeitherPasswordInForceIsSaidSo) {
  ASSERT_TRUE(passwords_.WriteStoredPassword("Secret#1234567"));  // a file of 31 bytes
  {
    FileSizeLimit limit(25);  // " abcde" makes one of 23
    Modify("Secret#1234567", " abcde");
  }
  const std::string reason =
      "The settings file " + settings_.Path().string() + " could not be written: File too large.";
  EXPECT_EQ(notifier_.messages, (std::vector<std::string>{std::string(kNoneInForce) + "\n\n" + reason}));
  EXPECT_TRUE(window_.isVisible());
  EXPECT_FALSE(passwords_.MatchesLoginPassword("Secret#1234567"));
  EXPECT_FALSE(passwords_.MatchesLoginPassword(" abcde"));
}

// Anything but a regular file in the shared folder is refused; the operator
// hears why instead of being told the old password was wrong.
TEST_F(ChangePasswordFailureTest, RefusedSettingsFileIsNamedInsteadOfAMismatch) {
  ASSERT_EQ(::mkfifo(settings_.Path().c_str(), 0660), 0);
  Modify("Tulip@KVX", "abcdef");
  EXPECT_EQ(notifier_.messages,
            (std::vector<std::string>{"The settings file " + settings_.Path().string() +
                                      " is not a regular file; it was neither read nor written. "
                                      "Remove it or replace it with a regular file."}));
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(std::filesystem::is_fifo(settings_.Path()));
}

}  // namespace
}  // namespace marindo
