#pragma once
// A second thread for the correlation's independent parts (lags of the direct sums, ranges of the
// FFT's element-wise passes), made with a buffer plan and kept until the plan is replaced, so that
// a ping never creates a thread. Internal to the engine.
//
// The calling thread always works itself: it posts the task, runs it, and then either takes the
// task back (the worker had not woken up yet) or waits for the worker to finish its part. Both
// sides spin briefly before they sleep on a futex (std::atomic::wait), so back-to-back calls cost
// no system call and a worker that sleeps through a short call costs the caller nothing.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

// Which thread runs a share of a task.
enum class ThreadSide { kCaller, kWorker };

class CorrelationWorker {
 public:
  using Task = void (*)(void* context, ThreadSide side);

  CorrelationWorker();   // starts the thread; throws std::system_error when none can be made
  ~CorrelationWorker();  // stops and joins it
  CorrelationWorker(const CorrelationWorker&) = delete;
  CorrelationWorker& operator=(const CorrelationWorker&) = delete;

  // Runs task(context, kCaller) on the calling thread and, when the worker is free,
  // task(context, kWorker) on the worker at the same time; returns once neither thread is inside
  // it. Copies of the settings share a worker: a second caller while it is busy runs the task
  // alone. The task must not throw.
  void share(Task task, void* context);

 private:
  void run();

  std::atomic<uint32_t> state_;
  std::atomic_flag inUse_;
  Task task_ = nullptr;
  void* context_ = nullptr;
  std::thread thread_;  // last: started once everything it reads is set up
};

// Hands out the numbers 0 .. parts - 1, each exactly once: the calling thread takes them from the
// front, the worker from the back, until the two meet. Each thread so keeps working on the same
// end of the data call after call, and the lines it writes stay in its own cache.
class PartCounter {
 public:
  explicit PartCounter(size_t parts) : ends_(uint64_t{parts} << 32) {}
  bool claim(size_t& part, ThreadSide side) {
    const bool fromBack = side == ThreadSide::kWorker;
    uint64_t ends = ends_.load(std::memory_order_relaxed);
    for (;;) {
      const uint64_t front = ends & 0xFFFFFFFF, back = ends >> 32;
      if (front >= back) return false;
      const uint64_t next = fromBack ? ((back - 1) << 32) | front : (back << 32) | (front + 1);
      if (ends_.compare_exchange_weak(ends, next, std::memory_order_relaxed)) {
        part = static_cast<size_t>(fromBack ? back - 1 : front);
        return true;
      }
    }
  }

 private:
  std::atomic<uint64_t> ends_;  // next front part in the low half, one past the last in the high
};

// Runs task(kCaller) on the calling thread and, with a worker, task(kWorker) on the worker too.
// Whatever the task does it must divide through shared counters (PartCounter), since it may run
// once or twice.
template <typename Task>
void runOnBoth(CorrelationWorker* worker, Task& task) {
  if (worker == nullptr) {
    task(ThreadSide::kCaller);
    return;
  }
  worker->share([](void* context, ThreadSide side) { (*static_cast<Task*>(context))(side); },
                &task);
}

// Calls part(first, last) for consecutive ranges that cover [0, count) once, in pieces of `grain`
// entries shared between the two threads; below two pieces on the calling thread alone.
template <typename Part>
void forEachRange(CorrelationWorker* worker, size_t count, size_t grain, Part&& part) {
  const size_t pieces = (count + grain - 1) / grain;
  if (pieces < 2) worker = nullptr;
  PartCounter counter(pieces);
  auto task = [&](ThreadSide side) {
    for (size_t k = 0; counter.claim(k, side);) part(k * grain, std::min(count, (k + 1) * grain));
  };
  runOnBoth(worker, task);
}

// A worker for a plan whose correlation gains from a second thread, or null where it would not
// (one processor, or no thread to be had).
std::shared_ptr<CorrelationWorker> makeCorrelationWorker();
