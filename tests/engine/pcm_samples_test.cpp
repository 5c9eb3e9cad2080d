#include "engine/pcm_samples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/window.h"

namespace {

// Byte patterns of the two formats as a WAV file stores them.
TEST(PcmSamples, DecodesBothFormatsAndReadsSilencePastTheEnd) {
  const std::vector<uint8_t> wide = {0x00, 0x80, 0xff, 0x7f, 0x01, 0x00, 0xff, 0xff, 0x34};
  EXPECT_EQ(pcm16At(wide, 0), -32768);
  EXPECT_EQ(pcm16At(wide, 1), 32767);
  EXPECT_EQ(pcm16At(wide, 2), 1);
  EXPECT_EQ(pcm16At(wide, 3), -1);
  EXPECT_EQ(pcm16At(wide, 4), 0x34);  // a lone last byte is the low half of its sample
  EXPECT_EQ(pcm16At(wide, 5), 0);
  EXPECT_EQ(pcm16At(wide, uint64_t{1} << 63), 0);  // 2i wraps to 0: still past the end
  EXPECT_EQ(pcmSampleCount(wide, true), 4u);

  const std::vector<uint8_t> narrow = {0, 128, 255, 127};
  EXPECT_EQ(pcm8At(narrow, 0), -128);
  EXPECT_EQ(pcm8At(narrow, 1), 0);
  EXPECT_EQ(pcm8At(narrow, 2), 127);
  EXPECT_EQ(pcm8At(narrow, 3), -1);
  EXPECT_EQ(pcm8At(narrow, 4), 0);
  EXPECT_EQ(pcmSampleAt(narrow, 2, false), 127);
  EXPECT_EQ(pcmSampleAt(narrow, 0, true), -32768);  // 0x00, 0x80 read as one 16-bit sample
  EXPECT_EQ(pcmSampleCount(narrow, false), 4u);
}

// A correlation refreshes only the samples it reads; the rest keep what they held.
TEST(PcmSamples, RefreshTouchesOnlyItsRangeAndNeverPastEitherBuffer) {
  const std::vector<uint8_t> recording = {0x10, 0x00, 0x20, 0x00, 0x30, 0x00, 0x40};
  std::vector<int16_t> samples(6, -7);
  refreshSamples(samples, recording, 1, 100);
  EXPECT_EQ(samples, (std::vector<int16_t>{-7, 0x20, 0x30, 0x40, 0, 0}));

  std::vector<int16_t> two(2, -7);
  refreshSamples(two, recording, 1, 2);
  EXPECT_EQ(two, (std::vector<int16_t>{-7, 0x20}));
  refreshSamples(two, {}, 0, 5);
  EXPECT_EQ(two, (std::vector<int16_t>{0, 0}));
}

TEST(Window, IsTheBlackmanWindowFromEitherEntry) {
  for (double u = -8.0; u <= 8.0; u += 0.25) {
    const double a = std::numbers::pi * u / 8.0;
    const double textbook = 0.42 + 0.5 * std::cos(a) + 0.08 * std::cos(2.0 * a);
    EXPECT_NEAR(blackmanWindow(u, 8.0), textbook, 1e-15) << u;
    EXPECT_NEAR(blackmanOfCos(std::cos(a)), textbook, 1e-15) << u;
  }
  EXPECT_DOUBLE_EQ(blackmanWindow(0.0, 8.0), 1.0);
  EXPECT_NEAR(blackmanWindow(8.0, 8.0), 0.0, 1e-15);
}

}  // namespace
