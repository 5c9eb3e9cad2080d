#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <new>
#include <utility>

#include "app/scan_cycle.h"
#include "audio/measurement.h"
#include "tests/app/app_fixture.h"
#include "tests/app/counting_new.h"

// Ten thousand timed pings on the simulated room, through the program's events as the window
// sends them: ticks while the scan runs, the repaint each ping asks for, and a Start whenever a
// sweep is complete. After a warm-up, nothing may pile up: no streams, prepared headers or
// played sound in the device, no heap, and no allocation at all in a ping.

#ifdef MERVANE_COUNT_BY_HOOK
#include <sanitizer/allocator_interface.h>
#endif

namespace {

std::atomic<uint64_t> allocations{0};        // by the program
std::atomic<uint64_t> deviceAllocations{0};  // by the simulated device, apart
thread_local bool inDevice = false;

}  // namespace

void noteAllocation() {
  (inDevice ? deviceAllocations : allocations).fetch_add(1, std::memory_order_relaxed);
}

#ifdef MERVANE_COUNT_BY_HOOK
// ThreadSanitizer's runtime owns operator new and malloc; it tells its hooks of every
// allocation instead, malloc's included, so this count is the stricter one.
namespace {

void onMalloc(const volatile void*, std::size_t) {
  noteAllocation();
}
void onFree(const volatile void*) {}
[[maybe_unused]] const int hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);

// The heap in use as the sanitizer's allocator sees it (glibc's arena is not used).
size_t heapInUse() {
  return __sanitizer_get_current_allocated_bytes();
}

}  // namespace
#else
namespace {

size_t heapInUse() {
  return mallinfo2().uordblks;
}

}  // namespace
#endif

namespace {

// The simulated room stands in for a sound card: what it allocates is its own business, counted
// apart from the program's.
class CountedApart final : public AudioBackend {
 public:
  explicit CountedApart(std::unique_ptr<SimBackend> room) : room_(std::move(room)) {}
  SimBackend& room() { return *room_; }

  WaveError open(StreamDirection d, const WaveFormat& f, StreamHandle& h) override {
    return apart([&] { return room_->open(d, f, h); });
  }
  WaveError close(StreamHandle h) override {
    return apart([&] { return room_->close(h); });
  }
  WaveError prepare(StreamHandle h, WaveHeader& w) override {
    return apart([&] { return room_->prepare(h, w); });
  }
  WaveError unprepare(StreamHandle h, WaveHeader& w) override {
    return apart([&] { return room_->unprepare(h, w); });
  }
  WaveError addCaptureBuffer(StreamHandle h, WaveHeader& w) override {
    return apart([&] { return room_->addCaptureBuffer(h, w); });
  }
  WaveError startCapture(StreamHandle h) override {
    return apart([&] { return room_->startCapture(h); });
  }
  WaveError writePlayback(StreamHandle h, WaveHeader& w) override {
    return apart([&] { return room_->writePlayback(h, w); });
  }
  void waitForDone(uint32_t ms) override {
    apart([&] {
      room_->waitForDone(ms);
      return kWaveOk;
    });
  }
  std::string errorText(WaveError code) const override { return room_->errorText(code); }

 private:
  template <typename Call>
  static WaveError apart(Call call) {
    inDevice = true;
    const WaveError e = call();
    inDevice = false;
    return e;
  }
  std::unique_ptr<SimBackend> room_;
};

// MERVANE_SOAK_PINGS shortens the run where time is short (a sanitizer build).
int soakPings() {
  const char* text = std::getenv("MERVANE_SOAK_PINGS");
  const int n = text != nullptr ? std::atoi(text) : 0;
  return n > 0 ? n : 10000;
}
constexpr int kWarmUpPings = 400;  // more than one whole sweep, so every path has run once

// Allocations made while `step` runs.
template <typename Step>
uint64_t allocationsIn(Step step) {
  const uint64_t before = allocations.load(std::memory_order_relaxed);
  step();
  return allocations.load(std::memory_order_relaxed) - before;
}

struct SoakCounts {
  int pings = 0;
  uint64_t inPings = 0;   // allocations inside the ticks that pinged
  uint64_t inPaints = 0;  // allocations inside the repaints
  uint64_t inStarts = 0;  // allocations inside the Start commands
  uint64_t inDevice = 0;  // allocations of the simulated device, all along
};

class SoakTest : public ::testing::Test {
 protected:
  explicit SoakTest(SimRoom sim = defaultSimRoom()) {
    auto device = std::make_unique<CountedApart>(makeRoom(std::move(sim)));
    room = &device->room();
    program.backend = std::move(device);
    startApplication(app);
    program.settings.clockMultiplier = 0;  // a ping on every tick
  }

