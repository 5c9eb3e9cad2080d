#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "audio_test_support.h"
#include "engine/correlation.h"

namespace {

struct FormatCase {
  const char* name;
  uint16_t channels;
  uint16_t bits;
  uint32_t rate;
  uint32_t offsetBytes;  // the correlation starts here; it must lie before the direct sound
  double latencyMs;
};

class SimDirectArrival : public testing::TestWithParam<FormatCase> {};

// The offset finder reports the sixth lag above 40 % of the peak: within a few lags of the true
// arrival (ahead of it for 16-bit chirps, just after it for the 8-bit one).
TEST_P(SimDirectArrival, FoundOffsetIsWhereTheLatencyPutsTheChirp) {
  const FormatCase& c = GetParam();
  SimRig rig(quietRoom(c.latencyMs, 0.3, 30));
  rig.settings.offsetBytes = c.offsetBytes;
  rig.useFormat(c.channels, c.bits, c.rate);
  ASSERT_EQ(rig.open(), kWaveOk);
  const MeasurementResult r = rig.measure();
  ASSERT_EQ(r.warmUp, kWaveOk);
  ASSERT_EQ(r.ping, kWaveOk);
  const double expected = directLag(c.latencyMs, rig.settings.waveFormat);
  EXPECT_GE(r.arrival.offset, expected - 10.0) << c.name;
  EXPECT_LE(r.arrival.offset, expected + 4.0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Formats, SimDirectArrival,
                         testing::Values(FormatCase{"stereo16_44k", 2, 16, 44100, 600, 7.4},
                                         FormatCase{"stereo16_44k_late", 2, 16, 44100, 600, 21.13},
                                         FormatCase{"mono16_44k", 1, 16, 44100, 300, 9.0},
                                         FormatCase{"stereo8_44k", 2, 8, 44100, 600, 8.2},
                                         FormatCase{"mono8_44k", 1, 8, 44100, 300, 12.5}),
                         [](const auto& named) { return std::string(named.param.name); });

struct EchoCase {
  const char* name;
  double distanceM;
};

class SimReflector : public testing::TestWithParam<EchoCase> {};

// A single reflector makes the strongest envelope bin past the direct sound's own lobe the one
// its distance implies.
TEST_P(SimReflector, PeaksInTheEnvelopeBinOfItsDistance) {
  SimRoom room = quietRoom(7.4, 0.3, 30);
  room.echoes = {{GetParam().distanceM, 0.1}};
  SimRig rig(room);
  ASSERT_EQ(rig.open(), kWaveOk);
  const MeasurementResult r = rig.measure();
  const SonarSettings& s = rig.settings;
  const double last = (s.inBufferBytes - s.outBufferBytes) / 2.0;
  const double binWidth = std::trunc((last - s.offsetBytes) * 0.002277904328018223);
  const double echoLag = directLag(7.4, s.waveFormat) +
                         2.0 * GetParam().distanceM / speedOfSound(kAir) * 44100.0 * 2.0;
  const double expectedBin = (echoLag - r.arrival.offset) / binWidth;
  const auto from = s.correlationBuffer.begin() + 15;
  const auto peak = std::max_element(from, s.correlationBuffer.begin() + kEnvelopeBins);
  EXPECT_NEAR(static_cast<double>(peak - s.correlationBuffer.begin()), expectedBin, 1.5);
}

INSTANTIATE_TEST_SUITE_P(Distances, SimReflector,
                         testing::Values(EchoCase{"half_metre", 0.5}, EchoCase{"metre_20", 1.2},
                                         EchoCase{"metres_2_6", 2.6}),
                         [](const auto& named) { return std::string(named.param.name); });

// Sub-sample delays are real: a sine played through a silent room comes back as the same sine,
// shifted by exactly the latency, to within rounding.
TEST(SimPhysics, FractionalLatencyShiftsASineExactly) {
  for (const double latencyMs : {2.0, 2.0113, 3.33337}) {
    SimRig rig(quietRoom(latencyMs, 0.5, 0));
    rig.useFormat(1, 16, 44100);
    std::vector<uint8_t> play(8000), record(8000);
    const double amplitude = 10000.0, hz = 1000.0;
    for (size_t n = 0; n < play.size() / 2; ++n) {
      const auto v = static_cast<int16_t>(
          std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * n / 44100.0)));
      play[2 * n] = static_cast<uint8_t>(v & 0xFF);
      play[2 * n + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
    }
    ASSERT_EQ(openPair(*rig.backend, rig.pair, rig.settings.waveFormat, play, 8000, record, 8000),
              kWaveOk);
    ASSERT_EQ(pingPair(*rig.backend, rig.pair), kWaveOk);
    double worst = 0.0;
    for (size_t n = 300; n < 3700; ++n) {  // clear of the sine's switched-on edges
      const double t = n / 44100.0 - latencyMs / 1000.0;
      const double want = 0.5 * amplitude * std::sin(2 * std::numbers::pi * hz * t);
      const auto got = static_cast<int16_t>(record[2 * n] | (record[2 * n + 1] << 8));
      worst = std::max(worst, std::abs(got - want));
    }
    EXPECT_LT(worst, 2.0) << "latency " << latencyMs << " ms";
  }
}

double rms16(std::span<const uint8_t> bytes) {
  double sum = 0.0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const double v = static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8));
    sum += v * v;
  }
  return std::sqrt(sum / static_cast<double>(bytes.size() / 2));
}

