#pragma once

#include <QObject>

namespace marindo {

// Keeps the windows painting while an exchange waits on their own thread.
// The operator's clicks, keys and close requests that come meanwhile are
// dropped, not kept to act later on a window that has moved on.
class WaitPainter : public QObject {
 public:
  // Watches every event of the application from now on.
  explicit WaitPainter(QObject* parent = nullptr);
  ~WaitPainter() override;
  WaitPainter(const WaitPainter&) = delete;
  WaitPainter& operator=(const WaitPainter&) = delete;

  // Handles what is pending (painting, timers) without the operator's input.
  void PaintPending();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool holding_ = false;
};

}  // namespace marindo