  // Runs the window's events until `pings` timed pings have run.
  SoakCounts run(int pings) {
    SoakCounts c;
    const uint64_t device = deviceAllocations.load();
    while (c.pings < pings) {
      if (program.scan.scanState != kRunning) {
        c.inStarts += allocationsIn([&] { dispatchCommand(app, CommandId::kStartSonar); });
      }
      const int repaints = shell.repaints;
      c.inPings += allocationsIn([&] { timerTick(app); });
      ++c.pings;
      if (shell.repaints != repaints) c.inPaints += allocationsIn([&] { paintPlot(app); });
    }
    c.inDevice = deviceAllocations.load() - device;
    return c;
  }

  Program program;
  FakeShell shell;
  PlotSurface surface{kPlotClientWidth, kPlotClientHeight};
  App app{program, shell, surface};
  SimBackend* room = nullptr;
};

TEST_F(SoakTest, TimedPingsHoldNothingMore) {
  const int pings = std::max(soakPings(), 2 * kWarmUpPings);
  run(kWarmUpPings);
  const size_t heapBefore = heapInUse();
  const size_t playedBefore = room->playedSegments();
  const int repaintsBefore = shell.repaints;

  SoakCounts c = run((pings - kWarmUpPings) / 2);
  const size_t heapHalfway = heapInUse();
  const SoakCounts second = run(pings - kWarmUpPings - c.pings);
  const size_t heapAfter = heapInUse();
  c.pings += second.pings;
  c.inPings += second.inPings;
  c.inPaints += second.inPaints;
  c.inStarts += second.inStarts;
  c.inDevice += second.inDevice;

  std::cout << "soak: " << pings << " pings (" << c.pings << " after the warm-up); heap in use "
            << heapBefore << " -> " << heapHalfway << " -> " << heapAfter << " bytes; streams "
            << room->openStreams() << ", prepared headers " << room->preparedHeaders()
            << ", played segments " << playedBefore << " -> " << room->playedSegments()
            << "; allocations: in pings " << c.inPings << " (the device " << c.inDevice
            << "), repaints " << c.inPaints << ", starts " << c.inStarts << "\n";

  EXPECT_TRUE(shell.messages.empty());
  EXPECT_GT(shell.repaints, repaintsBefore);
  EXPECT_EQ(room->openStreams(), 2u);
  EXPECT_EQ(room->preparedHeaders(), 2u);
  EXPECT_LE(room->playedSegments(), playedBefore + 1);
  EXPECT_EQ(c.inPings, 0u) << "a timed ping allocated";
  // Whatever the drawing, a Start or the device takes, it gives back: the heap in use does not
  // grow from one half of the run to the next (a little slack for the allocator's bookkeeping).
  EXPECT_LE(heapAfter, heapHalfway + 16 * 1024);
  EXPECT_LE(heapAfter, heapBefore + 64 * 1024);
  // The sweep is at a proper column and the device still measures the room.
  EXPECT_LE(program.scan.scanColumn, 349u);
  EXPECT_NEAR(program.scan.scanOffsets.forScan(program.scan.latestScan), 652.7, 10.0);
}

// A laptop at a desk: a recording full of reverberation, echoes and a coloured loudspeaker keeps
// the echo search and the learned path busy, and still no ping allocates.
class RealisticSoakTest : public SoakTest {
 protected:
  RealisticSoakTest() : SoakTest(deskRoom()) {}
  static SimRoom deskRoom() {
    SimRoom sim = defaultSimRoom();
    EXPECT_EQ(parseSimRoom("preset=desk", sim), "");
    return sim;
  }
};

TEST_F(RealisticSoakTest, TimedPingsInARealRoomAllocateNothing) {
  run(kWarmUpPings);
  const SoakCounts c = run(std::max(soakPings() / 10, kWarmUpPings));
  std::cout << "soak in the desk room: " << c.pings << " pings after the warm-up, nearest "
            << program.obstructionList[0] << " m\n";
  EXPECT_EQ(c.inPings, 0u) << "a timed ping allocated";
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_NEAR(program.obstructionList[0], 0.70, 0.03);
}

// The engine's share of a ping on its own: the correlation and the offset finder allocate
// nothing, whatever the recording.
TEST_F(SoakTest, TheAnalysisOfAPingAllocatesNothing) {
  run(2);
  EXPECT_EQ(allocationsIn([&] { analyzeRecording(program.settings, MeasureCaller::kTimedPing); }),
            0u);
  EXPECT_EQ(allocationsIn([&] { analyzeRecording(program.settings, MeasureCaller::kManualStep); }),
            0u);
}

}  // namespace
