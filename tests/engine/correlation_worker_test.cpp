// The second correlation thread: every part runs exactly once whoever takes it, the worker really
// works alongside the caller, it sleeps and wakes, and plans come and go without leaving threads.
#include "engine/correlation_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <type_traits>
#include <vector>

#include "engine/buffer_plan.h"
#include "engine/correlation.h"
#include "engine/sonar_settings.h"

namespace {

// Threads of this process, as the kernel lists them.
size_t threadCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/self/task")) {
    ++n;
  }
  return n;
}

// A worker, or null where none is made by design (one processor): the caller skips then. With
// two processors or more, a missing worker is a failure.
std::shared_ptr<CorrelationWorker> workerOrSkip() {
  auto worker = makeCorrelationWorker();
  if (worker == nullptr && std::thread::hardware_concurrency() >= 2) {
    ADD_FAILURE() << "no worker on " << std::thread::hardware_concurrency() << " processors";
  }
  return worker;
}

// A task that throws would end the program on the worker; the type says it cannot.
static_assert(std::is_nothrow_invocable_v<CorrelationWorker::Task, void*, ThreadSide>);

// Counts how often each entry of [0, count) was handed out.
std::vector<int> coverage(CorrelationWorker* worker, size_t count, size_t grain) {
  std::vector<std::atomic<int>> seen(count);
  forEachRange(worker, count, grain, [&](size_t first, size_t last) {
    EXPECT_LT(first, last);
    EXPECT_LE(last, count);
    for (size_t k = first; k < last; ++k) seen[k].fetch_add(1);
  });
  std::vector<int> times(count);
  for (size_t k = 0; k < count; ++k) times[k] = seen[k].load();
  return times;
}

TEST(CorrelationWorker, EveryEntryExactlyOnceWhateverTheCount) {
  const auto worker = workerOrSkip();
  if (worker == nullptr) GTEST_SKIP() << "one processor: no second thread to test";
  for (size_t count : {0, 1, 2, 63, 64, 65, 127, 1000, 4097}) {
    for (int round = 0; round < 20; ++round) {
      const std::vector<int> times = coverage(worker.get(), count, 64);
      for (size_t k = 0; k < count; ++k) ASSERT_EQ(times[k], 1) << count << " entry " << k;
    }
  }
}

// The caller holds its first part until the worker has taken one: it can only return when both
// threads worked at once.
TEST(CorrelationWorker, WorksAlongsideTheCaller) {
  const auto worker = workerOrSkip();
  if (worker == nullptr) GTEST_SKIP() << "one processor: no second thread to test";
  for (int round = 0; round < 3; ++round) {
    std::atomic<bool> workerIn{false};
    std::atomic<int> parts{0};
    RangeCounter ranges(64, 1, 1, RangeCounter::Sizing::kShared);
    auto task = [&](ThreadSide side) {
      for (size_t first = 0, last = 0; ranges.claim(side, first, last);) {
        parts.fetch_add(1);
        if (side == ThreadSide::kWorker) workerIn = true;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (side == ThreadSide::kCaller && !workerIn &&
               std::chrono::steady_clock::now() < until) {
          std::this_thread::yield();
        }
      }
    };
    runOnBoth(worker.get(), task);
    EXPECT_TRUE(workerIn);
    EXPECT_EQ(parts.load(), 64);
    // Long enough for the worker to stop spinning and sleep: the next call must wake it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Two threads sharing one worker (copies of the settings): the second runs its task alone.
TEST(CorrelationWorker, SecondCallerAtOnceRunsAlone) {
  const auto worker = workerOrSkip();
  if (worker == nullptr) GTEST_SKIP() << "one processor: no second thread to test";
  std::vector<std::thread> callers;
  std::vector<int> bad(4, 0);
  for (int c = 0; c < 4; ++c) {
    callers.emplace_back([&, c] {
      for (int round = 0; round < 200; ++round) {
        const std::vector<int> times = coverage(worker.get(), 3000, 50);
        bad[c] += static_cast<int>(
            std::count_if(times.begin(), times.end(), [](int t) { return t != 1; }));
      }
    });
  }
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(bad, std::vector<int>(4, 0));
}

SonarSettings plannedDefaults() {
  SonarSettings s;
  applyDefaultSettings(s);
  EXPECT_TRUE(planBuffers(s));
  return s;
}

TEST(CorrelationWorker, PlannedForLargePlansOnly) {
  SonarSettings s = plannedDefaults();
  EXPECT_EQ(s.correlationWorker != nullptr, std::thread::hardware_concurrency() > 1);
  s.chirpTime = 100;  // 8 taps: a few thousand products per ping
  ASSERT_TRUE(planBuffers(s));
  EXPECT_EQ(s.correlationWorker, nullptr);
  s.chirpTime = 2000;
  s.recordTime = 0;  // 348 taps over 600 lags: below the threshold
  ASSERT_TRUE(planBuffers(s));
  EXPECT_EQ(s.correlationWorker, nullptr);
}

// Each plan replaces the one before while its worker is idle; no thread outlives its plan, and a
// failed plan keeps the worker it had.
TEST(CorrelationWorker, ReplanningLeavesNoThreads) {
  const size_t before = threadCount();
  {
    SonarSettings s = plannedDefaults();
    const size_t withPlan = threadCount();
    EXPECT_LE(withPlan, before + 1);
    for (int k = 0; k < 60; ++k) {
      s.recordTime = 40 + k % 7;
      ASSERT_TRUE(planBuffers(s));
      correlateRecording(s, s.inBufferBytes + 1000);
    }
    EXPECT_EQ(threadCount(), withPlan);
    const auto* kept = s.correlationWorker.get();
    s.chirpTime = 4000000;
    EXPECT_FALSE(planBuffers(s));
    EXPECT_EQ(s.correlationWorker.get(), kept);
    // A copy keeps the worker alive after the original's plan is gone.
    SonarSettings copy = s;
    s = SonarSettings{};
    EXPECT_EQ(threadCount(), withPlan);
    correlateRecording(copy, copy.inBufferBytes + 1000);
  }
  EXPECT_EQ(threadCount(), before);
}

}  // namespace
