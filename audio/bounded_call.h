#pragma once
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

// Some calls into a sound system wait on its server without any time-out of their own: a frozen
// server (stopped, or swapped out) keeps them waiting for minutes. Such a call runs on a thread
// of its own while the caller waits for at most `limit`, calling `whileWaiting` (if set) every
// `slice` so a window stays painted; a call that keeps using processor time (slowed by a busy
// machine, not waiting on a server) is waited for up to `busyLimit`. A call that did not return in
// time is left to its thread, which owns everything the call captured by value; whatever it points
// to must outlive it. When the system cannot give a thread (too many, no memory), the call is not
// made at all: the caller hears so and goes on.
enum class BoundedOutcome {
  kReturned,  // the call returned in time; `value` is its result
  kNoAnswer,  // it did not: it is left to its thread
  kRefused,   // no thread could be started, so the call was never made
};

template <typename Result>
struct BoundedResult {
  BoundedOutcome outcome = BoundedOutcome::kRefused;
  std::optional<Result> value;  // set only when the call returned
};

// The processor time a thread has used so far, or nullopt once it has ended.
inline std::optional<std::chrono::nanoseconds> threadCpuTime(clockid_t clock) {
  timespec t{};
  if (clock_gettime(clock, &t) != 0) return std::nullopt;
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

template <typename Result, typename Call>
BoundedResult<Result> callWithin(std::chrono::milliseconds limit, Call call,
                                 const std::function<void()>& whileWaiting = {},
                                 std::chrono::milliseconds slice = std::chrono::milliseconds(100),
                                 std::chrono::milliseconds busyLimit = {}) {
  struct Pending {
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<Result> result;
    std::optional<clockid_t> clock;
  };
  auto pending = std::make_shared<Pending>();
  try {
    std::thread([pending, call = std::move(call)]() mutable {
      clockid_t clock{};
      if (pthread_getcpuclockid(pthread_self(), &clock) == 0) {
        const std::lock_guard lock(pending->mutex);
        pending->clock = clock;
      }
      Result r = call();
      const std::lock_guard lock(pending->mutex);
      pending->result = std::move(r);
      pending->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {BoundedOutcome::kRefused, std::nullopt};
  }
  const auto start = std::chrono::steady_clock::now();
  const auto latest = start + std::max(limit, busyLimit);
  auto deadline = start + limit;
  std::optional<std::chrono::nanoseconds> used;
  std::unique_lock lock(pending->mutex);
  while (!pending->result) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return {BoundedOutcome::kNoAnswer, std::nullopt};
    pending->finished.wait_for(
        lock, std::min<std::chrono::steady_clock::duration>(deadline - now, slice));
    if (pending->result) break;
    // A call that keeps computing is slow, not stuck (a machine busy with other work): it gets
    // its limit again from now, up to busyLimit in all. One waiting on a server that does not
    // answer uses no processor time.
    if (pending->clock) {
      const std::optional<std::chrono::nanoseconds> nowUsed = threadCpuTime(*pending->clock);
      if (used && nowUsed && *nowUsed - *used >= std::chrono::nanoseconds(slice) / 40) {
        deadline = std::min(latest, std::chrono::steady_clock::now() + limit);
      }
      used = nowUsed;
    }
    if (whileWaiting) {
      lock.unlock();
      whileWaiting();
      lock.lock();
    }
  }
  return {BoundedOutcome::kReturned, pending->result};
}
