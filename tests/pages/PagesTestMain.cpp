// main() of the page tests: one QApplication on the offscreen platform (unless
// the caller chose another, e.g. to look at a page under Xvfb) around
// GoogleTest.

#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
