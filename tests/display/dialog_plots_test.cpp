#include <gtest/gtest.h>

#include <climits>

#include "display/analyze_traces.h"
#include "display/audio_check_plot.h"
#include "display_test_util.h"
#include "engine/buffer_plan.h"

namespace {

using displaytest::kBlack;
using displaytest::pixelsOf;
using displaytest::wholeImage;

constexpr Rgb kRecording{255, 0, 0};
constexpr Rgb kChirp{255, 250, 250};
constexpr Rgb kCorrelation{255, 255, 0};
constexpr Rgb kTrace{255, 200, 0};
constexpr Rgb kFrame{0, 255, 0};
constexpr Rgb kGrid{0, 200, 0};

// Small hand-made buffers: 8-bit, a 20-byte chirp at full scale, silence elsewhere.
SonarSettings smallBuffers(uint16_t bits) {
  SonarSettings s = displaytest::defaultSettings();
  s.waveFormat.bitsPerSample = bits;
  s.outBufferBytes = 20;
  s.playBuffer.assign(45, 255);
  s.recordBuffer.assign(300, 128);
  s.recordSamples.assign(300, 0);
  s.correlationBuffer.assign(300, 0);
  return s;
}

struct ZoomCase {
  int zoom;
  int spikeColumn;
  int quietColumn;
};

class AnalyzeZoom : public testing::TestWithParam<ZoomCase> {};

TEST_P(AnalyzeZoom, PutsSampleKAtColumnKOverZoom) {
  const ZoomCase& c = GetParam();
  SonarSettings s = smallBuffers(8);
  s.recordBuffer[100] = 255;  // a = 1: row 327
  PlotSurface surface(490, 530);
  drawAnalyzeTraces(surface, s, 0, c.zoom, 1);
  EXPECT_EQ(surface.pixel(c.spikeColumn, 300), kRecording);
  EXPECT_EQ(surface.pixel(c.quietColumn, 300), kBlack);
  EXPECT_EQ(surface.pixel(c.quietColumn, 200), kRecording);
  EXPECT_EQ(surface.pixel(c.quietColumn, 440), kCorrelation);
}

INSTANTIATE_TEST_SUITE_P(Zooms, AnalyzeZoom,
                         testing::Values(ZoomCase{1, 100, 12}, ZoomCase{8, 12, 100}));

TEST(AnalyzeTraces, ChirpStopsAtItsLengthWhileTheOthersGoOn) {
  SonarSettings s = smallBuffers(8);
  PlotSurface surface(490, 530);
  drawAnalyzeTraces(surface, s, 0, 1, 1);
  EXPECT_EQ(surface.pixel(19, 85), kChirp);  // 100 - (255 - 128) / 8
  EXPECT_EQ(surface.pixel(20, 85), kBlack);
  EXPECT_EQ(surface.pixel(30, 200), kRecording);
  EXPECT_EQ(surface.pixel(479, 200), kRecording);
  EXPECT_EQ(surface.pixel(480, 200), kBlack);  // lines stop before their end point
  EXPECT_EQ(surface.pixel(120, 10), (Rgb{255, 250, 250}));
}

TEST(AnalyzeTraces, SixteenBitHalvesTheStartAndRaisesLoudSamples) {
  SonarSettings s = smallBuffers(16);
  s.recordSamples.assign(600, 0);
  s.recordSamples[510] = 10000;  // 200 - 1 * 100: row 100
  PlotSurface surface(490, 530);
  drawAnalyzeTraces(surface, s, 1001, 2, 1);
  EXPECT_EQ(surface.pixel(5, 150), kRecording);
  EXPECT_EQ(surface.pixel(5, 250), kBlack);
  ASSERT_EQ(surface.textLog().size(), 3u);
  EXPECT_EQ(surface.textLog()[0].text, "500");
  EXPECT_EQ(surface.textLog()[0].rect, (PixelRect{1, 464, 160, 484}));
  EXPECT_EQ(surface.textLog()[1].text, "740");
  EXPECT_EQ(surface.textLog()[1].rect, (PixelRect{220, 464, 480, 484}));
  EXPECT_EQ(surface.textLog()[2].text, "Bytes");
  EXPECT_EQ(surface.textLog()[2].rect, (PixelRect{400, 460, 470, 488}));
  EXPECT_EQ(surface.textLog()[2].align, TextAlign::kRight);
}

// The slider ends 241 bytes before the end of the recording, but z = 8 reaches 3840 samples on:
// past the ends of the planned buffers the traces lie flat.
TEST(AnalyzeTraces, SliderEndReadsNothingPastTheBuffers) {
  for (uint16_t bits : {uint16_t{8}, uint16_t{16}}) {
    SCOPED_TRACE(bits);
    SonarSettings s = displaytest::defaultSettings();
    s.waveFormat.bitsPerSample = bits;
    ASSERT_TRUE(planBuffers(s));
    std::fill(s.recordBuffer.begin(), s.recordBuffer.end(), 255);
    std::fill(s.recordSamples.begin(), s.recordSamples.end(), int16_t{-32000});
    std::fill(s.correlationBuffer.begin(), s.correlationBuffer.end(), 400);
    if (bits == 16) {
      // A 16-bit start is halved, so only shorter buffers than planned are overrun.
      s.recordSamples.resize(5000);
      s.correlationBuffer.resize(5000);
    }
    const int sliderEnd = static_cast<int>(s.inBufferBytes) - 241;
    PlotSurface surface(490, 530);
    for (int zoom : {1, 8}) drawAnalyzeTraces(surface, s, sliderEnd, zoom, 10);
    EXPECT_EQ(surface.pixel(478, 200), kRecording);
    EXPECT_EQ(surface.pixel(478, 440), kCorrelation);
    EXPECT_EQ(pixelsOf(surface, kRecording, {470, 0, 480, 530}).size(), 10u);
    for (int start : {INT_MIN, -5000, INT_MAX}) drawAnalyzeTraces(surface, s, start, 0, INT_MAX);
  }
}

SonarSettings sweepOf(uint32_t values, uint32_t offset) {
  SonarSettings s = displaytest::defaultSettings();
  s.outBufferBytes = 2 * values;
  s.offsetBytes = offset;
  s.recordSamples.assign(values, 0);
  return s;
}

TEST(AudioCheckPlot, FrameGridLabelsAndOneBarPerValue) {
  SonarSettings s = sweepOf(1000, 0);
  s.recordSamples[500] = -32768;  // 327 rows at x = 230
  PlotSurface surface(480, 530);
  drawAudioCheckPlot(surface, s);
  EXPECT_EQ(surface.pixel(230, 133), kTrace);
  EXPECT_EQ(surface.pixel(230, 459), kTrace);
  EXPECT_EQ(surface.pixel(230, 132), kBlack);
  EXPECT_EQ(pixelsOf(surface, kTrace, wholeImage(surface)).size(), 327u);
  // The 2-pixel frame lies on the edges 0..1 and 459..460.
  for (PixelPoint p : {PixelPoint{0, 100},
                       {1, 100},
                       {459, 100},
                       {460, 100},
                       {100, 459},
                       {100, 460},
                       {100, 1},
                       {5, 0}}) {
    EXPECT_EQ(surface.pixel(p.x, p.y), kFrame) << p.x << "," << p.y;
  }
  for (PixelPoint p : {PixelPoint{2, 100}, {461, 100}, {100, 461}, {100, 2}}) {
    EXPECT_EQ(surface.pixel(p.x, p.y), kBlack) << p.x << "," << p.y;
  }
  // Dashed grid of 46-pixel cells, 4 on and 4 off.
  EXPECT_EQ(surface.pixel(2, 0), kGrid);
  EXPECT_EQ(surface.pixel(10, 46), kGrid);
  EXPECT_EQ(surface.pixel(13, 46), kBlack);
  EXPECT_EQ(surface.pixel(414, 419), kGrid);
  EXPECT_EQ(surface.pixel(460 - 46, 413), kBlack);
  const char* texts[] = {"0", "5", "10", "15", "20", "kHz"};
  const PixelRect rects[] = {{0, 465, 40, 485},    {110, 465, 150, 485}, {210, 465, 250, 485},
                             {330, 465, 370, 485}, {440, 465, 480, 485}, {220, 485, 300, 530}};
  ASSERT_EQ(surface.textLog().size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(surface.textLog()[i].text, texts[i]);
    EXPECT_EQ(surface.textLog()[i].rect, rects[i]);
  }
}

TEST(AudioCheckPlot, NoTraceFromTheOffsetOnAndNoReadPastTheCopy) {
  SonarSettings s = sweepOf(1000, 1000);
  std::fill(s.recordSamples.begin(), s.recordSamples.end(), int16_t{20000});
  PlotSurface surface(480, 530);
  drawAudioCheckPlot(surface, s);
  EXPECT_TRUE(pixelsOf(surface, kTrace, wholeImage(surface)).empty());

  s.offsetBytes = 0;
  s.outBufferBytes = 200000;  // sweep longer than the copy: the rest is silence
  drawAudioCheckPlot(surface, s);
  EXPECT_EQ(surface.pixel(1, 300), kTrace);
  EXPECT_EQ(surface.pixel(300, 300), kBlack);
}

}  // namespace
