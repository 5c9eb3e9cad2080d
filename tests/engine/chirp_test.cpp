#include "engine/chirp.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/buffer_plan.h"

namespace {

WaveFormat format(uint16_t channels, uint16_t bits, uint32_t rate) {
  WaveFormat f;
  f.formatTag = 1;
  f.channels = channels;
  f.bitsPerSample = bits;
  f.samplesPerSec = rate;
  recomputeDerivedFormat(f);
  return f;
}

TEST(Chirp16, DefaultPrefixAndLayout) {
  std::vector<uint8_t> buffer(2 * 352 + 5, 0xAA);
  std::vector<int32_t> reference(352 + 5, 99);
  makeChirp16(8000, 12000, buffer, 352, reference, format(2, 16, 44100));
  const std::vector<int32_t> prefix{0, 17724, 29836, 32405, 24525, 8670, -10052, -25525};
  EXPECT_EQ(std::vector<int32_t>(reference.begin(), reference.begin() + 8), prefix);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(buffer[i], 0) << i;
  EXPECT_EQ(buffer[6], 0x95);
  EXPECT_EQ(buffer[7], 0x7E);
  EXPECT_EQ(buffer[12], 0xBC);  // -10052, low byte first
  EXPECT_EQ(buffer[13], 0xD8);
  EXPECT_EQ(reference[356], 99);  // 356 computed entries, the margin entry stays
  // Samples run to index length + 1 (bytes 706, 707); the last margin byte is not written.
  EXPECT_NE(buffer[707], 0xAA);
  EXPECT_EQ(buffer[708], 0xAA);
}

TEST(Chirp16, NegativeValuesAreTwosComplementLittleEndian) {
  SonarSettings s;
  applyDefaultSettings(s);
  ASSERT_TRUE(planBuffers(s));
  for (uint32_t i = 3; i < s.outBufferBytes + 2; ++i) {
    const auto v = static_cast<uint16_t>(static_cast<int16_t>(s.chirpReference[i]));
    ASSERT_EQ(s.playBuffer[2 * i], v & 0xFF) << i;
    ASSERT_EQ(s.playBuffer[2 * i + 1], v >> 8) << i;
  }
}

TEST(Chirp8, StereoPrefixRunsToTheEnd) {
  std::vector<uint8_t> buffer(2 * 176 + 5, 0);
  std::vector<int32_t> reference(176 + 5, 99);
  makeChirp8(8000, 12000, buffer, 176, reference, format(2, 8, 44100));
  const std::vector<int32_t> prefix{0, 68, 115, 125, 93, 30, -43, -102};
  EXPECT_EQ(std::vector<int32_t>(reference.begin(), reference.begin() + 8), prefix);
  EXPECT_EQ(buffer[0], 128);
  EXPECT_EQ(buffer[2], 128);
  EXPECT_EQ(buffer[3], 253);
  EXPECT_NE(reference[179], 99);  // all 180 values computed
  EXPECT_EQ(reference[180], 99);
}

struct StopCase {
  const char* name;
  uint16_t channels;
  double start, end;
  uint32_t length;
  uint32_t firstUntouched;  // reference index from which nothing was written
};

class Chirp8Stop : public testing::TestWithParam<StopCase> {};

TEST_P(Chirp8Stop, StopsWhenTheRunningFrequencyPassesTheEnd) {
  const StopCase& c = GetParam();
  std::vector<uint8_t> buffer(2 * c.length + 5, 7);
  std::vector<int32_t> reference(c.length + 5, 99);
  makeChirp8(c.start, c.end, buffer, c.length, reference, format(c.channels, 8, 44100));
  for (uint32_t i = c.firstUntouched; i < reference.size(); ++i) EXPECT_EQ(reference[i], 99) << i;
  if (c.firstUntouched > 0) {
    EXPECT_NE(reference[c.firstUntouched - 1], 99);
  }
  for (uint32_t i = 0; i < c.length; ++i) {
    if (i < 3 || i >= c.firstUntouched) {
      EXPECT_EQ(buffer[i], 128) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Chirp8Stop,
    testing::Values(StopCase{"monoUpSweepStopsAtLength", 1, 8000, 12000, 100, 100},
                    StopCase{"stereoDownFromAboveTwiceEnd", 2, 12000, 5000, 8, 0},
                    StopCase{"monoDownSweep", 1, 12000, 8000, 50, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Chirp, LengthZero) {
  std::vector<uint8_t> buffer(5, 0xAA);
  std::vector<int32_t> reference(5, 99);
  makeChirp16(8000, 12000, buffer, 0, reference, format(2, 16, 44100));
  EXPECT_EQ(buffer[3], 0);
  EXPECT_EQ(buffer[4], 0xAA);
  EXPECT_NE(reference[1], 99);
  EXPECT_EQ(reference[4], 99);
}

TEST(Chirp, StaleLengthNeverWritesPastTheSpans) {
  // A length left over from a failed plan, with buffers of the previous plan: sanitizers would
  // flag any write past these vectors.
  std::vector<uint8_t> buffer(16, 0);
  std::vector<int32_t> reference(8, 0);
  makeChirp16(8000, 12000, buffer, 4000000000u, reference, format(2, 16, 44100));
  makeChirp8(8000, 12000, buffer, 4000000000u, reference, format(2, 8, 44100));
  makeChirp16(8000, 12000, buffer, 100, reference, format(2, 16, 0));  // zero rate: NaN angles
  SUCCEED();
}

}  // namespace
