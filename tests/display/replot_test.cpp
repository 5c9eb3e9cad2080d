#include <gtest/gtest.h>

#include "display/echogram.h"
#include "display_test_util.h"

namespace {

using displaytest::defaultSettings;
using displaytest::kBlack;
using displaytest::pixelsOf;

struct ReplotCase {
  const char* name;
  int32_t value;  // stored value, cut-off 20
  double gain;
  Rgb expected;
};

class ReplotColour : public testing::TestWithParam<ReplotCase> {};

TEST_P(ReplotColour, UsesTheHistoryLadderWithTheGain) {
  const ReplotCase& c = GetParam();
  SonarSettings s = defaultSettings();
  s.gainEnabled = 1;
  s.gainTable[50] = c.gain;
  ScanHistory history;
  history.at(3, 50) = c.value;
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  replotHistory(surface, s, history);
  EXPECT_EQ(surface.pixel(3 + 9, 50 + 30), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ReplotColour,
                         testing::Values(ReplotCase{"ZeroIsBlack", 0, 1.0, {0, 0, 0}},
                                         ReplotCase{"CutOffPlus3IsBlack", 23, 1.0, {0, 0, 0}},
                                         ReplotCase{"CutOffPlus5", 25, 1.0, {0, 30, 0}},
                                         ReplotCase{"CutOffPlus100", 120, 1.0, {255, 255, 0}},
                                         ReplotCase{"CutOffPlus239", 259, 1.0, {255, 0, 0}},
                                         ReplotCase{"CutOffPlus240", 260, 1.0, {150, 0, 100}},
                                         ReplotCase{"GainDoubles", 60, 2.0, {255, 255, 0}}),
                         displaytest::CaseName());

// With the gain off, the table does not count: the scale dialog with a gain of 0 leaves a table
// of zeros, and the stored sweep must still show.
TEST(Replot, TheGainTableCountsOnlyWhileTheGainIsOn) {
  SonarSettings s = defaultSettings();
  s.gainTable.fill(0.0);
  s.gainEnabled = 0;
  ScanHistory history;
  history.at(3, 50) = 120;
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  replotHistory(surface, s, history);
  EXPECT_EQ(surface.pixel(3 + 9, 50 + 30), (Rgb{255, 255, 0}));
  s.gainEnabled = 1;
  replotHistory(surface, s, history);
  EXPECT_EQ(surface.pixel(3 + 9, 50 + 30), kBlack);
}

TEST(Replot, DrawsColumns0To357AndRows0To418Only) {
  SonarSettings s = defaultSettings();
  ScanHistory history;
  history.values.assign(history.values.size(), 1000);
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  replotHistory(surface, s, history);
  const Rgb strongest{150, 0, 100};
  EXPECT_EQ(pixelsOf(surface, strongest, displaytest::wholeImage(surface)).size(), 358u * 419u);
  EXPECT_EQ(surface.pixel(9, 30), strongest);  // column 0 carries a file's header words
  EXPECT_EQ(surface.pixel(366, 448), strongest);
  EXPECT_EQ(surface.pixel(367, 100), kBlack);
  EXPECT_EQ(surface.pixel(100, 449), kBlack);
  EXPECT_EQ(surface.pixel(8, 100), kBlack);
}

TEST(Replot, AngularModeDrawsNothingAndAShortHistoryReadsAsZero) {
  SonarSettings s = defaultSettings();
  ScanHistory history;
  history.values.assign(history.values.size(), 1000);
  s.displayMode = 1;
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  replotHistory(surface, s, history);
  EXPECT_EQ(pixelsOf(surface, kBlack, displaytest::wholeImage(surface)).size(), 491u * 512u);

  s.displayMode = 0;
  history.values.assign(440 + 10, 1000);
  replotHistory(surface, s, history);
  EXPECT_EQ(surface.pixel(10, 39), (Rgb{150, 0, 100}));
  EXPECT_EQ(surface.pixel(10, 40), kBlack);
}

}  // namespace
