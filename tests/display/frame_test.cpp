#include <gtest/gtest.h>

#include "display/echogram.h"
#include "display_test_util.h"

namespace {

using displaytest::defaultSettings;
using displaytest::kBlack;
using displaytest::kWhite;

std::vector<DrawnText> frameLabels(const SonarSettings& s) {
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  drawEchogramFrame(surface, s);
  return surface.textLog();
}

TEST(EchogramFrame, WorkedExampleLabelsSitCentredOnTheirTicks) {
  SonarSettings s = defaultSettings();
  s.tuneScale = 0;  // air, 48 ms, 2000 us
  const std::vector<DrawnText> labels = frameLabels(s);
  const char* expected[] = {"0.00m", "0.86m", "1.73m", "2.59m", "3.45m",
                            "4.31m", "5.18m", "6.04m", "6.90m"};
  const int tickRows[] = {30, 83, 137, 190, 244, 298, 351, 405, 459};
  ASSERT_EQ(labels.size(), 9u);
  for (size_t i = 0; i < 9; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(labels[i].text, expected[i]);
    EXPECT_EQ(labels[i].align, TextAlign::kLeft);
    EXPECT_EQ(labels[i].rect.left, 373);
    EXPECT_EQ(labels[i].rect.right, 458);
    EXPECT_EQ(labels[i].rect.top, tickRows[i] - 14);
    EXPECT_EQ(labels[i].rect.bottom, tickRows[i] + 14);
  }
}

TEST(EchogramFrame, ScaleFollowsStretchMediumAndChirpLength) {
  SonarSettings s = defaultSettings();
  s.tuneScale = 100;
  EXPECT_EQ(frameLabels(s)[1].text, "1.73m");
  s.tuneScale = 0;
  s.medium = 7;  // only a file brings this: the fallback speed
  EXPECT_EQ(frameLabels(s)[8].text, "0.63m");
  s.medium = kAir;
  s.chirpTime = 60000;
  EXPECT_EQ(frameLabels(s)[1].text, "-0.23m");
  EXPECT_EQ(frameLabels(s)[0].text, "0.00m");
}

// The scale reads as the distances do: at the calibrated speed, from the offset up; the pointer's
// reading follows the same way.
TEST(EchogramFrame, ScaleAndPointerFollowTheCalibration) {
  SonarSettings s = defaultSettings();
  s.tuneScale = 0;
  s.calibration.speedMps = 343.2;
  s.calibration.offsetMetres = 0.05;
  // 8 x 0.046 s x 343.2 m/s / 18 = 7.016 m, plus 5 cm.
  EXPECT_EQ(frameLabels(s)[0].text, "0.05m");
  EXPECT_EQ(frameLabels(s)[8].text, "7.07m");
  s.medium = kSteel;  // the air's speed is not steel's; the offset is the device's
  EXPECT_EQ(frameLabels(s)[8].text, "92.32m");  // 92.266 + 0.05

  SonarSettings plain = defaultSettings();
  SonarSettings warm = plain;
  warm.calibration.speedMps = 343.2;
  warm.calibration.offsetMetres = 0.05;
  const StylusPosition row{100, 300};
  EXPECT_NEAR(stylusReadingMetres(warm, row),
              stylusReadingMetres(plain, row) * 343.2 / 337.6 + 0.05, 1e-12);
}

TEST(EchogramFrame, DrawsKeyBoxAndTicksOnABlackField) {
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  surface.fillRect({0, 0, 491, 512}, Rgb{9, 9, 9});
  drawEchogramFrame(surface, defaultSettings());
  const Rgb stripes[] = {{150, 0, 100}, {255, 0, 0},   {255, 100, 10}, {255, 170, 0},
                         {255, 255, 0}, {190, 255, 0}, {140, 255, 0},  {0, 140, 10},
                         {0, 120, 0},   {0, 80, 0},    {0, 50, 0},     {0, 30, 0}};
  for (int k = 1; k <= 12; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(surface.pixel(0, 30 * k), stripes[k - 1]);
    EXPECT_EQ(surface.pixel(7, 30 * k + 29), stripes[k - 1]);
  }
  EXPECT_EQ(surface.pixel(0, 29), kBlack);
  EXPECT_EQ(surface.pixel(0, 390), kBlack);
  // Box: lines without end points, so the bottom-right corner stays black.
  EXPECT_EQ(surface.pixel(8, 30), kWhite);
  EXPECT_EQ(surface.pixel(8, 448), kWhite);
  EXPECT_EQ(surface.pixel(8, 449), kWhite);
  EXPECT_EQ(surface.pixel(358, 449), kWhite);
  EXPECT_EQ(surface.pixel(359, 448), kWhite);
  EXPECT_EQ(surface.pixel(359, 449), kBlack);
  EXPECT_EQ(surface.pixel(100, 200), kBlack);
  for (int y : {30, 83, 137, 190, 244, 298, 351, 405, 459}) {
    SCOPED_TRACE(y);
    EXPECT_EQ(surface.pixel(362, y), kWhite);
    EXPECT_EQ(surface.pixel(363, y), kBlack);
    EXPECT_EQ(surface.pixel(362, y + 1), kBlack);
  }
  // The fill covers the client area; the image's extra row and column are left alone.
  EXPECT_EQ(surface.pixel(490, 100), (Rgb{9, 9, 9}));
  EXPECT_EQ(surface.pixel(489, 510), kBlack);
}

TEST(EchogramFrame, SmallClientAreaClipsEverything) {
  PlotSurface surface(20, 40);
  SonarSettings s = defaultSettings();
  ScanState scan;
  scan.scanColumn = 5;
  scan.peakAmplitude = 250000000;
  drawEchogramFrame(surface, s);
  drawScanColumn(surface, s, scan, {0, 500});
  replotHistory(surface, s, ScanHistory{});
  EXPECT_EQ(surface.pixel(8, 35), kWhite);
  EXPECT_EQ(surface.pixel(3, 35), (Rgb{150, 0, 100}));
}

}  // namespace
