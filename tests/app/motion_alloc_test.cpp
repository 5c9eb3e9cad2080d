#include <gtest/gtest.h>

#include <atomic>

#include "app/scan_cycle.h"
#include "app/tracking.h"
#include "tests/app/app_fixture.h"
#include "tests/app/counting_new.h"

// The change view and the tracker run on every stored ping: neither may allocate there. Every
// allocation through new in this binary is counted.

namespace {

std::atomic<uint64_t> allocations{0};

}  // namespace

void noteAllocation() {
  allocations.fetch_add(1, std::memory_order_relaxed);
}

namespace {

template <typename Step>
uint64_t allocationsIn(Step step) {
  const uint64_t before = allocations.load(std::memory_order_relaxed);
  step();
  return allocations.load(std::memory_order_relaxed) - before;
}

// A breathing person at the desk, the change view on and one echo followed: the pings measure
// on the room, and the change view, the tracker and the change view's drawing are counted on
// what each ping stored: the still room learned afresh, the echo found and followed.
TEST(MotionAllocations, TheChangeViewAndTheTrackerAllocateNothingPerPing) {
  SimRoom room;
  ASSERT_EQ(parseSimRoom("preset=desk,person=1.2", room), "");
  Program program;
  program.backend = makeRoom(room);
  FakeShell shell;
  PlotSurface surface{kPlotClientWidth, kPlotClientHeight};
  App app{program, shell, surface};
  startApplication(app);
  program.settings.clockMultiplier = 0;
  program.changeView.on = true;
  startTracking(program.tracking, 1.2);  // its buffers are made here, once
  dispatchCommand(app, CommandId::kStartSonar);

  uint64_t inChangeView = 0, inTracker = 0, inDrawing = 0;
  for (int n = 0; n < 120; ++n) {
    if (program.scan.scanState != kRunning) dispatchCommand(app, CommandId::kStartSonar);
    program.tracking.on = false;  // fed below, where it is counted
    ASSERT_EQ(timerTick(app), TickOutcome::kPinged);
    program.tracking.on = true;
    const DirectArrival arrival{program.scan.scanOffsets.forScan(program.scan.latestScan), true};
    const double seconds = static_cast<double>(program.backend->clockMs()) / 1000.0;
    inChangeView += allocationsIn(
        [&] { observeChangeMeasurement(program.changeView, program.settings, arrival, seconds); });
    inTracker += allocationsIn(
        [&] { trackMeasurement(program.tracking, program.settings, arrival, seconds); });
    inDrawing += allocationsIn([&] { paintPlot(app); });
  }
  std::printf(
      "allocations in 120 pings: change view %llu, tracker %llu, drawing %llu; track "
      "points %zu\n",
      static_cast<unsigned long long>(inChangeView), static_cast<unsigned long long>(inTracker),
      static_cast<unsigned long long>(inDrawing), program.tracking.count);
  EXPECT_EQ(inChangeView, 0u);
  EXPECT_EQ(inTracker, 0u);
  // The drawing's text (the status strip) goes through Qt and allocates as it always did; the
  // change view's column itself is drawn pixel by pixel. Told, not asserted.
  EXPECT_EQ(program.tracking.count, 120u);
  EXPECT_EQ(trackRow(program.tracking, 119).state, TrackState::kTracking);
}

}  // namespace
