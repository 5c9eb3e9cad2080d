#include "display/echogram.h"
#include "display/text_format.h"
#include "engine/numeric.h"

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

constexpr int kKeyStripes = 12;
constexpr int kStripeHeight = 30;
constexpr int kBoxLeft = 8, kBoxRight = 359, kBoxTop = 30, kBoxBottom = 449;
constexpr int kTickLength = 4;
constexpr int kScaleTicks = 9;
constexpr double kTickSpacing = 53.625;  // rows between two ticks of the distance scale
constexpr int kLabelLeft = 373, kLabelRight = 458;

void drawColourKey(PlotSurface& surface) {
  for (int k = 1; k <= kKeyStripes; ++k) {
    const int top = kStripeHeight * k;
    surface.fillRect({0, top, kBoxLeft, top + kStripeHeight}, historyKeyColour(k));
  }
}

void drawPlotBox(PlotSurface& surface) {
  surface.drawLine({kBoxLeft, kBoxTop}, {kBoxLeft, kBoxBottom}, kWhite);
  surface.drawLine({kBoxRight, kBoxTop}, {kBoxRight, kBoxBottom}, kWhite);
  surface.drawLine({kBoxLeft, kBoxTop}, {kBoxRight, kBoxTop}, kWhite);
  surface.drawLine({kBoxLeft, kBoxBottom}, {kBoxRight, kBoxBottom}, kWhite);
}

// Metres between two ticks. The scale spans the part of the recording after the chirp, over 18
// tick steps; it is computed apart from the stylus reading's metres per row on purpose.
double tickStepMetres(const SonarSettings& s) {
  const double echoTimeMs = static_cast<double>(s.recordTime) - s.chirpTime * 0.001;
  return echoTimeMs * 0.001 * speedInUse(s) * (1.0 / 18.0);
}

void drawDistanceScale(PlotSurface& surface, const SonarSettings& s) {
  const double step = tickStepMetres(s);
  const double stretch = s.tuneScale * 0.01 + 1.0;
  surface.drawLine({kBoxRight, kBoxTop}, {kBoxRight + kTickLength, kBoxTop}, kWhite);
  for (int i = 0; i < kScaleTicks; ++i) {
    const double d = i * kTickSpacing;
    const int y = truncToInt32(d) + kBoxTop;
    surface.drawLine({kBoxRight, y}, {kBoxRight + kTickLength, y}, kWhite);
    const PixelRect label{kLabelLeft, truncToInt32(d - 14.0 + 30.0), kLabelRight,
                          truncToInt32(d + 44.0)};
    // + 0.0 turns the -0.0 of tick 0 under a negative step into 0.00m. The row of the direct
    // sound reads the calibration's offset, as every echo distance does.
    const double metres = stretch * i * step + 0.0 + s.calibration.offsetMetres;
    surface.drawText(label, formatText("%2.2fm", metres));
  }
}

}  // namespace

void drawEchogramFrame(PlotSurface& surface, const SonarSettings& settings) {
  surface.fillRect({0, 0, surface.clientWidth(), surface.clientHeight()}, kBlack);
  drawColourKey(surface);
  drawPlotBox(surface);
  drawDistanceScale(surface, settings);
}