// Capture starts at startCapture and hears only what has been played: the warm-up after a ping,
// once the echoes have died away, is the room's noise and nothing else.
TEST(SimRoomSound, WarmUpAfterAPingIsNoiseOnly) {
  SimRig rig;
  ASSERT_EQ(rig.open(), kWaveOk);
  ASSERT_EQ(rig.measure().ping, kWaveOk);
  EXPECT_GT(rms16(rig.settings.recordBuffer), 500.0);
  ASSERT_EQ(flushInput(*rig.backend, rig.pair, rig.settings.waveFormat), kWaveOk);
  EXPECT_NEAR(rms16(rig.pair.warmUpScratch), 30.0, 3.0);
}

TEST(SimRoomSound, NoiseAloneMatchesWeaklyAndSilenceNotAtAll) {
  SimRig loud(quietRoom(7.4, 0.3, 30));
  SimRig noisy(quietRoom(7.4, 0.0, 30));
  SimRig silent(quietRoom(7.4, 0.0, 0));
  for (SimRig* rig : {&loud, &noisy, &silent}) ASSERT_EQ(rig->open(), kWaveOk);
  const MeasurementResult withChirp = loud.measure();
  const MeasurementResult noiseOnly = noisy.measure();
  const MeasurementResult nothing = silent.measure();
  EXPECT_LT(noiseOnly.peakAmplitude, withChirp.peakAmplitude / 100);
  EXPECT_EQ(nothing.peakAmplitude, 0u);
  EXPECT_EQ(nothing.arrival.offset, kDefaultOffset);
  EXPECT_TRUE(std::all_of(silent.settings.recordBuffer.begin(),
                          silent.settings.recordBuffer.begin() + 1000,
                          [](uint8_t b) { return b == 0; }));
}

TEST(SimRoomSound, EightBitSilenceIsTheMidpoint) {
  SimRig rig(quietRoom(7.4, 0.0, 0));
  rig.useFormat(1, 8, 8000);
  ASSERT_EQ(rig.open(), kWaveOk);
  ASSERT_EQ(rig.measure().ping, kWaveOk);
  const auto& rec = rig.settings.recordBuffer;
  const uint32_t recorded = rig.settings.inBufferBytes + 1000;
  EXPECT_TRUE(std::all_of(rec.begin(), rec.begin() + recorded, [](uint8_t b) { return b == 128; }));
}

TEST(SimRoomSound, SameSeedSameBytesOtherSeedOtherBytes) {
  SimRoom other = defaultSimRoom();
  other.seed = 2;
  SimRig a, b, c(other);
  for (SimRig* rig : {&a, &b, &c}) ASSERT_EQ(rig->open(), kWaveOk);
  for (int i = 0; i < 3; ++i) {
    a.measure();
    b.measure();
    c.measure();
    EXPECT_EQ(a.settings.recordBuffer, b.settings.recordBuffer) << "ping " << i;
    EXPECT_NE(a.settings.recordBuffer, c.settings.recordBuffer) << "ping " << i;
  }
}

