// Calls into a sound system that may never answer: the caller waits a bounded time, and a call
// for which the system gives no thread is refused, never the end of the program.
#include "audio/bounded_call.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <string>

namespace {

using std::chrono::milliseconds;

TEST(BoundedCall, ReturnsInTimeOrLeavesTheCallToItsThread) {
  const BoundedResult<int> quick = callWithin<int>(milliseconds(2000), [] { return 7; });
  EXPECT_EQ(quick.outcome, BoundedOutcome::kReturned);
  EXPECT_EQ(quick.value, 7);

  // A call that hangs until released: the caller gives up on it, painting meanwhile. Fifty slices
  // of waiting, so that a few paints come even on a machine too busy to wake the caller on time.
  auto release = std::make_shared<std::atomic<bool>>(false);
  int paints = 0;
  const BoundedResult<int> hung = callWithin<int>(
      milliseconds(1000),
      [release] {
        while (!release->load()) std::this_thread::sleep_for(milliseconds(1));
        return 1;
      },
      [&paints] { ++paints; }, milliseconds(20));
  EXPECT_EQ(hung.outcome, BoundedOutcome::kNoAnswer);
  EXPECT_FALSE(hung.value.has_value());
  EXPECT_GE(paints, 3);
  release->store(true);
}

// A call that keeps computing is slowed down, not stuck: it is waited for beyond its limit (up
// to the busy limit), where one that waits on something that never comes is given up at its
// limit whatever the busy limit.
TEST(BoundedCall, ACallThatKeepsComputingIsWaitedFor) {
  const auto computing = [] {
    const clockid_t clock = [] {
      clockid_t c{};
      pthread_getcpuclockid(pthread_self(), &c);
      return c;
    }();
    volatile uint64_t sum = 0;
    while (threadCpuTime(clock).value_or(std::chrono::nanoseconds(0)) < milliseconds(300)) {
      for (int i = 0; i < 10000; ++i) sum = sum + static_cast<uint64_t>(i);
    }
    return 3;
  };
  // A limit of twenty slices: the first slice only reads where the call's processor time starts,
  // and on a busy machine the waiting thread itself wakes late.
  const BoundedResult<int> slow =
      callWithin<int>(milliseconds(400), computing, {}, milliseconds(20), milliseconds(600000));
  EXPECT_EQ(slow.outcome, BoundedOutcome::kReturned);
  EXPECT_EQ(slow.value, 3);

  // Blocked without computing, as on a server that does not answer: a read from an empty pipe.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const int readEnd = ends[0];
  const auto start = std::chrono::steady_clock::now();
  const BoundedResult<int> waiting = callWithin<int>(
      milliseconds(200),
      [readEnd] {
        char byte = 0;
        return static_cast<int>(read(readEnd, &byte, 1));
      },
      {}, milliseconds(20), milliseconds(600000));
  EXPECT_EQ(waiting.outcome, BoundedOutcome::kNoAnswer);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  ASSERT_EQ(write(ends[1], "x", 1), 1);
}

// The process's address space, in bytes, as the kernel counts it.
size_t addressSpaceBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmSize:", 0) == 0) return std::stoul(line.substr(7)) * 1024;
  }
  return 0;
}

// Exits with 0 when the call was refused and not made.
[[noreturn]] void callWithoutRoomForAThread() {
  const rlimit tight{addressSpaceBytes() + (1u << 20), RLIM_INFINITY};
  setrlimit(RLIMIT_AS, &tight);
  bool made = false;
  const BoundedResult<int> r = callWithin<int>(milliseconds(2000), [&made] {
    made = true;
    return 1;
  });
  std::exit(r.outcome == BoundedOutcome::kRefused && !made ? 0 : 1);
}

// With no room left for a thread's stack the thread cannot start: the call is refused and the
// program goes on. In a child process, since the limit cannot be lifted again safely.
TEST(BoundedCallDeathTest, NoThreadRefusesTheCallAndTheProgramGoesOn) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's shadow memory leaves no address space to limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  GTEST_SKIP() << "a sanitizer's shadow memory leaves no address space to limit";
#endif
#endif
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(callWithoutRoomForAThread(), testing::ExitedWithCode(0), "");
}

}  // namespace
