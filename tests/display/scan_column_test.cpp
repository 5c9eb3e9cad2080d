#include <gtest/gtest.h>

#include "display/echogram.h"
#include "display_test_util.h"

namespace {

using displaytest::defaultSettings;
using displaytest::kBlack;
using displaytest::pixelsOf;

constexpr int kColumn = 5;
constexpr int kBin = 100;
constexpr int kX = kColumn + 9;
constexpr int kY = kBin + 30;

ScanState scanAt(uint32_t column) {
  ScanState scan;
  scan.scanColumn = column;
  scan.latestScan = column;
  for (uint32_t k = 0; k <= 3; ++k) scan.scanOffsets.forScan(k) = 600;
  return scan;
}

struct BinCase {
  const char* name;
  uint8_t displayMode;
  uint8_t gainEnabled;
  double gain;  // gainTable entry of the bin
  int32_t raw;  // correlation value of the bin (cut-off 20)
  Rgb expected;
};

class BinColour : public testing::TestWithParam<BinCase> {};

TEST_P(BinColour, FollowsThePaletteOfTheMode) {
  const BinCase& c = GetParam();
  SonarSettings s = defaultSettings();
  s.displayMode = c.displayMode;
  s.gainEnabled = c.gainEnabled;
  s.gainTable[kBin] = c.gain;
  s.correlationBuffer[kBin] = c.raw;
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  drawScanColumn(surface, s, scanAt(kColumn), {});
  EXPECT_EQ(surface.pixel(kX, kY), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bins, BinColour,
    testing::Values(BinCase{"CutOffPlus3IsBlack", 0, 0, 1.0, 23, {0, 0, 0}},
                    BinCase{"CutOffPlus4IsFirstGreen", 0, 0, 1.0, 24, {0, 20, 0}},
                    BinCase{"LinearTopOfLadder", 0, 0, 1.0, 20 + 254, {150, 0, 100}},
                    BinCase{"LinearFarBelowCutOff", 0, 0, 1.0, -2000000000, {0, 0, 0}},
                    BinCase{"GainIgnoredWhenDisabled", 0, 0, 50.0, 24, {0, 20, 0}},
                    BinCase{"GainAppliedWhenEnabled", 0, 1, 2.0, 21, {0, 80, 0}},
                    BinCase{"AngularZeroIsRed", 1, 0, 1.0, 20, {255, 0, 0}},
                    BinCase{"Angular255IsBlue", 1, 0, 1.0, 20 + 255, {0, 0, 255}},
                    BinCase{"AngularAboveRangeIsBlue", 2, 0, 1.0, 20 + 9000, {0, 0, 255}},
                    BinCase{"AngularMinusOneWrapsToBlue", 1, 0, 1.0, 19, {0, 0, 255}},
                    BinCase{"AngularMidway", 1, 0, 1.0, 20 + 100, {155, 0, 100}}),
    displaytest::CaseName());

TEST(ScanColumn, DrawsBins1To414OnlyAndSurvivesAShortBuffer) {
  SonarSettings s = defaultSettings();
  s.correlationBuffer.assign(439, 1000);
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  drawScanColumn(surface, s, scanAt(kColumn), {});
  const Rgb strongest{150, 0, 100};
  EXPECT_EQ(pixelsOf(surface, strongest, {kX, 0, kX + 1, 512}).size(), 414u);
  EXPECT_EQ(surface.pixel(kX, 30), kBlack);
  EXPECT_EQ(surface.pixel(kX, 31), strongest);
  EXPECT_EQ(surface.pixel(kX, 444), strongest);
  EXPECT_EQ(surface.pixel(kX, 445), kBlack);

  s.correlationBuffer.assign(50, 1000);  // unplanned: the rest reads as silence
  drawScanColumn(surface, s, scanAt(kColumn + 1), {});
  EXPECT_EQ(surface.pixel(kX + 1, 79), strongest);
  EXPECT_EQ(surface.pixel(kX + 1, 80), kBlack);

  drawScanColumn(surface, s, scanAt(4000000000u), {});  // far outside: clipped, no crash
}

struct BarCase {
  const char* name;
  uint32_t found;
  int filledTo;  // end of the yellow-green part
  int redFrom;   // start of the red part, or -1
};

class OffsetBar : public testing::TestWithParam<BarCase> {};

TEST_P(OffsetBar, ShowsTheExcessEightBytesAPixel) {
  const BarCase& c = GetParam();
  SonarSettings s = defaultSettings();  // offset 600, tolerance 2000
  ScanState scan = scanAt(3);
  scan.scanOffsets.forScan(3) = c.found;
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  drawScanColumn(surface, s, scan, {});
  const Rgb empty{0, 40, 0}, filled{200, 255, 0}, red{255, 0, 0};
  const int redFrom = c.redFrom < 0 ? c.filledTo : c.redFrom;
  for (int x = 0; x < 358; ++x) {
    const Rgb expected = x < redFrom ? filled : x < c.filledTo ? red : empty;
    ASSERT_EQ(surface.pixel(x, 499), expected) << x;
    ASSERT_EQ(surface.pixel(x, 510), expected) << x;
  }
  EXPECT_EQ(surface.pixel(10, 498), kBlack);
  EXPECT_EQ(surface.pixel(358, 505), kBlack);
}

INSTANTIATE_TEST_SUITE_P(Bars, OffsetBar,
                         testing::Values(BarCase{"FoundEqualsSetIsEmpty", 600, 0, -1},
                                         BarCase{"WithinTolerance", 600 + 800, 100, -1},
                                         BarCase{"ToleranceEdgeNotRed", 2600, 250, -1},
                                         BarCase{"BeyondToleranceTurnsRed", 2608, 251, 250},
                                         BarCase{"ClampedAt358", 600 + 8 * 400, 358, 250},
                                         BarCase{"BelowSetWrapsToFullBar", 599, 358, -1}),
                         displaytest::CaseName());

class LevelMeter : public testing::TestWithParam<std::pair<uint32_t, int>> {};

TEST_P(LevelMeter, LightsTheBarsWhoseThresholdIsExceeded) {
  const auto [peak, lit] = GetParam();
  ScanState scan = scanAt(1);
  scan.peakAmplitude = peak;
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  drawScanColumn(surface, defaultSettings(), scan, {});
  const Rgb colours[] = {{150, 0, 100}, {255, 0, 0},   {200, 255, 0}, {111, 255, 0}, {0, 110, 10},
                         {0, 80, 0},    {0, 80, 0},    {0, 80, 0},    {0, 80, 0},    {0, 80, 0},
                         {111, 255, 0}, {200, 255, 0}, {255, 0, 0}};
  for (int bar = 0; bar < 13; ++bar) {
    SCOPED_TRACE(bar);
    const int left = 365 + 3 * bar;
    const Rgb expected = bar < lit ? colours[bar] : kBlack;
    EXPECT_EQ(surface.pixel(left, 508), expected);
    EXPECT_EQ(surface.pixel(left + 1, 504 - bar), expected);
    EXPECT_EQ(surface.pixel(left + 1, 503 - bar), kBlack);
    EXPECT_EQ(surface.pixel(left + 2, 508), kBlack);
    EXPECT_EQ(surface.pixel(left, 509), kBlack);
  }
}

INSTANTIATE_TEST_SUITE_P(Peaks, LevelMeter,
                         testing::Values(std::pair{0u, 0}, std::pair{1u, 1}, std::pair{500000u, 1},
                                         std::pair{500001u, 2}, std::pair{70000001u, 7},
                                         std::pair{250000000u, 13}));

struct ReadingCase {
  const char* name;
  int8_t medium;
  uint32_t tuneScale;
  int32_t row;
  const char* text;
};

class StylusReading : public testing::TestWithParam<ReadingCase> {};

TEST_P(StylusReading, ShowsTheDistanceOfTheRow) {
  const ReadingCase& c = GetParam();
  SonarSettings s = defaultSettings();
  s.medium = c.medium;
  s.tuneScale = c.tuneScale;
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  drawScanColumn(surface, s, scanAt(1), {123, c.row});
  ASSERT_FALSE(surface.textLog().empty());
  const DrawnText& reading = surface.textLog().front();
  EXPECT_EQ(reading.text, c.text);
  EXPECT_EQ(reading.rect, (PixelRect{410, 480, 490, 510}));
  EXPECT_EQ(reading.align, TextAlign::kLeft);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, StylusReading,
    testing::Values(ReadingCase{"WorkedExample", kAir, 100, 130, "3.17m"},
                    ReadingCase{"TopOfPlotIsZero", kAir, 100, 30, "0.00m"},
                    ReadingCase{"AbovePlotIsNegative", kAir, 100, 20, "-0.32m"},
                    ReadingCase{"Water", kWater, 0, 130, "7.00m"},
                    ReadingCase{"UnknownMediumUsesFallbackSpeed", 9, 0, 130, "0.14m"}),
    displaytest::CaseName());

TEST(ScanColumn, CaptionNamesColumnAndOffsetOfTheLatestScan) {
  ScanState scan = scanAt(7);
  scan.latestScan = 6;
  scan.scanOffsets.forScan(6) = 652;
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  drawScanColumn(surface, defaultSettings(), scan, {});
  ASSERT_EQ(surface.textLog().size(), 2u);
  const DrawnText& caption = surface.textLog()[1];
  EXPECT_EQ(caption.text, "Scan 7 Offset 652 bytes");
  EXPECT_EQ(caption.rect, (PixelRect{0, 469, 348, 479}));
  EXPECT_EQ(caption.clip, TextClip::kUnclipped);

  scan.latestScan = 0;  // before the first scan: the value kept for scan 0
  scan.scanOffsets.forScan(0) = 777;
  drawScanColumn(surface, defaultSettings(), scan, {});
  EXPECT_EQ(surface.textLog().back().text, "Scan 7 Offset 777 bytes");
}

}  // namespace

namespace {

// A repaint over an older one must look exactly like a repaint on a fresh surface: shorter texts
// (stylus reading, caption) leave nothing of the longer ones behind.
TEST(StatusStrip, ShorterTextsLeaveNoTailOfTheLongerOnes) {
  SonarSettings s = displaytest::defaultSettings();
  s.correlationBuffer[kBin] = 200;
  ScanState wide = scanAt(kColumn);
  wide.scanColumn = 123;
  wide.latestScan = 123;
  wide.scanOffsets.forScan(123) = 123456;
  ScanState narrow = scanAt(kColumn);

  PlotSurface reused(kPlotClientWidth, kPlotClientHeight);
  drawScanColumn(reused, s, wide, {0, 500});
  drawScanColumn(reused, s, narrow, {0, 40});
  // Below the plot box; the columns of the two paints differ in x on purpose.
  PlotSurface clean(kPlotClientWidth, kPlotClientHeight);
  drawScanColumn(clean, s, narrow, {0, 40});
  for (int y = 449; y < kPlotClientHeight; ++y) {
    for (int x = 0; x < kPlotClientWidth; ++x) {
      ASSERT_EQ(reused.pixel(x, y), clean.pixel(x, y)) << "at " << x << ", " << y;
    }
  }
}

}  // namespace
