#include "dialogs/out_signal_logic.h"

#include <gtest/gtest.h>

#include "app/chirp_warning.h"

#include "case_name.h"

#include "test_program.h"

namespace {

struct DistanceCase {
  const char* name;
  uint32_t recordTimeMs;
  uint32_t chirpTimeUs;
  int8_t medium;
  uint32_t shown;
};

class MaxDistanceTest : public testing::TestWithParam<DistanceCase> {};

TEST_P(MaxDistanceTest, TruncatesAndShowsUnsigned) {
  const DistanceCase& c = GetParam();
  EXPECT_EQ(maxDistanceShown(c.recordTimeMs, c.chirpTimeUs, c.medium), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Media, MaxDistanceTest,
                         testing::Values(DistanceCase{"Air", 48, 2000, kAir, 7},        // 7.9028
                                         DistanceCase{"Water", 48, 2000, kWater, 34},   // 34.316
                                         DistanceCase{"Steel", 48, 2000, kSteel, 103},  // 103.822
                                         DistanceCase{"Granite", 48, 2000, kGranite, 23},
                                         // (10 - 40) * 0.1718 = -5.154: the field shows -5 wrapped.
                                         DistanceCase{"ChirpLongerThanRecording", 10, 40000, kAir,
                                                      4294967291u},
                                         DistanceCase{"UnknownMediumZero", 48, 2000, 0, 0},
                                         DistanceCase{"UnknownMediumFive", 48, 2000, 5, 0},
                                         DistanceCase{"UnknownMediumNegative", 48, 2000, -1, 0}),
                         caseName<DistanceCase>);

TEST(OutSignalControlsTest, OpeningAndReadingTheGroups) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.medium = kSteel;
  s.chirpShape = 1;
  OutSignalControls c = outSignalControlsFor(s);
  EXPECT_EQ(c.mediumChecked, (std::array<bool, 4>{false, false, true, false}));
  EXPECT_TRUE(c.chirpBothChecked);
  EXPECT_FALSE(c.chirpRisingChecked);

  // A medium only a file can bring checks no button, and an unchecked group keeps its value.
  s.medium = 9;
  c = outSignalControlsFor(s);
  EXPECT_EQ(c.mediumChecked, (std::array<bool, 4>{}));
  c.chirpBothChecked = c.chirpRisingChecked = false;
  readOutSignalControls(s, c);
  EXPECT_EQ(s.medium, 9);
  EXPECT_EQ(s.chirpShape, 1);
}

class OutSignalCommitTest : public ProgramTest {
 protected:
  OutSignalControls controls() { return outSignalControlsFor(settings()); }
};

TEST_F(OutSignalCommitTest, DoneStoresReplansAndPings) {
  OutSignalControls c = controls();
  c.recordTime = 3600;   // the longest recording the plan takes at the default format
  c.startFrequency = 0;  // an emptied field
  c.mediumChecked = {false, true, false, false};
  commitOutSignal(program, shell, c);
  EXPECT_EQ(settings().recordTime, 3600u);
  EXPECT_EQ(settings().startFrequency, 0u);
  EXPECT_EQ(settings().medium, kWater);
  EXPECT_EQ(settings().inBufferBytes, 2 * (317520u + 602u));
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_TRUE(program.pair.inHeader.done()) << "Done pings once";
}

TEST_F(OutSignalCommitTest, PlanTooLongFallsBackToDefaults) {
  OutSignalControls c = controls();
  c.recordTime = 3700;
  c.mediumChecked = {false, true, false, false};
  commitOutSignal(program, shell, c);
  EXPECT_EQ(settings().recordTime, 48u);
  EXPECT_EQ(settings().medium, kAir);
  EXPECT_EQ(settings().inBufferBytes, 9670u);
  EXPECT_TRUE(shell.messages.empty());
}

// A chirp reaching half the sampling rate folds back: Done and Play commit it as entered (and
// ping), and say so before the ping; one below it says nothing.
TEST_F(OutSignalCommitTest, AChirpAtTheNyquistFrequencyIsCommittedWithAWarning) {
  OutSignalControls c = controls();
  c.endFrequency = 22050;  // half of 44.1 kHz
  commitOutSignal(program, shell, c);
  EXPECT_EQ(settings().endFrequency, 22050u);
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].caption, kCaptionFoldedChirp);
  EXPECT_NE(shell.messages[0].text.find("22050 Hz"), std::string::npos);
  EXPECT_TRUE(program.pair.inHeader.done());

  shell.messages.clear();
  playOutSignal(program, shell, c, {});
  EXPECT_EQ(shell.captions(), std::vector<std::string>{std::string(kCaptionFoldedChirp)});

  shell.messages.clear();
  c.endFrequency = 22049;
  commitOutSignal(program, shell, c);
  EXPECT_TRUE(shell.messages.empty());
}

TEST_F(OutSignalCommitTest, PlayShowsFiguresBeforeItPings) {
  bool pingedBeforeShown = true;
  const OutSignalFigures f = playOutSignal(
      program, shell, controls(), [&](auto&) { pingedBeforeShown = program.pair.inHeader.done(); });
  EXPECT_FALSE(pingedBeforeShown);
  EXPECT_EQ(f.inBufferBytes, 9670u);
  EXPECT_EQ(f.outBufferBytes, 352u);
  EXPECT_EQ(f.maxDistance, 7u);
  EXPECT_TRUE(program.pair.inHeader.done());
}

TEST_F(OutSignalCommitTest, PlayAfterFailedPlanShowsTheRejectedTimesInAir) {
  OutSignalControls c = controls();
  c.recordTime = 3700;
  c.mediumChecked = {false, true, false, false};
  const OutSignalFigures f = playOutSignal(program, shell, c, nullptr);
  EXPECT_EQ(f.inBufferBytes, 9670u);
  EXPECT_EQ(f.outBufferBytes, 352u);
  EXPECT_EQ(f.maxDistance, 635u);  // (3700 - 2) * 0.1718 = 635.3
  EXPECT_EQ(settings().recordTime, 48u);
}

}  // namespace
