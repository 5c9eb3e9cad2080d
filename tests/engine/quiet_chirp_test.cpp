// The quiet chirp: what the loudspeaker is given to play stays out of the audible band, the
// preset switches the format to fit, and the gain measure of the audio check.
#include "engine/quiet_chirp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "engine/buffer_plan.h"
#include "engine/chirp.h"

namespace {

// One channel of the played part of the play buffer, in 16-bit units.
std::vector<double> playedChannel(const SonarSettings& s, uint16_t channel) {
  std::vector<double> samples;
  const uint32_t frameBytes = s.waveFormat.blockAlign;
  const uint32_t sampleBytes = s.waveFormat.bitsPerSample / 8;
  for (uint32_t at = channel * sampleBytes; at + sampleBytes <= s.outBufferBytes;
       at += frameBytes) {
    if (sampleBytes == 2) {
      samples.push_back(static_cast<int16_t>(s.playBuffer[at] | (s.playBuffer[at + 1] << 8)));
    } else {
      samples.push_back((s.playBuffer[at] - 128) * 256.0);
    }
  }
  return samples;
}

// Energy of the samples between two frequencies, from a plain DFT zero-padded to 8192 points.
double bandEnergy(const std::vector<double>& x, double rate, double fromHz, double toHz) {
  constexpr size_t kPoints = 8192;
  double energy = 0.0;
  for (size_t k = 0; k <= kPoints / 2; ++k) {
    const double hz = rate * static_cast<double>(k) / kPoints;
    if (hz < fromHz || hz >= toHz) continue;
    double re = 0.0, im = 0.0;
    for (size_t n = 0; n < x.size(); ++n) {
      const double phase = 2.0 * std::numbers::pi * static_cast<double>(k * n % kPoints) / kPoints;
      re += x[n] * std::cos(phase);
      im -= x[n] * std::sin(phase);
    }
    energy += re * re + im * im;
  }
  return energy;
}

struct QuietCase {
  const char* name;
  uint16_t channels;
  uint16_t bits;
  uint32_t rateBefore;
  uint32_t rateAfter;
  double toHz;           // top of the band the preset sweeps
  uint32_t offsetAfter;  // the new rate's, or kept when the format stays
};

class QuietChirp : public testing::TestWithParam<QuietCase> {};

TEST_P(QuietChirp, ThePlayedBufferStaysAbove17kHz) {
  const QuietCase& c = GetParam();
  SonarSettings s;
  applyDefaultSettings(s);
  s.waveFormat.channels = c.channels;
  s.waveFormat.bitsPerSample = c.bits;
  s.waveFormat.samplesPerSec = c.rateBefore;
  recomputeDerivedFormat(s.waveFormat);
  applyQuietChirp(s);
  ASSERT_TRUE(planBuffers(s));

  // The format switched to fit, with the new rate's offsets (the offsets found for a format that
  // stays are kept).
  EXPECT_EQ(s.waveFormat.samplesPerSec, c.rateAfter);
  EXPECT_EQ(s.waveFormat.bitsPerSample, 16);
  EXPECT_EQ(s.waveFormat.channels, c.channels);
  EXPECT_EQ(s.offsetBytes, c.offsetAfter);
  const ChirpSweep sweep = chirpSweep(s);
  EXPECT_DOUBLE_EQ(sweep.fromHz, 18000.0);
  EXPECT_DOUBLE_EQ(sweep.toHz, c.toHz);
  EXPECT_FALSE(sweep.folds());

  const double rate = c.rateAfter;
  for (uint16_t channel = 0; channel < c.channels; ++channel) {
    const std::vector<double> x = playedChannel(s, channel);
    ASSERT_GT(x.size(), 100u);
    const double band = bandEnergy(x, rate, 18000.0, c.toHz);
    const double audible = bandEnergy(x, rate, 0.0, 17000.0);
    EXPECT_GE(10.0 * std::log10(band / audible), 40.0) << "channel " << channel;
    // It fades in and out instead of starting and stopping at full swing (a click).
    EXPECT_LT(std::fabs(x.front()), 300.0);
    EXPECT_LT(std::fabs(x.back()), 300.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, QuietChirp,
                         testing::Values(QuietCase{"stereo44k", 2, 16, 44100, 48000, 23000.0, 650},
                                         QuietCase{"mono8Bit22k", 1, 8, 22050, 48000, 23000.0, 650},
                                         QuietCase{"stereo48k", 2, 16, 48000, 48000, 23000.0, 600},
                                         QuietCase{"wideAt96k", 2, 16, 96000, 96000, 28000.0, 600},
                                         QuietCase{"monoWideAt96k", 1, 16, 96000, 96000, 28000.0,
                                                   600}),
                         [](const auto& p) { return std::string(p.param.name); });

// Without the fade the same sweep spreads into the audible band: the test above can fail.
TEST(QuietChirp, AnAudibleChirpIsSynthesisedAsBefore) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.waveFormat.samplesPerSec = 48000;
  recomputeDerivedFormat(s.waveFormat);
  s.startFrequency = 15000;  // below the quiet band: no fade
  s.endFrequency = 20000;
  ASSERT_TRUE(planBuffers(s));
  const std::vector<double> x = playedChannel(s, 0);
  double firstSwing = 0.0;
  for (size_t i = 0; i < 6; ++i) firstSwing = std::max(firstSwing, std::fabs(x[i]));
  EXPECT_GT(firstSwing, 10000.0) << "starts at full swing";
  const double band = bandEnergy(x, 48000.0, 15000.0, 20000.0);
  const double below = bandEnergy(x, 48000.0, 0.0, 14000.0);
  EXPECT_LT(10.0 * std::log10(band / below), 40.0);
}

TEST(QuietChirp, TheLoadedRateKeepsItsOffsetsAndTheOthersStay) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.waveFormat.samplesPerSec = 48000;
  recomputeDerivedFormat(s.waveFormat);
  s.offsetBytes = 700;  // found by the offset search at this rate
  s.recordTime = 60;
  applyQuietChirp(s);
  EXPECT_EQ(s.offsetBytes, 700u);
  EXPECT_EQ(s.recordTime, 60u);
  EXPECT_EQ(s.chirpTime, kQuietChirpTimeUs);
  EXPECT_EQ(s.waveFormat.avgBytesPerSec, 192000u);
}

TEST(ArrivalGain, AScaledDelayedCopyGivesItsScale) {
  std::vector<int16_t> chirp(200);
  for (size_t i = 0; i < chirp.size(); ++i) {
    chirp[i] = static_cast<int16_t>(20000.0 * std::sin(0.002 * static_cast<double>(i * i)));
  }
  std::vector<int16_t> recording(1000, 0);
  for (size_t i = 0; i < chirp.size(); ++i) recording[337 + i] = static_cast<int16_t>(chirp[i] / 4);
  EXPECT_NEAR(arrivalGain(recording, chirp), 0.25, 0.001);
  EXPECT_EQ(arrivalGain(std::vector<int16_t>(1000, 0), chirp), 0.0);
  EXPECT_EQ(arrivalGain(std::vector<int16_t>(100, 5), chirp), 0.0) << "shorter than the chirp";

  QuietChirpReach reach{0.3, 0.03};
  EXPECT_NEAR(reach.levelDb(), -20.0, 1e-9);
  EXPECT_TRUE(reach.carried());
  reach.quietGain = 0.02;
  EXPECT_FALSE(reach.carried());
  EXPECT_FALSE((QuietChirpReach{0.0, 0.0}).heard());
}

}  // namespace
