#pragma once
#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The program's one measuring thread: it takes the device waits of a ping (warm-up, played and
// recorded buffers, about 150 ms of every ping) off the window's thread. A job's `done` comes
// back through the event loop of the window's thread, so the result is stored and drawn there.
// One job at a time: the window holds back whatever would need the devices until `done` ran.
// Made on the window's thread, whose event loop then runs the `done` calls.
class DeviceWorker : public QObject {
  Q_OBJECT

 public:
  DeviceWorker();
  ~DeviceWorker() override;
  DeviceWorker(const DeviceWorker&) = delete;
  DeviceWorker& operator=(const DeviceWorker&) = delete;

  void run(std::function<void()> job, std::function<void()> done);
  // Waits for the job in hand and ends the thread; its `done` is dropped.
  void stop();

 private:
  void loop();
  // On the window's thread: the `done` of the job that ended.
  Q_INVOKABLE void deliver();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::function<void()> job_;
  std::function<void()> done_;
  std::function<void()> finished_;  // the ended job's `done`, until the window's thread takes it
  bool stopping_ = false;
  std::thread thread_;
};
