#include "engine/correlation_worker.h"

#include <chrono>

namespace {

// kIdle: nothing posted; kPosted: a task waits for the worker; kRunning: the worker is in it;
// kDone: the worker has left it and the caller has not yet seen so; kStop: the thread is to end.
enum : uint32_t { kIdle, kPosted, kRunning, kDone, kStop };

// How long either side spins before it sleeps. Back-to-back correlations (a benchmark, the offset
// search) come within a few microseconds of each other; timed pings come 50 ms or more apart,
// where the worker sleeps and the caller starts alone. Not longer: between the FFT's passes the
// spinning worker would hold a core that FFTW's own threads are waiting for.
constexpr auto kSpinTime = std::chrono::microseconds(20);

// Returns the state once it is none of `a`, `b`: spinning first, then sleeping on the futex.
uint32_t awaitStateOtherThan(std::atomic<uint32_t>& state, uint32_t a, uint32_t b) {
  const auto until = std::chrono::steady_clock::now() + kSpinTime;
  for (int k = 1;; ++k) {
    const uint32_t s = state.load(std::memory_order_acquire);
    if (s != a && s != b) return s;
    cpuRelax();
    if (k % 64 == 0 && std::chrono::steady_clock::now() > until) break;
  }
  for (;;) {
    const uint32_t s = state.load(std::memory_order_acquire);
    if (s != a && s != b) return s;
    state.wait(s, std::memory_order_acquire);
  }
}

}  // namespace

CorrelationWorker::CorrelationWorker() : state_(kIdle), thread_([this] { run(); }) {}

CorrelationWorker::~CorrelationWorker() {
  // Nobody is inside share(): the last settings record holding this worker is going away.
  state_.store(kStop, std::memory_order_release);
  state_.notify_all();
  thread_.join();
}

void CorrelationWorker::run() {
  for (;;) {
    uint32_t s = awaitStateOtherThan(state_, kIdle, kDone);
    if (s == kStop) return;
    // The caller may take the task back at any moment before this succeeds.
    if (!state_.compare_exchange_strong(s, kRunning, std::memory_order_acquire)) continue;
    task_(context_, ThreadSide::kWorker);
    state_.store(kDone, std::memory_order_release);
    state_.notify_all();
  }
}

void CorrelationWorker::share(Task task, void* context) {
  if (inUse_.test_and_set(std::memory_order_acquire)) {
    task(context, ThreadSide::kCaller);
    return;
  }
  task_ = task;
  context_ = context;
  state_.store(kPosted, std::memory_order_release);
  state_.notify_all();
  task(context, ThreadSide::kCaller);
  uint32_t expected = kPosted;
  if (!state_.compare_exchange_strong(expected, kIdle, std::memory_order_acq_rel)) {
    awaitStateOtherThan(state_, kRunning, kRunning);
    state_.store(kIdle, std::memory_order_relaxed);
  }
  inUse_.clear(std::memory_order_release);
}

std::shared_ptr<CorrelationWorker> makeCorrelationWorker() {
  if (std::thread::hardware_concurrency() < 2) return nullptr;
  try {
    return std::make_shared<CorrelationWorker>();
  } catch (const std::exception&) {  // no thread (std::system_error) or no memory
    return nullptr;
  }
}
