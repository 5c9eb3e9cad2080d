#include <algorithm>
#include <array>
#include <climits>

#include "display/echogram.h"
#include "display/text_format.h"
#include "engine/numeric.h"

namespace {

constexpr int kFirstBin = 1, kLastBin = 414;
constexpr int kStatusBottom = 511;
constexpr int kBarTop = 499;
constexpr uint32_t kBarMaxPixels = 358;
constexpr Rgb kBarEmpty{0, 40, 0};
constexpr Rgb kBarFilled{200, 255, 0};
constexpr Rgb kBarBeyondTolerance{255, 0, 0};
constexpr Rgb kStrongest{150, 0, 100};
constexpr PixelRect kCaptionRect{0, 469, 348, 479};
// The caption's glyphs reach a little above and below its rectangle; the band between the plot
// box and the offset bar holds nothing else.
constexpr PixelRect kCaptionBand{0, 462, 360, 487};

struct MeterBar {
  double above;  // lit when the level in millions exceeds this
  PixelRect rect;
  Rgb colour;
};
constexpr std::array<MeterBar, 13> kMeterBars{{
    {0, {365, 504, 367, 509}, {150, 0, 100}},
    {0.5, {368, 503, 370, 509}, {255, 0, 0}},
    {1, {371, 502, 373, 509}, {200, 255, 0}},
    {5, {374, 501, 376, 509}, {111, 255, 0}},
    {20, {377, 500, 379, 509}, {0, 110, 10}},
    {40, {380, 499, 382, 509}, {0, 80, 0}},
    {70, {383, 498, 385, 509}, {0, 80, 0}},
    {90, {386, 497, 388, 509}, {0, 80, 0}},
    {120, {389, 496, 391, 509}, {0, 80, 0}},
    {140, {392, 495, 394, 509}, {0, 80, 0}},
    {160, {395, 494, 397, 509}, {111, 255, 0}},
    {180, {398, 493, 400, 509}, {200, 255, 0}},
    {200, {401, 492, 403, 509}, {255, 0, 0}},
}};

}  // namespace

double stylusReadingMetres(const SonarSettings& s, StylusPosition stylus) {
  const double echoTimeMs = static_cast<double>(s.recordTime) - s.chirpTime * 0.001;
  const double metresPerRow =
      (echoTimeMs * 0.001 * speedInUse(s) * (1.0 / 980.0)) * (s.tuneScale * 0.01 + 1.0);
  return metresPerRow * (static_cast<double>(stylus.y) - kPlotTop) + s.calibration.offsetMetres;
}

namespace {

void drawStylusReading(PlotSurface& surface, const SonarSettings& s, StylusPosition stylus) {
  const double reading = stylusReadingMetres(s, stylus);
  // Text only blanks the cell it covers: without clearing, "9.50m" over "10.25m" would read
  // "9.50mm".
  surface.fillRect(kStylusReadingRect, Rgb{0, 0, 0});
  surface.drawText(kStylusReadingRect, formatText("%3.2fm", reading + 0.0));  // no "-0.00m"
}

// The bar grows with the found offset's excess over the set offset, 8 bytes a pixel. The excess
// is taken modulo 2^32, so a found offset below the set one shows as a full bar.
void drawOffsetBar(PlotSurface& surface, const SonarSettings& s, uint32_t found) {
  const uint32_t len = std::min((found - s.offsetBytes) >> 3, kBarMaxPixels);
  const int barEnd = static_cast<int>(len);
  surface.fillRect({0, kBarTop, static_cast<int>(kBarMaxPixels), kStatusBottom}, kBarEmpty);
  surface.fillRect({0, kBarTop, barEnd, kStatusBottom}, kBarFilled);
  if (s.deltaOffsetBytes + s.offsetBytes < found) {
    const int toleranceEnd = static_cast<int>(s.deltaOffsetBytes >> 3);
    surface.fillRect({toleranceEnd, kBarTop, barEnd, kStatusBottom}, kBarBeyondTolerance);
  }
}

double binValue(const SonarSettings& s, std::span<const int32_t> column, int bin) {
  const size_t i = static_cast<size_t>(bin);
  // A buffer not yet planned to its full length reads as silence.
  const int32_t raw = i < column.size() ? column[i] : 0;
  if (s.gainEnabled == 0) {
    // The difference is formed in 32 bits, as stored values and cut-offs always were.
    return static_cast<double>(
        static_cast<int32_t>(static_cast<uint32_t>(raw) - static_cast<uint32_t>(s.cutOff)));
  }
  return raw * s.gainTable[i] - s.cutOff;
}

Rgb columnColour(double value, uint8_t displayMode) {
  if (displayMode != 0) return angularPalette(value);
  return value < 255.0 ? linearPalette(truncToInt32(value)) : kStrongest;
}

void drawColumn(PlotSurface& surface, const SonarSettings& s, std::span<const int32_t> column,
                uint32_t scanColumn) {
  const int64_t x64 = int64_t{scanColumn} + kPlotLeft;
  if (x64 > INT_MAX) return;
  const int x = static_cast<int>(x64);
  for (int bin = kFirstBin; bin <= kLastBin; ++bin) {
    surface.setPixel(x, bin + kPlotTop, columnColour(binValue(s, column, bin), s.displayMode));
  }
}

// The clearing fill starts right of the first bar, so that bar, once lit, stays lit until the
// next frame.
void drawLevelMeter(PlotSurface& surface, uint32_t peakAmplitude) {
  const double millions = peakAmplitude * 0.000001;
  surface.fillRect({368, 491, 408, 509}, Rgb{0, 0, 0});
  for (const MeterBar& bar : kMeterBars) {
    if (millions > bar.above) surface.fillRect(bar.rect, bar.colour);
  }
}

}  // namespace

void drawScanColumn(PlotSurface& surface, const SonarSettings& settings, const ScanState& scan,
                    StylusPosition stylus) {
  drawScanColumn(surface, settings, scan, stylus, settings.correlationBuffer);
}

void drawScanColumn(PlotSurface& surface, const SonarSettings& settings, const ScanState& scan,
                    StylusPosition stylus, std::span<const int32_t> column) {
  drawStatusStrip(surface, settings, scan, stylus);
  drawColumn(surface, settings, column, scan.scanColumn);
}

void drawStatusStrip(PlotSurface& surface, const SonarSettings& settings, const ScanState& scan,
                     StylusPosition stylus) {
  // Scan k's offset; with no scan yet, the value kept for scan 0.
  const uint32_t found = scan.scanOffsets.forScan(scan.latestScan);
  drawStylusReading(surface, settings, stylus);
  drawOffsetBar(surface, settings, found);
  // A shorter caption must not leave the tail of the previous one behind.
  surface.fillRect(kCaptionBand, Rgb{0, 0, 0});
  surface.drawText(kCaptionRect,
                   formatText("Scan %d Offset %d bytes", static_cast<int32_t>(scan.scanColumn),
                              static_cast<int32_t>(found)),
                   TextAlign::kLeft, TextClip::kUnclipped);
  drawLevelMeter(surface, scan.peakAmplitude);
}
