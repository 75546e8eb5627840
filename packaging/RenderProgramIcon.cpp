// Writes the program's window icon into the PNG folders of the hicolor icon
// theme, so that the desktop menu shows the very clock face the windows carry
// rather than a hand-made copy that could drift from it.
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdio>

#include "app/ProgramIcon.h"

namespace {

// The sizes the program draws; the theme takes the scalable SVG for the rest.
constexpr std::array kSizes{16, 32, 48, 64};

bool WriteIconFile(const QIcon& icon, int size, const QDir& themeRoot) {
  const QString folder = QStringLiteral("%1x%1/apps").arg(size);
  if (!themeRoot.mkpath(folder)) {
    return false;
  }
  const QPixmap pixmap = icon.pixmap(QSize(size, size));
  // A scaled or missing pixmap would put a blurred or empty icon into the menu.
  if (pixmap.size() != QSize(size, size)) {
    return false;
  }
  return pixmap.save(themeRoot.filePath(folder + QStringLiteral("/marindo.png")), "PNG");
}

}  // namespace

int main(int argc, char* argv[]) {
  QGuiApplication application(argc, argv);
  const QStringList arguments = QGuiApplication::arguments();
  if (arguments.size() != 2) {
    std::fprintf(stderr, "usage: %s HICOLOR_FOLDER\n", argc > 0 ? argv[0] : "marindo_render_icon");
    return 2;
  }
  const QDir themeRoot(arguments.at(1));
  const QIcon icon = marindo::ProgramIcon();
  for (const int size : kSizes) {
    if (!WriteIconFile(icon, size, themeRoot)) {
      std::fprintf(stderr, "marindo_render_icon: cannot write the %dx%d icon\n", size, size);
      return 1;
    }
  }
  return 0;
}
