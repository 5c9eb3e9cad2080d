#include "engine/buffer_plan.h"

#include <gtest/gtest.h>

namespace {

SonarSettings defaults() {
  SonarSettings s;
  applyDefaultSettings(s);
  return s;
}

TEST(BufferPlan, DefaultsGiveTheWorkedLengthsAndBufferSizes) {
  SonarSettings s = defaults();
  ASSERT_TRUE(planBuffers(s));
  EXPECT_EQ(s.inBufferBytes, 9670u);
  EXPECT_EQ(s.outBufferBytes, 352u);
  EXPECT_EQ(s.playBuffer.size(), 709u);
  EXPECT_EQ(s.recordBuffer.size(), 12622u);
  EXPECT_EQ(s.chirpReference.size(), 357u);
  EXPECT_EQ(s.recordSamples.size(), 12122u);
  EXPECT_EQ(s.correlationBuffer.size(), 12974u);
  EXPECT_EQ(s.correlationSums.size(), s.correlationBuffer.size());
}

struct LengthCase {
  const char* name;
  uint16_t channels, bits;
  uint32_t rate, recordTime, chirpTime, tuneScale, offset;
  bool ok;
  uint32_t in, out;
};

class PlanLengths : public testing::TestWithParam<LengthCase> {};

TEST_P(PlanLengths, DerivesLengths) {
  const LengthCase& c = GetParam();
  SonarSettings s = defaults();
  s.waveFormat.channels = c.channels;
  s.waveFormat.bitsPerSample = c.bits;
  s.waveFormat.samplesPerSec = c.rate;
  s.recordTime = c.recordTime;
  s.chirpTime = c.chirpTime;
  s.tuneScale = c.tuneScale;
  s.offsetBytes = c.offset;
  EXPECT_EQ(planBuffers(s), c.ok);
  EXPECT_EQ(s.inBufferBytes, c.in);
  EXPECT_EQ(s.outBufferBytes, c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlanLengths,
    testing::Values(
        LengthCase{"eightBit8k", 1, 8, 8000, 48, 2000, 2, 75, true, 845, 32},
        LengthCase{"monoSixteenSameAsStereo", 1, 16, 44100, 48, 2000, 2, 600, true, 9670, 352},
        LengthCase{"chirpTimeZero", 2, 16, 44100, 48, 0, 2, 600, true, 9670, 0},
        LengthCase{"recordTimeZero", 2, 16, 44100, 0, 2000, 2, 600, true, 1204, 352},
        LengthCase{"record3600Passes", 2, 16, 44100, 3600, 2000, 2, 600, true, 636244, 352},
        LengthCase{"record3700Fails", 2, 16, 44100, 3700, 2000, 2, 600, false, 18706, 352},
        LengthCase{"exactly650250", 2, 8, 44100, 0, 2000, 649650, 600, true, 650250, 176},
        LengthCase{"just650251", 2, 8, 44100, 0, 2000, 649651, 600, false, 18706, 176},
        LengthCase{"chirpTooLong", 2, 16, 44100, 48, 4000000, 2, 600, false, 9670, 352},
        LengthCase{"bothTooLongKeepsOversizedChirp", 2, 16, 44100, 3700, 4000000, 2, 600, false,
                   18706, 705600}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(BufferPlan, FailedLengthLeavesBuffersUntouched) {
  SonarSettings s = defaults();
  ASSERT_TRUE(planBuffers(s));
  const auto* play = s.playBuffer.data();
  s.recordTime = 3700;
  EXPECT_FALSE(planBuffers(s));
  EXPECT_EQ(s.playBuffer.data(), play);
  EXPECT_EQ(s.playBuffer.size(), 709u);
}

TEST(BufferPlan, UnallocatableOffsetKeepsPreviousLengthsAndBuffers) {
  SonarSettings s = defaults();
  ASSERT_TRUE(planBuffers(s));
  // tuneScale + offsetBytes wraps to 100 in 32 bits, so the lengths pass while the offset
  // would ask for gigabytes of record buffer.
  s.offsetBytes = 0xFFFFFF00u;
  s.tuneScale = 0x164;
  EXPECT_FALSE(planBuffers(s));
  EXPECT_EQ(s.inBufferBytes, 9670u);
  EXPECT_EQ(s.outBufferBytes, 352u);
  EXPECT_EQ(s.recordBuffer.size(), 12622u);
}

TEST(BufferPlan, RecordingBuffersStartZeroed) {
  SonarSettings s = defaults();
  ASSERT_TRUE(planBuffers(s));
  s.recordBuffer.assign(s.recordBuffer.size(), 7);
  s.recordSamples.assign(s.recordSamples.size(), 7);
  ASSERT_TRUE(planBuffers(s));
  for (uint8_t b : s.recordBuffer) ASSERT_EQ(b, 0);
  for (int16_t v : s.recordSamples) ASSERT_EQ(v, 0);
}

TEST(BufferPlan, DoublingCannotWrapUnderTheLimit) {
  SonarSettings s = defaults();
  // 2^31 + 301 bytes before doubling would wrap to 602 in 32 bits.
  s.recordTime = 0;
  s.tuneScale = 0x80000000u + 1;
  s.offsetBytes = 300;
  EXPECT_FALSE(planBuffers(s));
  EXPECT_EQ(s.inBufferBytes, 18706u);
}

}  // namespace
