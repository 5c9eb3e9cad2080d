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

// Tells the processor that this thread spins on a value another thread will change.
inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Which thread runs a share of a task.
enum class ThreadSide { kCaller, kWorker };

class CorrelationWorker {
 public:
  // noexcept: a throw on the worker would end the program, and on the caller would leave the
  // worker inside a task whose context is gone.
  using Task = void (*)(void* context, ThreadSide side) noexcept;

  CorrelationWorker();   // starts the thread; throws std::system_error when none can be made
  ~CorrelationWorker();  // stops and joins it
  CorrelationWorker(const CorrelationWorker&) = delete;
  CorrelationWorker& operator=(const CorrelationWorker&) = delete;

  // Runs task(context, kCaller) on the calling thread and, when the worker is free,
  // task(context, kWorker) on the worker at the same time; returns once neither thread is inside
  // it. Copies of the settings share a worker: a second caller while it is busy runs the task
  // alone.
  void share(Task task, void* context);

 private:
  void run();

  std::atomic<uint32_t> state_;
  std::atomic_flag inUse_;
  Task task_ = nullptr;
  void* context_ = nullptr;
  std::thread thread_;  // last: started once everything it reads is set up
};

// Hands out ranges that cover [0, count) exactly once: the calling thread takes them from the
// front, the worker from the back, so each keeps to its own end of the data call after call (the
// lines it writes stay in its cache). Shared, each claim takes half of what is left, rounded up
// to a multiple of `step` and at most `largest`: the two meet in pieces of one step and neither
// waits long for the other, and few pieces mean few digit windows packed twice (a quarter gave
// the default plan eleven tiles instead of seven, and 1 µs more). Alone, every range is `largest`
// long. count < 2^32.
class RangeCounter {
 public:
  enum class Sizing { kAlone, kShared };
  RangeCounter(size_t count, size_t step, size_t largest, Sizing sizing)
      : step_(step),
        largest_(largest),
        shared_(sizing == Sizing::kShared),
        ends_(uint64_t{count} << 32) {}

  bool claim(ThreadSide side, size_t& first, size_t& last) {
    uint64_t ends = ends_.load(std::memory_order_relaxed);
    for (;;) {
      const uint64_t front = ends & 0xFFFFFFFF, back = ends >> 32;
      if (front >= back) return false;
      const uint64_t size = std::min<uint64_t>(sizeFor(back - front), back - front);
      const bool fromBack = side == ThreadSide::kWorker;
      const uint64_t next =
          fromBack ? ((back - size) << 32) | front : (back << 32) | (front + size);
      if (ends_.compare_exchange_weak(ends, next, std::memory_order_relaxed)) {
        first = static_cast<size_t>(fromBack ? back - size : front);
        last = static_cast<size_t>(fromBack ? back : front + size);
        return true;
      }
    }
  }

 private:
  uint64_t sizeFor(uint64_t left) const {
    if (!shared_) return largest_;
    const uint64_t half = (left / 2 + step_ - 1) / step_ * step_;
    return std::clamp<uint64_t>(half, step_, largest_);
  }

  const uint64_t step_, largest_;
  const bool shared_;
  std::atomic<uint64_t> ends_;  // next front entry in the low half, one past the last in the high
};

// Runs task(kCaller) on the calling thread and, with a worker, task(kWorker) on the worker too.
// Whatever the task does it must divide through a shared RangeCounter, since it may run once or
// twice.
template <typename Task>
void runOnBoth(CorrelationWorker* worker, Task& task) {
  if (worker == nullptr) {
    task(ThreadSide::kCaller);
    return;
  }
  worker->share(
      [](void* context, ThreadSide side) noexcept { (*static_cast<Task*>(context))(side); }, &task);
}

// Calls part(first, last) for ranges that cover [0, count) once, shared between the two threads
// in pieces of at least `grain` entries; below two pieces on the calling thread alone.
template <typename Part>
void forEachRange(CorrelationWorker* worker, size_t count, size_t grain, Part&& part) {
  if (count < 2 * grain) worker = nullptr;
  RangeCounter ranges(
      count, grain, worker != nullptr ? count : std::max<size_t>(count, 1),
      worker != nullptr ? RangeCounter::Sizing::kShared : RangeCounter::Sizing::kAlone);
  auto task = [&](ThreadSide side) {
    for (size_t first = 0, last = 0; ranges.claim(side, first, last);) part(first, last);
  };
  runOnBoth(worker, task);
}

// a = max(a, value), for results that both threads contribute to.
template <typename T>
void raiseTo(std::atomic<T>& a, T value) {
  T seen = a.load(std::memory_order_relaxed);
  while (value > seen && !a.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

// A worker for a plan whose correlation gains from a second thread, or null where it would not
// (one processor, or no thread to be had).
std::shared_ptr<CorrelationWorker> makeCorrelationWorker();
