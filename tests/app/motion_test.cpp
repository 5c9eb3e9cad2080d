#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/scan_cycle.h"
#include "app/tracking.h"
#include "tests/app/app_fixture.h"

// The change view as the echogram draws it, and the tracking of one echo, both through the scan
// cycle the way the window drives it: ticks, the repaint each ping asks for, the commands.

namespace {

// The least level of the linear colouring drawn in this colour.
int levelOf(Rgb colour) {
  for (int level = -1; level < 300; ++level) {
    if (linearPalette(level) == colour) return level;
  }
  return -2;
}

class MotionTest : public ::testing::Test {
 protected:
  void use(const std::string& keys) {
    SimRoom room;
    ASSERT_EQ(parseSimRoom(keys, room), "");
    program.backend = makeRoom(room);
    startApplication(app);
    ASSERT_TRUE(shell.messages.empty());
    program.settings.clockMultiplier = 0;  // a ping on every tick
  }

  // One timed ping and its repaint; returns the back end's clock [s].
  double ping() {
    if (program.scan.scanState != kRunning) dispatchCommand(app, CommandId::kStartSonar);
    while (timerTick(app) != TickOutcome::kPinged) {
    }
    paintPlot(app);
    return static_cast<double>(program.backend->clockMs()) / 1000.0;
  }

  // The brightest level drawn in the latest column within two bins of the bin at `metres`.
  int levelNear(double metres) {
    const int x = static_cast<int>(program.scan.scanColumn) + kPlotLeft;
    int best = -2;
    for (int bin = 1; bin < static_cast<int>(kEnvelopeBins); ++bin) {
      if (std::abs(binDistanceMetres(program.settings, bin) - metres) > 2.5 * binMetres()) continue;
      best = std::max(best, levelOf(surface.pixel(x, bin + kPlotTop)));
    }
    return best;
  }
  double binMetres() {
    return binDistanceMetres(program.settings, 2) - binDistanceMetres(program.settings, 1);
  }

  Program program;
  FakeShell shell;
  PlotSurface surface{kPlotClientWidth, kPlotClientHeight};
  App app{program, shell, surface};
};

// Two still reflectors and one that breathes, 10 dB weaker (0.063 against 0.2). Drawn in the
// change view, the still ones start bright and are below the first bright colour (level 42) once
// one time constant has passed, while the breathing one stays above that level all along. The
// time constant is the default, longer than a breath: one of half a breath or less would take
// much of the breathing into the still room too (its mean over half a swing lies near its ends).
TEST_F(MotionTest, ChangeViewPixelsFadeTheStillRoomAndKeepTheBreathingEcho) {
  use("echo=0.50:0.2,echo=0.90:0.2,echo=1.60:0.063:move=0.004@0.25");
  // Still echoes of about 500 at first.
  program.settings.amplification = 750;
  constexpr double kTau = kDefaultChangeSeconds;
  constexpr int kSetLevel = 42;
  program.changeView.timeConstantSeconds = kTau;
  dispatchCommand(app, CommandId::kChangeView);
  ASSERT_TRUE(program.changeView.on);
  const double first = ping();
  const int nearFirst = levelNear(0.50), farFirst = levelNear(0.90);

  EXPECT_GE(nearFirst, 240) << "the still echoes start bright";
  EXPECT_GE(farFirst, 240);
  int stillLast = 0, movingLeast = 1000;
  for (double now = first; now - first < 3 * kTau;) {
    now = ping();
    const double elapsed = now - first;
    const int near = levelNear(0.50), far = levelNear(0.90), moving = levelNear(1.60);
    if (elapsed >= kTau) {
      movingLeast = std::min(movingLeast, moving);
      EXPECT_LT(near, kSetLevel) << elapsed << " s";
      EXPECT_LT(far, kSetLevel) << elapsed << " s";
    }
    stillLast = std::max(near, far);
  }
  std::printf("change view pixels: still echoes first %d and %d, at the end %d; breathing %d\n",
              nearFirst, farFirst, stillLast, movingLeast);
  EXPECT_GE(movingLeast, kSetLevel);

  // Off again: the raw column is drawn, where the still echoes are as bright as ever.
  dispatchCommand(app, CommandId::kChangeView);
  ping();
  EXPECT_GE(levelNear(0.50), 120);
}

// A click on the echogram picks the echo of that row: the row where the raw column shows the
// echo reads as the echo's distance, within a bin.
TEST_F(MotionTest, TheRowOfAnEchoReadsAsItsDistance) {
  use("echo=1.20:0.2");
  ping();
  const std::vector<int32_t>& bins = program.settings.correlationBuffer;
  int peak = 40;
  for (int bin = 40; bin < static_cast<int>(kEnvelopeBins); ++bin) {
    if (bins[static_cast<size_t>(bin)] > bins[static_cast<size_t>(peak)]) peak = bin;
  }
  EXPECT_NEAR(binDistanceMetres(program.settings, peak), 1.20, binMetres());
}

// The scan cycle follows the picked echo on every stored ping; the export writes the rows the
// command line writes, one per ping, times on the room's clock since the first.
TEST_F(MotionTest, TheScanCycleFollowsThePickedEchoAndTheExportWritesItsRows) {
  use("echo=1.00:0.2:move=0.003@0.25,noise=46");
  startTracking(program.tracking, 1.0);
  double first = 0.0;
  for (int n = 0; n < 40; ++n) {
    const double now = ping();
    if (n == 0) first = now;
  }
  const Tracking& t = program.tracking;
  ASSERT_EQ(t.count, 40u);
  EXPECT_EQ(t.lostTimes, 0u);
  double low = INFINITY, high = -INFINITY;
  for (size_t i = 0; i < t.count; ++i) {
    const TrackPoint& p = trackRow(t, i);
    ASSERT_EQ(p.state, TrackState::kTracking) << i;
    low = std::min(low, p.distanceM);
    high = std::max(high, p.distanceM);
  }
  // A swing of ±3 mm around 1.00 m.
  EXPECT_NEAR(0.5 * (low + high), 1.0, 0.002);
  EXPECT_NEAR(high - low, 0.006, 0.0006);
  EXPECT_NEAR(trackRow(t, t.count - 1).seconds,
              static_cast<double>(program.backend->clockMs()) / 1000.0 - first, 0.001);

  const std::string path = ::testing::TempDir() + "/motion_track.csv";
  shell.exportPath = path;
  dispatchCommand(app, CommandId::kExportTrack);
  EXPECT_TRUE(shell.messages.empty());
  std::FILE* f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char line[128];
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "time_s,distance_m,amplitude\n");
  int rows = 0;
  double seconds = -1.0, distance = 0.0, amplitude = 0.0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    double s = 0.0;
    ASSERT_EQ(std::sscanf(line, "%lf,%lf,%lf", &s, &distance, &amplitude), 3) << line;
    EXPECT_GT(s, seconds);
    seconds = s;
    ++rows;
  }
  std::fclose(f);
  std::remove(path.c_str());
  EXPECT_EQ(rows, 40);
  EXPECT_EQ(trackCsvRow(trackRow(t, t.count - 1)), std::string(line));
}

