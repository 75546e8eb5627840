// The program itself, with a guide at the keyboard: runs marindo's own
// start-up and, from timers on the same thread, logs in, searches, clicks
// clocks and visits every tab the way an operator would, taking a screenshot
// of the screen (ImageMagick's import) at each step. Used by scripts/demo.sh
// on machines without a display, under Xvfb and inside the test LAN.

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>

#include "app/CMarindoApp.h"

namespace {

QString g_outputFolder;

void Settle(int milliseconds = 300) {
  QTest::qWait(milliseconds);
  QApplication::processEvents();
}

void Screenshot(const QString& name) {
  Settle();
  const QString path = g_outputFolder + "/" + name + ".png";
  const std::string command = "import -window root '" + path.toStdString() + "'";
  if (std::system(command.c_str()) == 0) std::printf("screenshot: %s\n", path.toLocal8Bit().constData());
  std::fflush(stdout);
}

template <typename T>
T* FindTopLevel(const char* className) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->inherits(className)) return qobject_cast<T*>(widget);
  }
  return nullptr;
}

QAbstractButton* ButtonWithText(QWidget* window, const QString& text) {
  for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
    if (button->text() == text) return button;
  }
  return nullptr;
}

// Runs `step` once `ready` holds, checking every 100 ms.
void When(std::function<bool()> ready, std::function<void()> step) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, ready, step] {
    if (!ready()) return;
    timer->stop();
    timer->deleteLater();
    step();
  });
  timer->start(100);
}

void ClickClock(QWidget* window, const QString& serial) {
  auto* tree = window->findChild<QTreeWidget*>("clockTree");
  const QTreeWidgetItem* root = tree->topLevelItem(0);
  for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
    QTreeWidgetItem* item = root->child(i);
    if (!item->text(0).contains(serial)) continue;
    const QRect rect = tree->visualItemRect(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    return;
  }
  std::printf("tour: no clock %s in the tree\n", serial.toLocal8Bit().constData());
}

void ClickTab(QWidget* window, int index) {
  auto* tabs = window->findChild<QTabWidget*>("pageTabs");
  QTabBar* bar = tabs->tabBar();
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
}

void TourMainWindow(QWidget* window) {
  Screenshot("2-main-window");
  QTest::mouseClick(window->findChild<QAbstractButton*>("searchButton"), Qt::LeftButton);
  Screenshot("3-search");
  ClickClock(window, "LOBBY01");
  Screenshot("4-basic");
  ClickTab(window, 1);
  ClickClock(window, "HALL0005");
  Screenshot("5-ntp");
  ClickTab(window, 2);
  ClickClock(window, "LOBBY01");
  Screenshot("6-other");
  ClickTab(window, 3);
  ClickClock(window, "SCHOOL02");
  Screenshot("7-bells");
  ClickTab(window, 4);
  ClickClock(window, "HALL0005");
  Screenshot("8-system");
  ClickTab(window, 5);
  ClickClock(window, "HALL0005");
  Screenshot("9-log");
  window->close();
}

void LogIn() {
  QWidget* login = QApplication::activeModalWidget();
  Screenshot("1-login");
  for (QLineEdit* field : login->findChildren<QLineEdit*>()) {
    if (field->echoMode() == QLineEdit::Password) field->setText("Tulip@KVX");
  }
  QAbstractButton* button = ButtonWithText(login, "Login");
  When([] { return FindTopLevel<QWidget>("marindo::CMarindoDlg") != nullptr; },
       [] { TourMainWindow(FindTopLevel<QWidget>("marindo::CMarindoDlg")); });
  QTest::mouseClick(button, Qt::LeftButton);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  g_outputFolder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  When([] { return QApplication::activeModalWidget() != nullptr; }, LogIn);
  return marindo::RunMarindo();
}
