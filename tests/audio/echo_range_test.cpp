// Range accuracy end to end: the simulated room plays and records, the measurement sequence
// correlates and finds the direct arrival, the echo detector reports distances.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio_test_support.h"
#include "engine/echo_tracker.h"
#include "tests/engine/detect_echoes.h"

namespace {

// The farthest ahead of the air path a case path in these tests arrives, in range [m].
constexpr double kCaseMostLeadMetres = 0.3e-3 * 337.6 / 2.0;

enum class Format { kStereo16At44k, kMono8At8k };

struct RangeCase {
  std::string name;
  Format format;
  int8_t medium;
  std::vector<SimEcho> reflectors;
  bool noisy;  // the weakest echo 6 dB above the noise RMS
};

// The worst error seen per format, printed once the table has run.
std::map<Format, double>& worstError() {
  static std::map<Format, double> worst;
  return worst;
}

void useEightBitMono(SimRig& rig) {
  SonarSettings& s = rig.settings;
  // The default 8-12 kHz chirp lies above the 4 kHz Nyquist limit of 8 kHz sampling (the 8-bit
  // mono chirp sweeps from start to 2 x end - start); 8 ms at 8 kHz give about the pulse
  // compression of the default 2 ms at 44.1 kHz.
  s.startFrequency = 500;
  s.endFrequency = 2200;
  s.chirpTime = 8000;
  s.offsetBytes = 37;
  rig.useFormat(1, 8, 8000);
}

class EchoRange : public testing::TestWithParam<RangeCase> {
 protected:
  static void TearDownTestSuite() {
    for (const auto& [format, metres] : worstError()) {
      std::printf("worst range error %s: %.4f m\n",
                  format == Format::kStereo16At44k ? "16-bit stereo 44.1 kHz" : "8-bit mono 8 kHz",
                  metres);
    }
  }
};

TEST_P(EchoRange, FindsEveryReflectorAndNothingElse) {
  const RangeCase& c = GetParam();
  double weakest = 1.0;
  for (const SimEcho& e : c.reflectors) weakest = std::min(weakest, e.gain);
  std::vector<double> expected;
  for (const SimEcho& e : c.reflectors) expected.push_back(e.distanceM);
  std::sort(expected.begin(), expected.end());
  const double tolerance =
      c.format == Format::kStereo16At44k ? 0.02 : speedOfSound(c.medium) / 8000.0 / 2.0;

  for (uint64_t seed = 1; seed <= 2; ++seed) {
    SimRoom room;
    room.echoes = c.reflectors;
    room.noiseRms = c.noisy ? weakest * 32767.0 / 2.0 : 30.0;
    room.seed = seed;
    room.speedMps = speedOfSound(c.medium);
    SimRig rig(room);
    rig.settings.medium = c.medium;
    if (c.format == Format::kMono8At8k) useEightBitMono(rig);
    ASSERT_EQ(rig.open(), kWaveOk);
    const MeasurementResult r = rig.measure();
    ASSERT_EQ(r.ping, kWaveOk);
    const auto found = detectEchoes(rig.settings, r.arrival);
    for (size_t k = 0; k < kMaxEchoes; ++k) {
      if (k >= expected.size()) {
        EXPECT_EQ(found[k], 0.0) << "seed " << seed << ": false echo " << k;
        continue;
      }
      EXPECT_NEAR(found[k], expected[k], tolerance) << "seed " << seed << ": echo " << k;
      double& worst = worstError()[c.format];
      worst = std::max(worst, std::fabs(found[k] - expected[k]));
    }
  }
}

std::vector<RangeCase> rangeCases() {
  const std::vector<std::pair<std::string, std::vector<SimEcho>>> rooms = {
      {"near", {{0.30, 0.10}}},
      {"mid", {{1.50, 0.10}}},
      {"far", {{5.00, 0.08}}},
      {"pairClose", {{0.80, 0.10}, {1.10, 0.06}}},
      {"pairWide", {{0.50, 0.12}, {3.20, 0.05}}},
  };
  std::vector<RangeCase> cases;
  for (const auto& [roomName, reflectors] : rooms) {
    for (const Format format : {Format::kStereo16At44k, Format::kMono8At8k}) {
      for (const int8_t medium : {int8_t{kAir}, int8_t{kWater}}) {
        for (const bool noisy : {false, true}) {
          cases.push_back({roomName + (format == Format::kStereo16At44k ? "_16bit44k" : "_8bit8k") +
                               (medium == kAir ? "_air" : "_water") + (noisy ? "_noisy" : "_quiet"),
                           format, medium, reflectors, noisy});
        }
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(SimulatedRoom, EchoRange, testing::ValuesIn(rangeCases()),
                         [](const auto& p) { return p.param.name; });

// Sound through the device's case, 0.1 to 0.3 ms ahead of the air path and 0 to 10 dB louder,
// through a low-pass or a resonance, with one microphone or the laptop's two: the direct sound
// alone reports nothing, and with a wall 1 m away nothing else appears, on a single ping and as
// the Ruler reads four. The wall itself may move by up to the case's own lead (a constant of the
// device, which a calibration removes).
//
// Known misses, printed and not asserted so that a fix shows: the detector learns the direct
// sound as one arrival, case and air together, while an echo comes back through the air alone.
// Where the two differ enough the echo is split in two (a second distance 4-6 cm short of the
// wall), and a case path that rings 10 dB above the air path leaves a false echo at 0.19 m. At
// the desk, whose microphones fall off above 20 kHz as laptop ones do, a case path 10 dB above
// the air path leaves a false echo at 0.07 m on the first ping (gone from the second).
struct CaseScene {
  const char* room;
  bool knownMiss;
};

TEST(EchoRangeCasePath, ReportsNothingOfItsOwn) {
  const std::vector<CaseScene> scenes = {
      {"noise=30,case=0.1:0", false},
      {"noise=30,case=0.2:6", false},
      {"noise=30,case=0.3:10", false},
      {"noise=30,case=0.2:6:resonant", false},
      {"noise=30,case=0.3:3:lowpass:8000", false},
      {"noise=30,case=0.1:10:ringing", true},
      {"speaker=resonant,noise=20,case=0.1:0", true},
      {"speaker=resonant,noise=20,case=0.2:6", false},
      {"speaker=resonant,noise=20,case=0.3:10", false},
      {"speaker=resonant,noise=20,case=0.2:6:resonant", false},
      {"speaker=resonant,noise=20,case=0.1:10:ringing", true},
      {"preset=desk,order=0,tail=0,case=0.1:0", false},
      {"preset=desk,order=0,tail=0,case=0.2:6", false},
      {"preset=desk,order=0,tail=0,case=0.3:10", true},
      {"preset=desk,order=0,tail=0,case=0.2:6:resonant", false},
      {"preset=desk,order=0,tail=0,case=0.3:3:lowpass:8000", true},
  };
  int misses = 0;
  for (const CaseScene& scene : scenes) {
    for (const bool wall : {false, true}) {
      const std::string text = std::string(scene.room) + (wall ? ",echo=1.0:0.02" : "");
      SCOPED_TRACE(text);
      SimRoom room;
      ASSERT_EQ(parseSimRoom(text, room), "");
      SimRig rig(room);
      ASSERT_EQ(rig.open(), kWaveOk);
      auto tracker = std::make_unique<EchoTracker>();
      bool sound = true;
      for (uint32_t ping = 1; ping <= kLatestAveragedPings; ++ping) {
        const MeasurementResult r = rig.measure();
        ASSERT_EQ(r.ping, kWaveOk);
        observeMeasurement(rig.settings, r.arrival, *tracker);
        for (const EchoDistances& found : {latestEchoes(*tracker), averagedEchoes(*tracker)}) {
          const bool right =
              wall ? std::abs(found[0] - 1.0) <= 0.02 + kCaseMostLeadMetres && found[1] == 0.0
                   : found[0] == 0.0;
          if (!right && sound) {
            std::printf("%s %s: ping %u found %.3f %.3f\n", scene.knownMiss ? "known miss" : "MISS",
                        text.c_str(), ping, found[0], found[1]);
          }
          sound = sound && right;
        }
      }
      if (!sound) ++misses;
      if (!scene.knownMiss) {
        EXPECT_TRUE(sound);
      }
    }
  }
  std::printf("case paths: %d of %zu scenes missed\n", misses, 2 * scenes.size());
}

// Small objects in free field (a box, a chair, a person: -32 to -43 dB re the direct sound) at
// 40 dB SNR, alone and beside a wall 20 dB louder elsewhere: with no room around them nothing
// clutters their range, so each is found within 2 cm, and nothing else, on a single ping.
TEST(EchoRangeFreeField, SmallObjectsAreFoundAloneAndBesideAWall) {
  constexpr double kDirect = 0.3;
  const auto gainOf = [&](double db) { return kDirect * std::pow(10.0, db / 20.0); };
  int scenes = 0;
  for (const double db : {-32.0, -38.0, -43.0}) {
    for (const double metres : {0.8, 1.6, 2.5, 4.0}) {
      for (const bool wall : {false, true}) {
        SimRoom room;
        room.directGain = kDirect;
        room.noiseRms = kDirect * 32767.0 / std::sqrt(2.0) / 100.0;
        room.seed = static_cast<uint64_t>(++scenes);
        room.echoes = {{metres, gainOf(db)}};
        const double wallM = metres < 2.0 ? 3.1 : 1.3;
        if (wall) room.echoes.push_back({wallM, gainOf(db + 20.0)});
        SimRig rig(room);
        ASSERT_EQ(rig.open(), kWaveOk);
        const MeasurementResult r = rig.measure();
        ASSERT_EQ(r.ping, kWaveOk);
        const auto found = detectEchoes(rig.settings, r.arrival);
        std::vector<double> expected = {metres};
        if (wall) expected.push_back(wallM);
        std::sort(expected.begin(), expected.end());
        const std::string what = std::to_string(db) + " dB at " + std::to_string(metres) + " m" +
                                 (wall ? " beside a wall" : "");
        for (size_t k = 0; k < kMaxEchoes; ++k) {
          if (k < expected.size()) {
            EXPECT_NEAR(found[k], expected[k], 0.02) << what;
          } else {
            EXPECT_EQ(found[k], 0.0) << what << ": false echo";
          }
        }
      }
    }
  }
}

TEST(EchoRangeNoiseOnly, ReportsNoEcho) {
  for (const Format format : {Format::kStereo16At44k, Format::kMono8At8k}) {
    for (const double noise : {0.0, 30.0, 1000.0}) {
      for (uint64_t seed = 1; seed <= 3; ++seed) {
        SimRoom room;
        room.noiseRms = noise;
        room.seed = seed;
        SimRig rig(room);
        if (format == Format::kMono8At8k) useEightBitMono(rig);
        ASSERT_EQ(rig.open(), kWaveOk);
        const MeasurementResult r = rig.measure();
        EXPECT_EQ(detectEchoes(rig.settings, r.arrival)[0], 0.0)
            << "noise " << noise << " seed " << seed;
      }
    }
  }
}

}  // namespace
