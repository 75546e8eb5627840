#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace marindo {

// Keeps a window painting while an exchange waits on its thread. The
// operator's clicks, keys and close requests for that window that come
// meanwhile are dropped, not kept to act later on a window that has moved on.
// Other windows (a message box that something pending brings up) take their
// input as usual.
class WaitPainter : public QObject {
 public:
  // Holds input off `window`, and the windows it opened, during each
  // PaintPending; watches every event of the application from now on.
  explicit WaitPainter(QWidget* window);
  ~WaitPainter() override;
  WaitPainter(const WaitPainter&) = delete;
  WaitPainter& operator=(const WaitPainter&) = delete;

  // Handles what is pending (painting, timers) without the operator's input.
  void PaintPending();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool IsForTheWindow(QObject* watched) const;
  bool OpenedByTheWindow(const QWidget* widget) const;

  QPointer<QWidget> window_;
  bool holding_ = false;
};

}  // namespace marindo
