#include "engine/correlation.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/buffer_plan.h"

namespace {

WaveFormat eightBit() {
  WaveFormat f;
  f.formatTag = 1;
  f.channels = 1;
  f.bitsPerSample = 8;
  f.samplesPerSec = 8000;
  recomputeDerivedFormat(f);
  return f;
}

struct Buffers {
  std::vector<int16_t> samples;
  std::vector<int32_t> output;
  std::vector<int64_t> sums;
  explicit Buffers(size_t n) : samples(n, 0), output(n, -1), sums(n, 0) {}
};

TEST(CorrelateEcho, SmallEightBitExample) {
  const std::vector<int32_t> templ{0, 0, 0, 0, 2, -1};
  const std::vector<uint8_t> rec{128, 128, 128, 128, 130, 126, 129, 128, 128};
  Buffers b(16);
  const uint32_t result =
      correlateEcho(2, 6, 0, b.samples, templ, rec, b.output, b.sums, eightBit(), 300);
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(b.sums[0], 6);
  EXPECT_EQ(b.sums[1], -5);
  EXPECT_EQ(b.sums[2], 2);
  EXPECT_EQ(b.output[0], 300);
  EXPECT_EQ(b.output[1], 250);
  EXPECT_EQ(b.output[2], 100);
  EXPECT_EQ(b.output[3], -1);  // lags past end are not touched
}

TEST(CorrelateEcho, TemplateOfFourOrLessGivesZeros) {
  const std::vector<int32_t> templ{5, 5, 5, 5};
  const std::vector<uint8_t> rec(64, 200);
  Buffers b(64);
  EXPECT_EQ(correlateEcho(10, 4, 0, b.samples, templ, rec, b.output, b.sums, eightBit(), 300), 0u);
  for (int i = 0; i <= 10; ++i) EXPECT_EQ(b.output[i], 0);
}

TEST(CorrelateEcho, NegativePeakScalesToLevel) {
  const std::vector<int32_t> templ{0, 0, 0, 0, 1};
  const std::vector<uint8_t> rec{128, 128, 128, 128, 28, 178};  // -100 then +50
  Buffers b(8);
  correlateEcho(1, 5, 0, b.samples, templ, rec, b.output, b.sums, eightBit(), 300);
  EXPECT_EQ(b.output[0], 300);
  EXPECT_EQ(b.output[1], 150);
}

TEST(CorrelateEcho, DefaultTimedPingRefreshesSamplesInRange) {
  SonarSettings s;
  applyDefaultSettings(s);
  ASSERT_TRUE(planBuffers(s));
  s.recordSamples.assign(s.recordSamples.size(), 77);
  s.recordBuffer.assign(s.recordBuffer.size(), 0);
  correlateEcho(s.inBufferBytes + 1000, s.outBufferBytes, s.offsetBytes, s.recordSamples,
                s.chirpReference, s.recordBuffer, s.correlationBuffer, s.correlationSums,
                s.waveFormat, s.amplification);
  EXPECT_EQ(s.recordSamples[599], 77);
  EXPECT_EQ(s.recordSamples[600], 0);
  EXPECT_EQ(s.recordSamples[5334], 0);
  EXPECT_EQ(s.recordSamples[5335], 77);
}

// A recording made of the chirp itself at a known lag plus a weaker echo: the analysis must find
// the direct arrival there and put the echo into the envelope bin its lag implies. The direct
// sound is full scale, so the sums are far beyond 32 bits.
class PlantedRecording : public testing::Test {
 protected:
  void SetUp() override {
    applyDefaultSettings(s);
    ASSERT_TRUE(planBuffers(s));
    plant(kDirect, 1.0);
    plant(kDirect + kEchoLag, 0.25);
  }
  void plant(uint32_t lag, double gain) {
    for (uint32_t i = 3; i < s.outBufferBytes + 2; ++i) {
      auto v = static_cast<int16_t>(s.chirpReference[i] * gain);
      const uint32_t k = lag + i;
      const auto old =
          static_cast<int16_t>(s.recordBuffer[2 * k] | (s.recordBuffer[2 * k + 1] << 8));
      v = static_cast<int16_t>(v + old);
      s.recordBuffer[2 * k] = static_cast<uint8_t>(v & 0xFF);
      s.recordBuffer[2 * k + 1] = static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF);
    }
  }
  static constexpr uint32_t kDirect = 1400;
  static constexpr uint32_t kEchoLag = 1500;
  SonarSettings s;
};

