#include "gui/device_worker.h"

#include <QMetaObject>

DeviceWorker::DeviceWorker() : thread_([this] { loop(); }) {}

DeviceWorker::~DeviceWorker() {
  stop();
}

void DeviceWorker::run(std::function<void()> job, std::function<void()> done) {
  {
    std::lock_guard lock(mutex_);
    job_ = std::move(job);
    done_ = std::move(done);
  }
  wake_.notify_one();
}

void DeviceWorker::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void DeviceWorker::loop() {
  for (;;) {
    std::function<void()> job;
    std::function<void()> done;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || job_; });
      if (stopping_) return;
      job = std::move(job_);
      done = std::move(done_);
      job_ = nullptr;
      done_ = nullptr;
    }
    job();
    // What the job wrote reaches the window's thread through our own mutex: Qt's event queue
    // locks inside the Qt libraries, where ThreadSanitizer cannot see the hand-over.
    {
      std::lock_guard lock(mutex_);
      finished_ = std::move(done);
    }
    // Queued to the window's thread by name, so that the queued call is made inside Qt and
    // nothing of ours is written here and read there outside the mutex; Qt drops the call if
    // the worker is gone by then.
    QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
  }
}

void DeviceWorker::deliver() {
  std::function<void()> done;
  {
    std::lock_guard lock(mutex_);
    done = std::move(finished_);
    finished_ = nullptr;
  }
  if (done) done();
}
