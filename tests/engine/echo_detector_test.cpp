#include "engine/echo_detector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/buffer_plan.h"
#include "engine/correlation.h"
#include "engine/echo_tracker.h"

namespace {

// A recording synthesised from the play buffer: each channel of the played chirp delayed by a
// fractional number of frames (windowed sinc), scaled, summed, plus Gaussian noise.
struct Reflector {
  double metres, gain;
};

// A loudspeaker that colours the chirp, written here as recursive filters by the bilinear
// transform (RBJ's cookbook), apart from the simulated room's own frequency-sampled ones.
enum class Device { kFlat, kLowPass15k, kHighPass2k, kResonant, kRinging };

struct Scene {
  double latencyMs = 7.4;
  double direct = 0.3;
  std::vector<Reflector> echoes;
  double noiseRms = 30.0;  // in 16-bit units
  uint32_t seed = 1;
  Device device = Device::kFlat;
};

struct Biquad {
  double b0, b1, b2, a1, a2;  // a0 = 1
};

Biquad biquadFor(Device d, double rate) {
  const auto first = [&](double hz, bool high) {  // first order: one pole, one zero
    const double k = std::tan(M_PI * hz / rate);
    const double n = 1.0 / (1.0 + k);
    return high ? Biquad{n, -n, 0.0, (k - 1.0) * n, 0.0}
                : Biquad{k * n, k * n, 0.0, (k - 1.0) * n, 0.0};
  };
  const auto peak = [&](double hz, double q, double db) {  // peaking EQ
    const double a = std::pow(10.0, db / 40.0), w = 2.0 * M_PI * hz / rate;
    const double alpha = std::sin(w) / (2.0 * q), a0 = 1.0 + alpha / a;
    return Biquad{(1.0 + alpha * a) / a0, -2.0 * std::cos(w) / a0, (1.0 - alpha * a) / a0,
                  -2.0 * std::cos(w) / a0, (1.0 - alpha / a) / a0};
  };
  switch (d) {
    case Device::kLowPass15k:
      return first(15000.0, false);
    case Device::kHighPass2k:
      return first(2000.0, true);
    case Device::kResonant:
      return peak(9000.0, 3.0, 6.0);
    case Device::kRinging:
      return peak(10000.0, 20.0, 12.0);
    case Device::kFlat:
      break;
  }
  return Biquad{1.0, 0.0, 0.0, 0.0, 0.0};
}

// The played samples of one channel through the device, run on past the chirp while it rings.
std::vector<double> throughDevice(std::vector<double> x, Device d, double rate) {
  const Biquad f = biquadFor(d, rate);
  x.resize(x.size() + 2048, 0.0);
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (double& v : x) {
    const double y = f.b0 * v + f.b1 * x1 + f.b2 * x2 - f.a1 * y1 - f.a2 * y2;
    x2 = x1;
    x1 = v;
    y2 = y1;
    y1 = y;
    v = y;
  }
  return x;
}

double sincDelayed(const std::vector<double>& x, double t) {
  const int base = static_cast<int>(std::floor(t));
  double sum = 0.0;
  for (int k = base - 31; k <= base + 32; ++k) {
    if (k < 0 || k >= static_cast<int>(x.size())) continue;
    const double u = t - k;
    const double w = 0.42 + 0.5 * std::cos(M_PI * u / 32) + 0.08 * std::cos(2 * M_PI * u / 32);
    sum += x[static_cast<size_t>(k)] * w * (u == 0 ? 1.0 : std::sin(M_PI * u) / (M_PI * u));
  }
  return sum;
}

void record(SonarSettings& s, const Scene& scene) {
  const WaveFormat& f = s.waveFormat;
  const bool wide = isSixteenBit(f);
  const int ch = f.channels;
  const double full = wide ? 1.0 : 1.0 / 256.0;  // noise is given in 16-bit units
  const size_t played = wide ? s.outBufferBytes / 2 : s.outBufferBytes;
  const size_t bytes = s.inBufferBytes + kRecordExtraBytes;
  const size_t total = wide ? bytes / 2 : bytes;
  std::mt19937 rng(scene.seed);
  std::normal_distribution<double> noise(0.0, scene.noiseRms * full);
  const double speed = speedOfSound(s.medium);
  std::vector<std::vector<double>> channel(static_cast<size_t>(ch));
  for (size_t i = 0; i < played; ++i) {
    const double v =
        wide ? static_cast<int16_t>(s.playBuffer[2 * i] | (s.playBuffer[2 * i + 1] << 8))
             : static_cast<int>(s.playBuffer[i]) - 128;
    channel[i % static_cast<size_t>(ch)].push_back(v);
  }
  for (auto& x : channel) x = throughDevice(std::move(x), scene.device, f.samplesPerSec);
  for (size_t i = 0; i < total; ++i) {
    const auto& x = channel[i % static_cast<size_t>(ch)];
    const double frame = static_cast<double>(i / static_cast<size_t>(ch));
    const double direct = scene.latencyMs * 1e-3 * f.samplesPerSec;
    double v = scene.direct * sincDelayed(x, frame - direct);
    for (const Reflector& e : scene.echoes) {
      v += e.gain * sincDelayed(x, frame - direct - 2 * e.metres / speed * f.samplesPerSec);
    }
    v += noise(rng);
    if (wide) {
      const auto q = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
      s.recordBuffer[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(q) & 0xFF);
      s.recordBuffer[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(q) >> 8);
    } else {
      s.recordBuffer[i] = static_cast<uint8_t>(std::clamp(std::lround(v) + 128, 0L, 255L));
    }
  }
}

std::array<double, kMaxEchoes> measure(SonarSettings& s, const Scene& scene) {
  record(s, scene);
  correlateRecording(s, s.inBufferBytes + kRecordExtraBytes);
  return detectEchoes(s, findDirectArrival(s));
}

enum class Format { kStereo16At44k, kMono8At8k };

SonarSettings planned(Format format, int8_t medium) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.medium = medium;
  if (format == Format::kMono8At8k) {
    s.waveFormat.channels = 1;
    s.waveFormat.bitsPerSample = 8;
    s.waveFormat.samplesPerSec = 8000;
    recomputeDerivedFormat(s.waveFormat);
    s.offsetBytes = 37;
    // Below the 4 kHz Nyquist limit (the 8-bit mono chirp sweeps from start to 2 x end - start),
    // and 8 ms long: 64 samples at 8 kHz give the pulse compression a 2 ms chirp has at 44.1 kHz.
    s.startFrequency = 500;
    s.endFrequency = 2200;
    s.chirpTime = 8000;
  }
  if (!planBuffers(s)) ADD_FAILURE() << "plan failed";
  return s;
}

