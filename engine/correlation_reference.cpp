#include "engine/correlation.h"

#include <algorithm>
#include <cstdlib>

#include "engine/numeric.h"
#include "engine/sonar_settings.h"

namespace {

constexpr uint32_t kFirstTap = 4;
constexpr int32_t kHitThreshold = 120;
constexpr uint32_t kHitsNeeded = 6;
constexpr uint64_t kHighestIndex = 1300499;
constexpr double kBinFactor = 0.002277904328018223;

// One lag of the sliding sum. `value(i)` gives the signed sample at recording index i, 0 past the
// end; the unchecked path runs whenever the whole window lies inside the data.
template <typename Sample, typename Bias>
int64_t windowSum(std::span<const Sample> data, Bias bias, std::span<const int32_t> taps,
                  uint64_t lag) {
  int64_t sum = 0;
  const uint64_t last = lag + taps.size() - 1;
  if (taps.size() > kFirstTap && last < data.size()) {
    const Sample* d = data.data() + lag;
    for (size_t j = kFirstTap; j < taps.size(); ++j) {
      sum += static_cast<int64_t>(static_cast<int32_t>(d[j]) - bias) * taps[j];
    }
    return sum;
  }
  for (size_t j = kFirstTap; j < taps.size(); ++j) {
    const uint64_t i = lag + j;
    if (i >= data.size()) break;
    sum += static_cast<int64_t>(static_cast<int32_t>(data[i]) - bias) * taps[j];
  }
  return sum;
}

void refreshSamples(std::span<int16_t> samples, std::span<const uint8_t> recording, uint64_t from,
                    uint64_t to) {
  to = std::min<uint64_t>(to, samples.size());
  for (uint64_t k = from; k < to; ++k) {
    const uint8_t lo = 2 * k < recording.size() ? recording[2 * k] : 0;
    const uint8_t hi = 2 * k + 1 < recording.size() ? recording[2 * k + 1] : 0;
    samples[k] = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
  }
}

}  // namespace

uint32_t correlateEcho(uint32_t end, uint32_t count, uint32_t start, std::span<int16_t> samples,
                       std::span<const int32_t> templ, std::span<const uint8_t> recording,
                       std::span<int32_t> output, std::span<int64_t> sums,
                       const WaveFormat& format, int32_t level) {
  const bool wide = isSixteenBit(format);
  const uint64_t last = wide ? end / 2 : end;
  if (wide) refreshSamples(samples, recording, start, last);

  const auto taps = templ.first(std::min<size_t>(count, templ.size()));
  const uint64_t lagEnd =
      std::min<uint64_t>({last + 1, output.size(), sums.size()});  // one past the last lag
  uint64_t peak = 0;
  for (uint64_t lag = start; lag < lagEnd; ++lag) {
    const int64_t sum = wide ? windowSum<int16_t>(samples, 0, taps, lag)
                             : windowSum<uint8_t>(recording, 128, taps, lag);
    sums[lag] = sum;
    peak = std::max<uint64_t>(peak, static_cast<uint64_t>(std::llabs(sum)));
  }
  if (peak == 0) peak = 1;

  const double scale = static_cast<double>(level) / static_cast<double>(peak);
  for (uint64_t lag = start; lag < lagEnd; ++lag) {
    const int64_t scaled = truncToInt32(static_cast<double>(sums[lag]) * scale);
    output[lag] = static_cast<int32_t>(std::min<int64_t>(std::llabs(scaled), INT32_MAX));
  }
  return static_cast<uint32_t>(std::min<uint64_t>(peak / 255, UINT32_MAX));
}

uint32_t findDirectPath(uint32_t inLength, int32_t outLength, uint32_t start,
                        std::span<int32_t> buffer, const WaveFormat& format) {
  const int64_t last = isSixteenBit(format)
                           ? (static_cast<int64_t>(inLength) - static_cast<int64_t>(outLength)) / 2
                           : static_cast<int64_t>(inLength);
  uint32_t found = kFallbackOffset;
  uint64_t width = 0;
  if (last >= static_cast<int64_t>(start)) {
    uint32_t hits = 0;
    const uint64_t scanEnd = std::min<uint64_t>(static_cast<uint64_t>(last) + 1, buffer.size());
    for (uint64_t j = start; j < scanEnd; ++j) {
      if (buffer[j] > kHitThreshold && ++hits >= kHitsNeeded) {
        found = static_cast<uint32_t>(j);
        break;
      }
    }
    const auto span32 = static_cast<uint32_t>(static_cast<uint64_t>(last) - start);
    width = truncToUint32(static_cast<double>(span32) * kBinFactor);
  }
  const uint64_t readable = std::min<uint64_t>(buffer.size(), kHighestIndex + 1);
  for (uint64_t k = 0; k < kEnvelopeBins; ++k) {
    uint32_t bin = 0;
    const uint64_t first = found + k * width;
    const uint64_t stop = std::min<uint64_t>(first + width + 1, readable);
    for (uint64_t i = first; i < stop; ++i) {
      bin = std::max(bin, static_cast<uint32_t>(buffer[i]));
    }
    if (k < buffer.size()) buffer[k] = static_cast<int32_t>(bin);
  }
  return found;
}

uint32_t correlateRecording(SonarSettings& s, uint32_t endBytes) {
  return correlateEcho(endBytes, s.outBufferBytes, s.offsetBytes, s.recordSamples,
                       s.chirpReference, s.recordBuffer, s.correlationBuffer, s.correlationSums,
                       s.waveFormat, s.amplification);
}

uint32_t findDirectArrival(SonarSettings& s) {
  return findDirectPath(s.inBufferBytes, static_cast<int32_t>(s.outBufferBytes), s.offsetBytes,
                        s.correlationBuffer, s.waveFormat);
}
