#include "app/WaitPainter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QInputEvent>
#include <QWindow>

namespace marindo {
namespace {

// Input the operator gave, as the window system delivers it.
bool IsOperatorInput(const QEvent* event) {
  if (!event->spontaneous()) return false;
  return event->type() == QEvent::Close || dynamic_cast<const QInputEvent*>(event) != nullptr;
}

}  // namespace

WaitPainter::WaitPainter(QWidget* window) : QObject(window), window_(window) {
  if (QCoreApplication* application = QCoreApplication::instance()) application->installEventFilter(this);
}

WaitPainter::~WaitPainter() {
  if (QCoreApplication* application = QCoreApplication::instance()) application->removeEventFilter(this);
}

void WaitPainter::PaintPending() {
  holding_ = true;
  QCoreApplication::processEvents();
  holding_ = false;
}

// The window system hands input to the window first, then to the widget.
bool WaitPainter::IsForTheWindow(QObject* watched) const {
  if (window_ == nullptr) return false;
  if (watched->isWidgetType()) return OpenedByTheWindow(static_cast<QWidget*>(watched));
  if (watched->isWindowType()) {
    for (QWidget* topLevel : QApplication::topLevelWidgets()) {
      if (topLevel->windowHandle() == watched) return OpenedByTheWindow(topLevel);
    }
  }
  return false;
}

// A modal window that comes up during the wait (a message) takes input; a
// window the main window keeps open beside it (the site view) waits.
bool WaitPainter::OpenedByTheWindow(const QWidget* widget) const {
  if (widget->window() != window_.data() && widget->window()->isModal()) return false;
  for (const QWidget* above = widget; above != nullptr; above = above->parentWidget()) {
    if (above == window_) return true;
  }
  return false;
}

bool WaitPainter::eventFilter(QObject* watched, QEvent* event) {
  if (holding_ && IsOperatorInput(event) && IsForTheWindow(watched)) {
    event->ignore();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace marindo