struct AccuracyCase {
  std::string name;
  Format format;
  int8_t medium;
  std::vector<Reflector> reflectors;
  bool noisy;  // noise such that the weakest echo is 6 dB above the noise RMS
};

class EchoAccuracy : public testing::TestWithParam<AccuracyCase> {};

TEST_P(EchoAccuracy, FindsEveryReflector) {
  const AccuracyCase& c = GetParam();
  SonarSettings s = planned(c.format, c.medium);
  Scene scene;
  scene.echoes = c.reflectors;
  double weakest = 1.0;
  for (const Reflector& r : c.reflectors) weakest = std::min(weakest, r.gain);
  if (c.noisy) scene.noiseRms = weakest * 32767.0 / 2.0;
  const double tolerance =
      c.format == Format::kStereo16At44k ? 0.02 : speedOfSound(c.medium) / 8000.0 / 2.0;
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    scene.seed = seed;
    const auto found = measure(s, scene);
    std::vector<double> expected;
    for (const Reflector& r : c.reflectors) expected.push_back(r.metres);
    std::sort(expected.begin(), expected.end());
    for (size_t k = 0; k < kMaxEchoes; ++k) {
      if (k < expected.size()) {
        EXPECT_NEAR(found[k], expected[k], tolerance) << "seed " << seed << " echo " << k;
      } else {
        EXPECT_EQ(found[k], 0.0) << "seed " << seed << " false echo " << k;
      }
    }
  }
}