TEST_F(PlantedRecording, FindsDirectArrivalAndEchoBin) {
  const uint32_t peak = correlateEcho(s.inBufferBytes + 1000, s.outBufferBytes, s.offsetBytes,
                                      s.recordSamples, s.chirpReference, s.recordBuffer,
                                      s.correlationBuffer, s.correlationSums, s.waveFormat, 300);
  int64_t energy = 0;
  for (uint32_t j = 4; j < s.outBufferBytes; ++j) {
    energy += static_cast<int64_t>(s.chirpReference[j]) * s.chirpReference[j];
  }
  EXPECT_GT(energy, int64_t{1} << 31);
  EXPECT_EQ(s.correlationSums[kDirect], energy);
  EXPECT_EQ(peak, static_cast<uint32_t>(energy / 255));
  EXPECT_EQ(s.correlationBuffer[kDirect], 300);

  const DirectArrival arrival =
      findDirectPath(s.inBufferBytes, static_cast<int32_t>(s.outBufferBytes), s.offsetBytes,
                     s.correlationBuffer, s.waveFormat);
  EXPECT_TRUE(arrival.found);
  const uint32_t found = arrival.offset;
  EXPECT_NEAR(found, kDirect, 8);
  const uint32_t width = 9;  // (4659 - 600) / 439
  const uint32_t echoBin = (kDirect + kEchoLag - found) / width;
  uint32_t strongest = 10;
  for (uint32_t k = 10; k < kEnvelopeBins; ++k) {
    if (s.correlationBuffer[k] > s.correlationBuffer[strongest]) strongest = k;
  }
  EXPECT_NEAR(strongest, echoBin, 1);
  EXPECT_NEAR(s.correlationBuffer[strongest], 75, 3);
}

TEST(FindDirectPath, SixthHitSetsTheOffset) {
  std::vector<int32_t> buffer(5000, 0);
  for (int j : {700, 710, 720, 730, 740}) buffer[j] = 121;
  buffer[750] = 120;  // exactly the threshold is not a hit
  WaveFormat f = eightBit();
  std::vector<int32_t> five = buffer;
  const DirectArrival none = findDirectPath(4835, 0, 600, five, f);
  EXPECT_EQ(none.offset, 600u);  // what the scan state stores and the reports show
  EXPECT_FALSE(none.found);
  buffer[760] = 121;
  const DirectArrival sixth = findDirectPath(4835, 0, 600, buffer, f);
  EXPECT_EQ(sixth.offset, 760u);
  EXPECT_TRUE(sixth.found);
}

TEST(FindDirectPath, AnArrivalAtTheDefaultLagIsFound) {
  // An offset below 596 lets the sixth hit fall on lag 600, the value that also stands in for
  // "nothing found".
  std::vector<int32_t> buffer(5000, 0);
  for (int j = 595; j <= 600; ++j) buffer[static_cast<size_t>(j)] = 200;
  const DirectArrival arrival = findDirectPath(4835, 0, 500, buffer, eightBit());
  EXPECT_EQ(arrival.offset, kDefaultOffset);
  EXPECT_TRUE(arrival.found);
}

TEST(FindDirectPath, BinWidthsAndSharedNeighbours) {
  WaveFormat sixteen = eightBit();
  sixteen.bitsPerSample = 16;
  std::vector<int32_t> buffer(12974, 0);
  buffer[600 + 9] = 50;  // last entry of bin 0 and first of bin 1
  findDirectPath(9670, 352, 600, buffer, sixteen);
  EXPECT_EQ(buffer[0], 50);
  EXPECT_EQ(buffer[1], 50);
  EXPECT_EQ(buffer[2], 0);

  std::vector<int32_t> eight(12974, 0);
  eight[600 + 18] = 9;  // width 9 at in length 4835: bins 1 and 2 share entry 18
  findDirectPath(4835, 0, 600, eight, eightBit());
  EXPECT_EQ(eight[1], 9);
  EXPECT_EQ(eight[2], 9);
}

TEST(FindDirectPath, ChirpLongerThanRecordingScansNothing) {
  WaveFormat sixteen = eightBit();
  sixteen.bitsPerSample = 16;
  std::vector<int32_t> buffer(4000, 500);
  const DirectArrival arrival = findDirectPath(1000, 1200, 10, buffer, sixteen);
  EXPECT_EQ(arrival.offset, 600u);
  EXPECT_FALSE(arrival.found);
  for (uint32_t k = 0; k < kEnvelopeBins; ++k) ASSERT_EQ(buffer[k], 500);
}

TEST(Correlation, StaleSettingsStayInsideTheBuffers) {
  // Lengths far beyond the spans, as a loaded file or a failed plan leaves them.
  std::vector<int16_t> samples(50, 0);
  std::vector<int32_t> templ(20, 1000);
  std::vector<uint8_t> rec(60, 255);
  std::vector<int32_t> out(40, 0);
  std::vector<int64_t> sums(40, 0);
  WaveFormat sixteen = eightBit();
  sixteen.bitsPerSample = 16;
  for (const WaveFormat& f : {eightBit(), sixteen}) {
    correlateEcho(4000000000u, 4000000000u, 3, samples, templ, rec, out, sums, f, INT32_MIN);
    findDirectPath(4000000000u, -5, 2, out, f);
    findDirectPath(100, 0, 4000000000u, out, f);
  }
  for (int32_t v : out) EXPECT_GE(v, 0);
}

}  // namespace