// A person at the desk, followed the way the window follows it: every ping tracked, no step
// between pings larger than the chest's own (0.85 mm at most), the breathing's ±4 mm swing seen.
TEST_F(MotionTest, TheScanCycleFollowsABreathingPersonWithoutALoss) {
  use("preset=desk,person=1.2");
  startTracking(program.tracking, 1.2);
  for (int n = 0; n < 120; ++n) ping();
  const Tracking& t = program.tracking;
  ASSERT_EQ(t.count, 120u);
  EXPECT_EQ(t.lostTimes, 0u);
  double low = INFINITY, high = -INFINITY, step = 0.0;
  for (size_t i = 0; i < t.count; ++i) {
    const TrackPoint& p = trackRow(t, i);
    ASSERT_EQ(p.state, TrackState::kTracking) << i;
    low = std::min(low, p.distanceM);
    high = std::max(high, p.distanceM);
    if (i > 0) step = std::max(step, std::abs(p.distanceM - trackRow(t, i - 1).distanceM));
  }
  EXPECT_LE(step, 0.0015);
  EXPECT_NEAR(high - low, 0.008, 0.002);
  EXPECT_NEAR(0.5 * (low + high), 1.2, 0.005);
}

// With a calibration the table says so first, and the distances read under it like every other.
TEST_F(MotionTest, ACalibratedTrackReadsAsTheOtherDistances) {
  use("echo=1.00:0.2,noise=46");
  startTracking(program.tracking, 1.0);
  for (int n = 0; n < 5; ++n) ping();
  const double plain = trackRow(program.tracking, 4).distanceM;
  program.settings.calibration.speedMps = speedOfSound(kAir) * 1.01;
  program.settings.calibration.offsetMetres = 0.02;
  startTracking(program.tracking, 1.03);
  for (int n = 0; n < 5; ++n) ping();
  const TrackPoint& p = trackRow(program.tracking, 4);
  ASSERT_EQ(p.state, TrackState::kTracking);
  EXPECT_NEAR(p.distanceM, plain * 1.01 + 0.02, 0.0002);
  EXPECT_EQ(trackTableCsv(program.tracking, program.settings).rfind("# speed of sound ", 0), 0u);
}

}  // namespace