std::vector<AccuracyCase> accuracyCases() {
  std::vector<AccuracyCase> cases;
  const std::vector<std::pair<std::string, std::vector<Reflector>>> rooms = {
      {"near", {{0.30, 0.10}}},
      {"mid", {{1.50, 0.10}}},
      {"far", {{5.00, 0.08}}},
      {"pairClose", {{0.80, 0.10}, {1.10, 0.06}}},
      {"pairWide", {{0.50, 0.12}, {3.20, 0.05}}},
  };
  for (const auto& [roomName, reflectors] : rooms) {
    for (const Format format : {Format::kStereo16At44k, Format::kMono8At8k}) {
      for (const int8_t medium : {int8_t{kAir}, int8_t{kWater}}) {
        for (const bool noisy : {false, true}) {
          std::string name = roomName +
                             (format == Format::kStereo16At44k ? "_16bit44k" : "_8bit8k") +
                             (medium == kAir ? "_air" : "_water") + (noisy ? "_noisy" : "_quiet");
          cases.push_back({name, format, medium, reflectors, noisy});
        }
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Table, EchoAccuracy, testing::ValuesIn(accuracyCases()),
                         [](const auto& p) { return p.param.name; });

TEST(EchoDetector, NoiseOnlyRoomReportsNothing) {
  for (const Format format : {Format::kStereo16At44k, Format::kMono8At8k}) {
    SonarSettings s = planned(format, kAir);
    for (const double noise : {0.0, 30.0, 1000.0}) {
      Scene scene;
      scene.noiseRms = noise;
      for (uint32_t seed = 1; seed <= 5; ++seed) {
        scene.seed = seed;
        const auto found = measure(s, scene);
        EXPECT_EQ(found[0], 0.0) << "noise " << noise << " seed " << seed;
      }
    }
  }
}

// A loudspeaker that faces a wall sends more sound to it than to the microphone: the echo comes
// back stronger than the direct sound, and only the offset finder's lag tells the two apart. An
// offset below 596 lets that lag be 600, the value that also stands in for "nothing found".
TEST(EchoDetector, ADirectArrivalFoundAtTheDefaultLagCounts) {
  SonarSettings s = planned(Format::kStereo16At44k, kAir);
  s.offsetBytes = 400;
  ASSERT_TRUE(planBuffers(s));
  Scene scene;
  scene.direct = 0.2;
  scene.echoes = {{1.0, 0.3}};
  // The latency that puts the finder's lag exactly on 600.
  DirectArrival arrival;
  for (int step = 0; step < 200 && !(arrival.found && arrival.offset == kDefaultOffset); ++step) {
    scene.latencyMs = 6.3 + 0.005 * step;
    record(s, scene);
    correlateRecording(s, s.inBufferBytes + kRecordExtraBytes);
    arrival = findDirectArrival(s);
  }
  ASSERT_TRUE(arrival.found);
  ASSERT_EQ(arrival.offset, kDefaultOffset);
  const auto echoes = detectEchoes(s, arrival);
  EXPECT_NEAR(echoes[0], 1.0, 0.02);
  EXPECT_EQ(echoes[1], 0.0);
  // Taken for "nothing found", the stronger echo would pass for the direct sound.
  EXPECT_NE(detectEchoes(s, DirectArrival{kDefaultOffset, false})[0], echoes[0]);
}

TEST(EchoDetector, NoDirectArrivalNoReport) {
  SonarSettings s = planned(Format::kStereo16At44k, kAir);
  Scene silent;
  silent.direct = 0.0;
  silent.echoes = {{1.0, 0.1}};
  silent.noiseRms = 0.0;
  record(s, silent);
  correlateRecording(s, s.inBufferBytes + kRecordExtraBytes);
  EXPECT_EQ(detectEchoes(s, DirectArrival{})[0], 0.0);
}

// The program's way: one tracker over the pings of a run, each recorded anew (fresh noise), the
// distances of the latest few combined.
EchoDistances measureRun(SonarSettings& s, Scene scene, int pings) {
  auto tracker = std::make_unique<EchoTracker>();
  EchoDistances found{};
  for (int ping = 0; ping < pings; ++ping) {
    scene.seed = static_cast<uint32_t>(100 * scene.seed + ping);
    record(s, scene);
    correlateRecording(s, s.inBufferBytes + kRecordExtraBytes);
    observeMeasurement(s, findDirectArrival(s), *tracker);
    found = averagedEchoes(*tracker);
  }
  return found;
}

const std::array<Device, 5> kDevices = {Device::kFlat, Device::kLowPass15k, Device::kHighPass2k,
                                        Device::kResonant, Device::kRinging};

// No loudspeaker plays the ideal chirp; the direct sound alone, through each, is no echo: on a
// single recording (the analysis of a file) and over a run.
TEST(EchoDetectorDevices, TheDirectSoundAloneThroughEachDeviceReportsNothing) {
  for (const Format format : {Format::kStereo16At44k, Format::kMono8At8k}) {
    SonarSettings s = planned(format, kAir);
    for (const Device d : kDevices) {
      for (const double noise : {3.0, 30.0, 300.0}) {
        for (uint32_t seed = 1; seed <= 2; ++seed) {
          Scene scene;
          scene.device = d;
          scene.noiseRms = noise;
          scene.seed = seed;
          const std::string what = "format " + std::to_string(static_cast<int>(format)) +
                                   " device " + std::to_string(static_cast<int>(d)) + " noise " +
                                   std::to_string(noise) + " seed " + std::to_string(seed);
          EXPECT_EQ(measure(s, scene)[0], 0.0) << what;
          EXPECT_EQ(measureRun(s, scene, 6)[0], 0.0) << what << " (run)";
        }
      }
    }
  }
}

// An isolated echo 40 dB below the direct sound, at 40 dB SNR (the direct sound's RMS over the
// noise's): found within 2 cm through every device, on a single recording.
TEST(EchoDetectorDevices, AnEchoFortyDecibelsDownAtFortyDecibelsSnrIsFound) {
  SonarSettings s = planned(Format::kStereo16At44k, kAir);
  for (const Device d : kDevices) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      Scene scene;
      scene.device = d;
      scene.seed = seed;
      scene.echoes = {{1.5, scene.direct / 100.0}};
      scene.noiseRms = scene.direct * 32767.0 / std::sqrt(2.0) / 100.0;
      const auto found = measure(s, scene);
      EXPECT_NEAR(found[0], 1.5, 0.02) << "device " << static_cast<int>(d) << " seed " << seed;
      EXPECT_EQ(found[1], 0.0) << "device " << static_cast<int>(d) << " seed " << seed;
    }
  }
}

// Two reflectors 0.10 m apart, and one 0.15 m away, inside the 2 ms chirp's own 0.34 m: each
// found within 2 cm through a coloured loudspeaker, over a run.
TEST(EchoDetectorDevices, CloseReflectorsAndOneInsideTheChirpAreResolved) {
  SonarSettings s = planned(Format::kStereo16At44k, kAir);
  for (const Device d : {Device::kFlat, Device::kResonant, Device::kHighPass2k}) {
    Scene pair;
    pair.device = d;
    pair.echoes = {{1.20, 0.03}, {1.30, 0.025}};
    const auto two = measureRun(s, pair, 4);
    EXPECT_NEAR(two[0], 1.20, 0.02) << "device " << static_cast<int>(d);
    EXPECT_NEAR(two[1], 1.30, 0.02) << "device " << static_cast<int>(d);
    EXPECT_EQ(two[2], 0.0) << "device " << static_cast<int>(d);

    Scene inside;
    inside.device = d;
    inside.echoes = {{0.15, 0.05}};
    const auto near = measureRun(s, inside, 4);
    EXPECT_NEAR(near[0], 0.15, 0.02) << "device " << static_cast<int>(d);
    EXPECT_EQ(near[1], 0.0) << "device " << static_cast<int>(d);
  }
}

// At 22050 samples per second the default 8-12 kHz chirp folds back at 11025 Hz: whatever the
// recording holds, no distances.
TEST(EchoDetectorDevices, AFoldedChirpGivesNoDistances) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.waveFormat.samplesPerSec = 22050;
  recomputeDerivedFormat(s.waveFormat);
  s.offsetBytes = 300;
  ASSERT_TRUE(planBuffers(s));
  Scene scene;
  scene.echoes = {{0.8, 0.1}, {1.9, 0.05}};
  EXPECT_EQ(measure(s, scene)[0], 0.0);
  EXPECT_EQ(measureRun(s, scene, 3)[0], 0.0);
}

}  // namespace