// The clock moves only as far as the buffers need: a warm-up takes exactly its 15000 bytes.
TEST(SimClock, ABufferCompletesWhenItsLastFrameIsCaptured) {
  SimRig rig;
  ASSERT_EQ(rig.open(), kWaveOk);
  const uint64_t before = rig.sim->nowTicks();
  ASSERT_EQ(flushInput(*rig.backend, rig.pair, rig.settings.waveFormat), kWaveOk);
  EXPECT_EQ(rig.sim->nowTicks() - before, 15000u / 4 * (kSimTicksPerSecond / 44100));
  const uint64_t pingStart = rig.sim->nowTicks();
  ASSERT_EQ(pingPair(*rig.backend, rig.pair), kWaveOk);
  const uint64_t frames = (rig.settings.inBufferBytes + 1000 + 3) / 4;
  EXPECT_EQ(rig.sim->nowTicks() - pingStart, frames * (kSimTicksPerSecond / 44100));
}

TEST(SimDevices, RefuseFormatsAndHandlesTheyCannotRun) {
  SimRig rig;
  WaveFormat f = rig.settings.waveFormat;
  StreamHandle h = 0;
  f.samplesPerSec = 12345;
  recomputeDerivedFormat(f);
  EXPECT_EQ(rig.backend->open(StreamDirection::kInput, f, h), kWaveBadFormat);
  EXPECT_EQ(h, 0u);
  f = rig.settings.waveFormat;
  f.bitsPerSample = 12;
  recomputeDerivedFormat(f);
  EXPECT_EQ(rig.backend->open(StreamDirection::kOutput, f, h), kWaveBadFormat);
  WaveHeader header;
  EXPECT_EQ(rig.backend->prepare(42, header), kWaveBadHandle);
  EXPECT_EQ(rig.backend->close(42), kWaveBadHandle);
  ASSERT_EQ(rig.backend->open(StreamDirection::kOutput, rig.settings.waveFormat, h), kWaveOk);
  EXPECT_EQ(rig.backend->writePlayback(h, header), kWaveNotPrepared);
  EXPECT_EQ(rig.backend->startCapture(h), kWaveBadHandle);  // an output has no capture
  EXPECT_EQ(rig.backend->close(h), kWaveOk);
  EXPECT_EQ(rig.backend->close(h), kWaveBadHandle);
}

// What the seam refuses for every back end, the room refuses too; a byte rate that does not match
// the format is the room's own refusal on top.
TEST(SimDevices, RefuseEveryFormatTheSeamRefuses) {
  SimRig rig;
  const WaveFormat good = rig.settings.waveFormat;
  ASSERT_TRUE(isRunnablePcm(good));
  std::vector<WaveFormat> bad(6, good);
  bad[0].formatTag = 3;  // IEEE float
  bad[1].channels = 3;
  bad[2].bitsPerSample = 24;
  bad[3].blockAlign = 2;  // stereo 16-bit needs 4
  bad[4].samplesPerSec = 0;
  bad[5].channels = 0;
  for (size_t i = 0; i < bad.size(); ++i) {
    StreamHandle h = 0;
    EXPECT_FALSE(isRunnablePcm(bad[i])) << i;
    EXPECT_EQ(rig.backend->open(StreamDirection::kOutput, bad[i], h), kWaveBadFormat) << i;
  }
  WaveFormat rate = good;
  rate.avgBytesPerSec += 1;
  StreamHandle h = 0;
  EXPECT_TRUE(isRunnablePcm(rate));
  EXPECT_EQ(rig.backend->open(StreamDirection::kInput, rate, h), kWaveBadFormat);
}

// Nothing piles up over a long run: the played sound is forgotten once no capture can hear it.
TEST(SimDevices, LongRunsKeepNothing) {
  SimRig rig;
  ASSERT_EQ(rig.open(), kWaveOk);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(rig.measure().ping, kWaveOk);
  EXPECT_LE(rig.sim->playedSegments(), 1u);
  EXPECT_EQ(rig.sim->preparedHeaders(), 2u);
  EXPECT_EQ(rig.sim->openStreams(), 2u);
  closePair(*rig.backend, rig.pair);
  EXPECT_EQ(rig.sim->openStreams(), 0u);
  EXPECT_EQ(rig.sim->preparedHeaders(), 0u);
}

}  // namespace
