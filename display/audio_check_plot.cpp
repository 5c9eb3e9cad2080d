#include "display/audio_check_plot.h"

#include <cstdlib>

#include "display/text_format.h"
#include "engine/numeric.h"

namespace {

constexpr Rgb kFrameColour{0, 255, 0};
constexpr Rgb kGridColour{0, 200, 0};
constexpr Rgb kTraceColour{255, 200, 0};
constexpr int kFrameWidth = 2;
constexpr int kPlotSize = 460;
constexpr int kCell = 46;

void drawAxisLabels(PlotSurface& surface) {
  struct Label {
    int kiloHertz;
    PixelRect rect;
  };
  constexpr Label kLabels[] = {{0, {0, 465, 40, 485}},
                               {5, {110, 465, 150, 485}},
                               {10, {210, 465, 250, 485}},
                               {15, {330, 465, 370, 485}},
                               {20, {440, 465, 480, 485}}};
  for (const Label& label : kLabels)
    surface.drawText(label.rect, formatText("%d", label.kiloHertz));
  surface.drawText({220, 485, 300, 530}, "kHz");
}

void drawFrameAndGrid(PlotSurface& surface) {
  surface.drawLine({0, kPlotSize}, {kPlotSize, kPlotSize}, kFrameColour, kFrameWidth);
  surface.drawLine({kPlotSize, 0}, {kPlotSize, kPlotSize}, kFrameColour, kFrameWidth);
  surface.drawLine({1, 0}, {1, kPlotSize}, kFrameColour, kFrameWidth);
  surface.drawLine({0, 1}, {kPlotSize, 1}, kFrameColour, kFrameWidth);
  for (int y = 0; y < kPlotSize; y += kCell) {
    surface.drawLine({0, y}, {kPlotSize, y}, kGridColour, 1, LineStyle::kDashed);
  }
  for (int x = kCell; x < kPlotSize; x += kCell) {
    surface.drawLine({x, 0}, {x, kPlotSize}, kGridColour, 1, LineStyle::kDashed);
  }
}

// One bar per 16-bit value of the sweep after the offset, standing on the frame's bottom line.
void drawTrace(PlotSurface& surface, const SonarSettings& s) {
  const uint32_t sweepValues = s.outBufferBytes / 2;
  const double n = sweepValues;
  for (uint32_t i = s.offsetBytes; i < sweepValues; ++i) {
    const int x = truncToInt32(((i - s.offsetBytes) * (1.0 / n)) * 460.0);
    // A recording shorter than the sweep reads as silence where it has no samples.
    const int sample = i < s.recordSamples.size() ? s.recordSamples[i] : 0;
    const int h = std::abs(sample) / 100;
    surface.drawLine({x, kPlotSize - h}, {x, kPlotSize}, kTraceColour);
  }
}

}  // namespace

void drawAudioCheckPlot(PlotSurface& surface, const SonarSettings& settings) {
  surface.fillRect({0, 0, surface.clientWidth(), surface.clientHeight()}, Rgb{0, 0, 0});
  drawAxisLabels(surface);
  drawFrameAndGrid(surface);
  drawTrace(surface, settings);
}
