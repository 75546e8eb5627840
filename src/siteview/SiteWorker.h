#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include <QObject>

namespace marindo {

// Runs the site view's tasks, one at a time, on a thread of their own, so
// that the window keeps painting and answering input. What a task posts
// runs on the window's thread, in order, through its event loop.
class SiteWorker : public QObject {
  Q_OBJECT

 public:
  explicit SiteWorker(QObject* parent = nullptr);
  ~SiteWorker() override;

  bool Busy() const { return busy_; }
  // Runs `task` on the worker thread, then `done` on the window's thread
  // after everything the task posted. False while another task runs.
  bool Start(std::function<void()> task, std::function<void()> done);
  // Asks the task to start no further exchange; what is under way ends.
  void Stop() { stop_ = true; }
  const std::atomic<bool>& Stopping() const { return stop_; }
  // From the worker thread: runs `work` on the window's thread.
  void Post(std::function<void()> work);
  // Returns once the task under way has ended and `done` has run, keeping
  // the window's events going meanwhile.
  void Finish();

 signals:
  void BusyChanged(bool busy);

 private:
  void Join();

  std::thread thread_;
  std::atomic<bool> stop_{false};
  bool busy_ = false;
};

}  // namespace marindo
