#include "display/analyze_traces.h"

#include <algorithm>
#include <array>
#include <climits>

#include "display/text_format.h"
#include "engine/numeric.h"
#include "engine/pcm_samples.h"

namespace {

constexpr Rgb kGridColour{255, 250, 250};
constexpr Rgb kChirpColour{255, 250, 250};
constexpr Rgb kRecordingColour{255, 0, 0};
constexpr Rgb kCorrelationColour{255, 255, 0};
constexpr int kTraceColumns = 480;
constexpr int kGridStep = 120;  // columns between the vertical grid lines at zoom 1

int clampToInt(int64_t v) {
  return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

// Bounded reads: an index outside a buffer reads as silence.
int64_t pcmSample(const std::vector<uint8_t>& buffer, int64_t k, bool sixteenBit) {
  return k >= 0 ? pcmSampleAt(buffer, static_cast<uint64_t>(k), sixteenBit) : 0;
}
template <typename T>
int64_t signedValue(const std::vector<T>& buffer, int64_t k) {
  return k >= 0 && static_cast<uint64_t>(k) < buffer.size() ? buffer[static_cast<size_t>(k)] : 0;
}

// Row of each trace for sample k; the integer divisions truncate towards zero.
struct TraceRows {
  const SonarSettings& s;
  bool sixteenBit;
  int64_t amplification;

  int chirp(int64_t k) const {
    const int64_t sample = pcmSample(s.playBuffer, k, sixteenBit);
    if (sixteenBit) return clampToInt(140 - (sample + 65536) / 4096);
    return clampToInt(100 - sample / 8);
  }
  int recording(int64_t k) const {
    if (sixteenBit)
      return clampToInt(200 - amplification * (signedValue(s.recordSamples, k) / 100));
    return clampToInt(amplification * pcmSample(s.recordBuffer, k, false) + 200);
  }
  int correlation(int64_t k) const {
    return clampToInt(440 - signedValue(s.correlationBuffer, k) / 4);
  }
};

void drawGrid(PlotSurface& surface) {
  for (int y : {200, 320, 440}) surface.drawLine({0, y}, {kTraceColumns, y}, kGridColour);
  for (int x : {0, 120, 240, 360, 460}) surface.drawLine({x, 0}, {x, 460}, kGridColour);
}

void drawLabels(PlotSurface& surface, int32_t start, int zoom) {
  const auto gridIndex =
      static_cast<int32_t>(static_cast<uint32_t>(start) + static_cast<uint32_t>(kGridStep * zoom));
  surface.drawText({1, 464, 160, 484}, formatText("%d", start));
  surface.drawText({220, 464, 480, 484}, formatText("%d", gridIndex));
  surface.drawText({400, 460, 470, 488}, "Bytes", TextAlign::kRight);
}

}  // namespace

int analyzeStartMaximum(uint32_t inBufferBytes) {
  if (inBufferBytes < 241) return 0;
  const uint32_t last = inBufferBytes - 241;
  return last > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(last);
}

void drawAnalyzeTraces(PlotSurface& surface, const SonarSettings& settings, int sliderStart,
                       int zoom, int amplification) {
  const bool sixteenBit = isSixteenBit(settings.waveFormat);
  // In 16-bit mode the slider's byte position becomes a sample index.
  const int32_t start = sixteenBit ? truncToInt32(sliderStart * 0.5) : sliderStart;
  const int z = std::clamp(zoom, kAnalyzeMinZoom, kAnalyzeMaxZoom);
  const int64_t chirpSamples =
      sixteenBit ? settings.outBufferBytes / 2 : int64_t{settings.outBufferBytes};

  surface.fillRect({0, 0, surface.clientWidth(), surface.clientHeight()}, Rgb{0, 0, 0});
  drawGrid(surface);
  drawLabels(surface, start, z);

  const TraceRows rows{settings, sixteenBit, amplification};
  for (int i = 0; i < kTraceColumns * z; ++i) {
    const int x = i / z;
    const int64_t k = int64_t{start} + i;
    if (k < chirpSamples) {
      surface.drawLine({x, rows.chirp(k)}, {x + 1, rows.chirp(k + 1)}, kChirpColour);
    }
    surface.drawLine({x, rows.recording(k)}, {x + 1, rows.recording(k + 1)}, kRecordingColour);
    surface.drawLine({x, rows.correlation(k)}, {x + 1, rows.correlation(k + 1)},
                     kCorrelationColour);
  }
}
