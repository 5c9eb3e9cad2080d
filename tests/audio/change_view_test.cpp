#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "audio_test_support.h"
#include "engine/change_view.h"
#include "engine/echo_tracker.h"

// The change view on the simulated room: two still reflectors and a breathing one 10 dB weaker.

namespace {

struct Bins {
  int32_t raw = 0, change = 0;
};

// The strongest raw bin within a few bins of `metres`, and the change drawn there.
Bins binsAt(const SimRig& rig, const ChangeView& view, double metres) {
  const SonarSettings& s = rig.settings;
  const double metresPerLag = secondsPerLag(s.waveFormat) * speedOfSound(s.medium) / 2.0;
  const double width =
      static_cast<double>((s.inBufferBytes - s.outBufferBytes) / 2 - s.offsetBytes / 2) /
      kEnvelopeBins;
  const int centre = static_cast<int>(metres / metresPerLag / width);
  Bins b;
  for (int k = std::max(0, centre - 3); k <= std::min<int>(kEnvelopeBins - 1, centre + 3); ++k) {
    b.raw = std::max(b.raw, s.correlationBuffer[static_cast<size_t>(k)]);
    b.change = std::max(b.change, view.column[static_cast<size_t>(k)]);
  }
  return b;
}

TEST(ChangeView, StillEchoesFadeWithinTheTimeConstantAndABreathingOneStays) {
  SimRoom room;
  ASSERT_EQ(parseSimRoom("echo=0.50:0.2,echo=0.90:0.2,echo=1.60:0.063:move=0.004@0.25", room), "");
  SimRig rig(room);
  rig.settings.amplification = 3000;  // bins of a few units would hide what is measured here
  ASSERT_EQ(rig.open(), kWaveOk);
  ChangeView view;
  view.on = true;
  // Longer than a breath: see the pixel test of the scan cycle.
  view.timeConstantSeconds = kDefaultChangeSeconds;
  int32_t movingLeast = INT32_MAX, stillMost = 0;
  Bins nearFirst, farFirst;
  double firstSeconds = 0.0;
  for (int n = 0; n < 90; ++n) {
    const MeasurementResult r = rig.measure();
    ASSERT_EQ(r.ping, kWaveOk);
    const double seconds = static_cast<double>(rig.sim->nowTicks()) / kSimTicksPerSecond;
    observeChangeMeasurement(view, rig.settings, r.arrival, seconds);
    const Bins near = binsAt(rig, view, 0.50), far = binsAt(rig, view, 0.90);
    const Bins moving = binsAt(rig, view, 1.60);
    if (n == 0) {
      // At first the whole room is news.
      EXPECT_GT(near.change, near.raw / 2);
      nearFirst = near;
      farFirst = far;
      firstSeconds = seconds;
    }
    // Once one time constant has passed the still echoes are gone, the breathing one stays.
    if (seconds - firstSeconds >= view.timeConstantSeconds) {
      stillMost = std::max({stillMost, near.change, far.change});
      EXPECT_GE(moving.change, moving.raw * 0.4) << "ping " << n;
      movingLeast = std::min(movingLeast, moving.change);
    }
  }
  std::printf(
      "still echoes first %d and %d, after one time constant at most %d; breathing at least %d\n",
      nearFirst.change, farFirst.change, stillMost, movingLeast);
  EXPECT_LE(stillMost, std::min(nearFirst.change, farFirst.change) / 50);
  EXPECT_GT(movingLeast, 3 * stillMost);
}

}  // namespace
