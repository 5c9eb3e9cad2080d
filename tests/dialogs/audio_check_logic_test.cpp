#include "dialogs/audio_check_logic.h"

#include <gtest/gtest.h>

#include "engine/buffer_plan.h"
#include "test_program.h"

namespace {

int16_t recordedValue(const SonarSettings& s, size_t i) {
  return static_cast<int16_t>(s.recordBuffer[2 * i] | (s.recordBuffer[2 * i + 1] << 8));
}

TEST_F(ProgramTest, AudioCheckPlansTheSweepAndCopiesItsRecording) {
  runAudioCheck(program, shell);
  const SonarSettings& s = settings();
  EXPECT_EQ(s.recordTime, 900u);
  EXPECT_EQ(s.chirpTime, 900000u);
  EXPECT_EQ(s.startFrequency, 20u);
  EXPECT_EQ(s.endFrequency, 20000u);
  EXPECT_EQ(s.outBufferBytes, 158758u);
  EXPECT_EQ(s.inBufferBytes, 159964u);

  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].text, "The sound was successfully recorded. ");
  EXPECT_EQ(shell.messages[0].caption, "Info.");
  EXPECT_EQ(shell.messages[0].owner, MessageOwner::kNoOwner);
  EXPECT_GE(shell.progress.size(), 10u) << "the windows stay painted between the steps";

  // Entries 600 to 79981 hold the recording read as 16-bit values; the rest are untouched.
  EXPECT_EQ(s.recordSamples[599], 0);
  EXPECT_EQ(s.recordSamples[79982], 0);
  int nonZero = 0;
  for (size_t i = 600; i < 79982; ++i) {
    ASSERT_EQ(s.recordSamples[i], recordedValue(s, i)) << i;
    nonZero += s.recordSamples[i] != 0;
  }
  EXPECT_GT(nonZero, 70000) << "the sweep came back";
}

TEST(AudioCheckCopyTest, ReadsLittleEndianPairsWhateverTheFormat) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.waveFormat.bitsPerSample = 8;
  s.waveFormat.blockAlign = 2;
  s.offsetBytes = 2;
  ASSERT_TRUE(planBuffers(s));
  s.recordBuffer[4] = 0x34;
  s.recordBuffer[5] = 0x12;
  s.recordBuffer[6] = 0xFF;
  s.recordBuffer[7] = 0xFF;
  s.recordSamples[1] = 77;
  copyCheckRecording(s);
  EXPECT_EQ(s.recordSamples[1], 77);
  EXPECT_EQ(s.recordSamples[2], 0x1234);
  EXPECT_EQ(s.recordSamples[3], -1);
}

TEST(AudioCheckCopyTest, StaysInsideBuffersThatAFailedPlanLeft) {
  SonarSettings s;
  applyDefaultSettings(s);
  ASSERT_TRUE(planBuffers(s));
  // A failed plan leaves its placeholder length with the smaller buffers of the last plan.
  s.inBufferBytes = 18706 * 4;
  s.offsetBytes = 0;
  std::fill(s.recordBuffer.begin(), s.recordBuffer.end(), 0x01);
  copyCheckRecording(s);  // AddressSanitizer catches a read or write past either buffer
  EXPECT_EQ(s.recordSamples[0], 0x0101);
  EXPECT_EQ(s.recordSamples[s.recordBuffer.size() / 2 - 1], 0x0101);
}

}  // namespace
