#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <climits>
#include <vector>

#include "display_test_util.h"

namespace {

using displaytest::kBlack;
using displaytest::kWhite;
using displaytest::PixelSet;
using displaytest::pixelsOf;
using displaytest::wholeImage;

TEST(PlotSurface, IsOnePixelLargerThanTheClientAreaAndBlack) {
  PlotSurface surface(490, 511);
  EXPECT_EQ(surface.image().width(), 491);
  EXPECT_EQ(surface.image().height(), 512);
  EXPECT_EQ(surface.image().format(), QImage::Format_RGB32);
  EXPECT_EQ(pixelsOf(surface, kBlack, wholeImage(surface)).size(), 491u * 512u);
}

TEST(PlotSurface, FillExcludesRightColumnAndBottomRowAndClips) {
  PlotSurface surface(10, 10);
  const Rgb red{255, 0, 0};
  surface.fillRect({2, 3, 5, 4}, red);
  EXPECT_EQ(pixelsOf(surface, red, wholeImage(surface)), (PixelSet{{2, 3}, {3, 3}, {4, 3}}));
  surface.fillRect({6, 6, 4, 8}, kWhite);  // inverted: nothing
  surface.fillRect({-100, -100, 1000, 1}, kWhite);
  EXPECT_EQ(pixelsOf(surface, kWhite, wholeImage(surface)).size(), 11u);
  surface.setPixel(-1, 0, red);
  surface.setPixel(11, 11, red);
  surface.setPixel(10, 10, red);  // the extra row and column are part of the image
  EXPECT_EQ(surface.pixel(10, 10), red);
  EXPECT_EQ(surface.pixel(-1, 0), kBlack);
}

struct LineCase {
  const char* name;
  PixelPoint from, to;
  PixelSet expected;
};

class LinePixels : public testing::TestWithParam<LineCase> {};

TEST_P(LinePixels, AreExactWithoutTheEndPoint) {
  const LineCase& c = GetParam();
  PlotSurface surface(10, 10);
  surface.drawLine(c.from, c.to, kWhite);
  EXPECT_EQ(pixelsOf(surface, kWhite, wholeImage(surface)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LinePixels,
    testing::Values(
        LineCase{"Horizontal", {1, 2}, {5, 2}, {{1, 2}, {2, 2}, {3, 2}, {4, 2}}},
        LineCase{"VerticalUpwards", {3, 6}, {3, 2}, {{3, 6}, {3, 5}, {3, 4}, {3, 3}}},
        LineCase{"Diagonal", {0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}}},
        LineCase{"Shallow", {0, 0}, {6, 2}, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}}},
        LineCase{"SteepBackwards", {4, 5}, {2, 0}, {{4, 5}, {4, 4}, {3, 3}, {3, 2}, {2, 1}}},
        LineCase{"ZeroLength", {3, 3}, {3, 3}, {}},
        LineCase{"EntersFromOutside", {-2, 1}, {3, 1}, {{0, 1}, {1, 1}, {2, 1}}},
        LineCase{"FarAwayEndIsClipped", {8, 4}, {INT_MAX, 4}, {{8, 4}, {9, 4}, {10, 4}}}),
    displaytest::CaseName());

TEST(PlotSurface, WideLineStampsUpAndLeftAndDashesAlternateFourPixels) {
  PlotSurface surface(20, 20);
  const Rgb green{0, 255, 0};
  surface.drawLine({1, 0}, {1, 3}, green, 2);
  EXPECT_EQ(pixelsOf(surface, green, wholeImage(surface)),
            (PixelSet{{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 2}, {1, 2}}));
  surface.drawLine({0, 10}, {20, 10}, kWhite, 1, LineStyle::kDashed);
  PixelSet dashes;
  for (int x : {0, 1, 2, 3, 8, 9, 10, 11, 16, 17, 18, 19}) dashes.insert({x, 10});
  EXPECT_EQ(pixelsOf(surface, kWhite, wholeImage(surface)), dashes);
}

int countNonBlack(const PlotSurface& surface, PixelRect area) {
  return static_cast<int>(area.right - area.left) * (area.bottom - area.top) -
         static_cast<int>(pixelsOf(surface, kBlack, area).size());
}

TEST(PlotSurfaceText, IsLoggedAndDrawnOnTheRequestedSide) {
  PlotSurface surface(200, 40);
  surface.drawText({0, 0, 200, 20}, "42", TextAlign::kRight);
  ASSERT_EQ(surface.textLog().size(), 1u);
  const DrawnText& entry = surface.textLog()[0];
  EXPECT_EQ(entry.text, "42");
  EXPECT_EQ(entry.rect, (PixelRect{0, 0, 200, 20}));
  EXPECT_EQ(entry.align, TextAlign::kRight);
  EXPECT_EQ(entry.clip, TextClip::kClipped);
  EXPECT_EQ(countNonBlack(surface, {0, 0, 100, 20}), 0);
  EXPECT_GT(countNonBlack(surface, {100, 0, 200, 20}), 10);

  surface.drawText({0, 20, 200, 40}, "42");
  EXPECT_GT(countNonBlack(surface, {0, 20, 100, 40}), 10);
  EXPECT_EQ(countNonBlack(surface, {100, 20, 200, 40}), 0);
}

TEST(PlotSurfaceText, ClippedTextStaysInItsRectangleUnclippedMayNot) {
  const PixelRect box{10, 10, 30, 20};
  for (TextClip clip : {TextClip::kClipped, TextClip::kUnclipped}) {
    PlotSurface surface(200, 40);
    surface.fillRect({0, 0, 201, 41}, kWhite);
    surface.drawText(box, "Scan 123 Offset 456 bytes", TextAlign::kLeft, clip);
    const size_t inside = 20 * 10;
    const size_t untouched = pixelsOf(surface, kWhite, wholeImage(surface)).size();
    const size_t all = 201 * 41;
    if (clip == TextClip::kClipped) {
      EXPECT_EQ(untouched, all - inside);
    } else {
      EXPECT_LT(untouched, all - inside);
    }
  }
}

TEST(PlotSurfaceText, LogKeepsTheNewestAndAFullFillEmptiesIt) {
  PlotSurface surface(20, 20);
  for (int i = 0; i < 1100; ++i) surface.drawText({0, 0, 20, 20}, std::to_string(i));
  EXPECT_LE(surface.textLog().size(), PlotSurface::kTextLogLimit);
  EXPECT_EQ(surface.textLog().back().text, "1099");
  surface.fillRect({0, 0, 10, 20}, kBlack);
  EXPECT_FALSE(surface.textLog().empty());
  surface.fillRect({0, 0, 20, 20}, kBlack);
  EXPECT_TRUE(surface.textLog().empty());
}

TEST(PlotSurface, SavesPngAllOrNothing) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  PlotSurface surface(30, 20);
  surface.setPixel(7, 5, Rgb{1, 2, 3});
  const std::string path = dir.filePath("plot.png").toStdString();
  ASSERT_EQ(surface.savePng(path), "");
  const QImage loaded(QString::fromStdString(path));
  ASSERT_EQ(loaded.size(), QSize(31, 21));
  EXPECT_EQ(loaded.pixel(7, 5), qRgb(1, 2, 3));

  const QString missing = dir.filePath("no-such-folder/plot.png");
  EXPECT_NE(surface.savePng(missing.toStdString()).find("No such file or directory"),
            std::string::npos);
  EXPECT_FALSE(QFileInfo::exists(missing));
}

}  // namespace
