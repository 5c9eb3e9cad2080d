#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

// Some calls into a sound system wait on its server without any time-out of their own: a frozen
// server (stopped, or swapped out) keeps them waiting for minutes. Such a call runs on a thread
// of its own while the caller waits for at most `limit`, calling `whileWaiting` (if set) every
// `slice` so a window stays painted. A call that did not return in time is left to its thread,
// which owns everything the call captured by value; whatever it points to must outlive it.
// When the system cannot give a thread (too many, no memory), the call is not made at all: the
// caller hears so and goes on.
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

template <typename Result, typename Call>
BoundedResult<Result> callWithin(std::chrono::milliseconds limit, Call call,
                                 const std::function<void()>& whileWaiting = {},
                                 std::chrono::milliseconds slice = std::chrono::milliseconds(100)) {
  struct Pending {
    std::mutex mutex;
    std::condition_variable finished;
    std::optional<Result> result;
  };
  auto pending = std::make_shared<Pending>();
  try {
    std::thread([pending, call = std::move(call)]() mutable {
      Result r = call();
      const std::lock_guard lock(pending->mutex);
      pending->result = std::move(r);
      pending->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {BoundedOutcome::kRefused, std::nullopt};
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(pending->mutex);
  while (!pending->result) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return {BoundedOutcome::kNoAnswer, std::nullopt};
    pending->finished.wait_for(
        lock, std::min<std::chrono::steady_clock::duration>(deadline - now, slice));
    if (!pending->result && whileWaiting) {
      lock.unlock();
      whileWaiting();
      lock.lock();
    }
  }
  return {BoundedOutcome::kReturned, pending->result};
}
