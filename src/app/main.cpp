#include <QApplication>

#include "app/CMarindoApp.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  return marindo::RunMarindo();
}
