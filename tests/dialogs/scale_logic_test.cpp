#include "dialogs/scale_logic.h"

#include <gtest/gtest.h>

#include "case_name.h"

#include "engine/sonar_settings.h"

namespace {

struct ScaleCase {
  const char* name;
  ScaleControls entered;
  int32_t cutOff;
  int32_t amplification;
  uint32_t tuneScale;
  int32_t gain;
};

constexpr uint32_t kMinusOne = UINT32_MAX;  // what "4294967295" reads as

class ScaleReplacementTest : public testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleReplacementTest, StoresOrReplacesSilently) {
  SonarSettings s;
  applyDefaultSettings(s);
  commitScale(s, GetParam().entered);
  EXPECT_EQ(s.cutOff, GetParam().cutOff);
  EXPECT_EQ(s.amplification, GetParam().amplification);
  EXPECT_EQ(s.tuneScale, GetParam().tuneScale);
  EXPECT_EQ(s.gain, GetParam().gain);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, ScaleReplacementTest,
    testing::Values(
        // Empty fields read 0: cut-off 4, amplification 0, tune scale 150, gain 0.
        ScaleCase{"EmptyFields", {0, 0, 0, 0, false}, 4, 0, 150, 0},
        ScaleCase{"LowestAccepted", {1, 0, 1, 1, false}, 1, 0, 1, 1},
        ScaleCase{"HighestAccepted", {255, 10000, 10000, 1000, false}, 255, 10000, 10000, 1000},
        ScaleCase{"JustAbove", {256, 10001, 10001, 1001, false}, 4, 1, 150, 0},
        // Numbers past the signed range are judged as the negative values they store as.
        ScaleCase{
            "WrappedNegative", {kMinusOne, kMinusOne, kMinusOne, kMinusOne, false}, 4, 1, 150, 0}),
    caseName<ScaleCase>);

TEST(ScaleGainTest, RampRisesToGainOver4390AtTheLastBin) {
  struct Ramp {
    uint32_t gain;
    double last;    // exact: 438 * gain / 4390
    double approx;  // as quoted for the user
  };
  for (const Ramp& r : {Ramp{10, 4380.0 / 4390, 0.9977}, Ramp{100, 43800.0 / 4390, 9.977}}) {
    SonarSettings s;
    applyDefaultSettings(s);
    commitScale(s, {20, 300, 2, r.gain, true});
    EXPECT_EQ(s.gainEnabled, 1);
    EXPECT_EQ(s.gainTable[0], 0.0);
    EXPECT_NEAR(s.gainTable[438], r.last, 1e-12) << "gain " << r.gain;
    EXPECT_NEAR(s.gainTable[438], r.approx, r.approx * 1e-4);
    EXPECT_NEAR(s.gainTable[219], r.last / 2, 1e-12);
  }
}

TEST(ScaleGainTest, RebuiltWhetherOrNotSwitchedOn) {
  SonarSettings s;
  applyDefaultSettings(s);  // table of 1.0, gain 0
  s.gainEnabled = 1;
  commitScale(s, {20, 300, 2, 0, false});
  EXPECT_EQ(s.gainEnabled, 0);
  for (double entry : s.gainTable) EXPECT_EQ(entry, 0.0);
  commitScale(s, {20, 300, 2, 10, false});
  EXPECT_GT(s.gainTable[438], 0.99);
}

struct ProblemCase {
  const char* name;
  uint32_t recordTime;
  ScaleControls entered;
  const char* problem;  // a part of the reason, or "" when Done may store
};

class ScaleProblemTest : public testing::TestWithParam<ProblemCase> {};

TEST_P(ScaleProblemTest, RefusesOnlyWhatAFileCouldNotBringBack) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.recordTime = GetParam().recordTime;
  const std::string problem = scaleProblem(s, GetParam().entered);
  if (std::string(GetParam().problem).empty()) {
    EXPECT_EQ(problem, "");
  } else {
    EXPECT_NE(problem.find(GetParam().problem), std::string::npos) << problem;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ScaleProblemTest,
    testing::Values(ProblemCase{"GainOfAByte", 48, {20, 300, 2, 255, true}, ""},
                    ProblemCase{"GainAboveAByte", 48, {20, 300, 2, 256, true}, "the gain is 256"},
                    ProblemCase{"GainOfAThousand", 48, {20, 300, 2, 1000, false}, "0 to 255"},
                    // Beyond the dialog's own range the gain is replaced by 0, which a file keeps.
                    ProblemCase{"GainReplaced", 48, {20, 300, 2, 1001, false}, ""},
                    ProblemCase{
                        "LargestTuneScaleAtTheDefaultTime", 48, {20, 300, 10000, 0, false}, ""},
                    ProblemCase{"TuneScaleBeyondTheBuffers",
                                3600,
                                {20, 300, 10000, 0, false},
                                "a tune scale of 10000 with the record time of 3600 ms"},
                    // A tune scale left out reads 150, which must fit as well.
                    ProblemCase{"EmptyTuneScaleFits", 3600, {20, 300, 0, 0, false}, ""}),
    caseName<ProblemCase>);

TEST(ScaleControlsTest, OpeningShowsSignedValuesUnsigned) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.cutOff = -5;
  s.gainEnabled = 1;
  const ScaleControls c = scaleControlsFor(s);
  EXPECT_EQ(c.cutOff, 4294967291u);
  EXPECT_EQ(c.amplification, 300u);
  EXPECT_TRUE(c.gainChecked);
}

}  // namespace
