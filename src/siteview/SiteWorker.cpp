#include "siteview/SiteWorker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include "platform/ThreadPriority.h"

namespace marindo {

SiteWorker::SiteWorker(QObject* parent) : QObject(parent) {}

SiteWorker::~SiteWorker() {
  stop_ = true;
  Join();
}

bool SiteWorker::Start(std::function<void()> task, std::function<void()> done) {
  if (busy_) return false;
  Join();
  stop_ = false;
  busy_ = true;
  emit BusyChanged(true);
  thread_ = std::thread([this, task = std::move(task), done = std::move(done)]() mutable {
    // The engine's threads, started from here, inherit it.
    LowerThisThreadPriority();
    task();
    // Queued behind everything the task posted.
    Post([this, done = std::move(done)] {
      Join();
      busy_ = false;
      if (done) done();
      // `done` may have started the next task.
      if (!busy_) emit BusyChanged(false);
    });
  });
  return true;
}

void SiteWorker::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void SiteWorker::Finish() {
  while (busy_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::ExcludeUserInputEvents);
}

void SiteWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace marindo
