// The echo fit on planted arrivals: an echo that is an exact copy of the direct sound, stepped in
// eighths of a carrier cycle across the range, must read its own distance and never one a cycle
// off, in every medium.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/engine/detect_echoes.h"
#include "tests/engine/planted_recording.h"

namespace {

using namespace planted;

constexpr double kAirSpeed = 337.6;        // m/s, the medium the users' tolerance is given in
constexpr double kToleranceInAir = 0.002;  // m: what a range finder at the desk must hold
constexpr double kCarrierHz = 10000.0;     // the default chirp's centre
constexpr int kStepsPerCycle = 8;
constexpr uint32_t kSeeds = 5;

struct MediumCase {
  const char* name;
  int8_t medium;
  friend void PrintTo(const MediumCase& c, std::ostream* os) { *os << c.name; }
};

class PlantedEcho : public testing::TestWithParam<MediumCase> {};

TEST_P(PlantedEcho, EveryEighthOfACycleReadsItsOwnDistance) {
  const MediumCase& c = GetParam();
  SonarSettings s = planned(Format::kStereo16At44k, c.medium);
  const double speed = speedOfSound(c.medium);
  const double rate = s.waveFormat.samplesPerSec;
  const double metresPerFrame = speed / (2.0 * rate);
  const double cycleFrames = rate / kCarrierHz;
  // The same lags in every medium: the distances of air, scaled by the medium's speed.
  const double tolerance = kToleranceInAir * speed / kAirSpeed;
  int misses = 0;
  for (const double airMetres : {0.3, 0.55, 1.05, 2.5, 6.0}) {
    const double baseFrames = airMetres / (kAirSpeed / (2.0 * rate));
    for (int step = 0; step < kStepsPerCycle; ++step) {
      const double frames = baseFrames + step * cycleFrames / kStepsPerCycle;
      const double metres = frames * metresPerFrame;
      for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        Scene scene;
        scene.noiseRms = 60.0;
        scene.seed = seed;
        scene.echoes = {{metres, 0.2}};
        record(s, scene);
        correlateRecording(s, s.inBufferBytes + kRecordExtraBytes);
        const EchoDistances found = detectEchoes(s, findDirectArrival(s));
        const bool hit = std::abs(found[0] - metres) <= tolerance && found[1] == 0.0;
        if (!hit) ++misses;
        EXPECT_TRUE(hit) << c.name << " planted " << metres << " m (step " << step << "/8, seed "
                         << seed << "): found " << found[0] << ", then " << found[1];
      }
    }
  }
  EXPECT_EQ(misses, 0);
}

INSTANTIATE_TEST_SUITE_P(Media, PlantedEcho,
                         testing::Values(MediumCase{"air", kAir}, MediumCase{"water", kWater},
                                         MediumCase{"steel", kSteel},
                                         MediumCase{"granite", kGranite}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
