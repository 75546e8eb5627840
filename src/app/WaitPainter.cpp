#include "app/WaitPainter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QInputEvent>

namespace marindo {
namespace {

// Input the operator gave, as the window system delivers it.
bool IsOperatorInput(const QEvent* event) {
  if (!event->spontaneous()) return false;
  return event->type() == QEvent::Close || dynamic_cast<const QInputEvent*>(event) != nullptr;
}

}  // namespace

WaitPainter::WaitPainter(QObject* parent) : QObject(parent) {
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

bool WaitPainter::eventFilter(QObject* watched, QEvent* event) {
  if (holding_ && IsOperatorInput(event)) {
    event->ignore();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace marindo
