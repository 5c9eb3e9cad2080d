// The plain definition of the correlation: one 64-bit multiply-add per tap and lag. The fast
// paths in correlation.cpp must agree with it bit for bit; tests and benchmarks compare against it.
#include "engine/correlation.h"

#include <algorithm>
#include <cstdlib>

#include "engine/numeric.h"
#include "engine/pcm_samples.h"

namespace {

// The signed value of a stored sample: decoded 16-bit samples as they stand, 8-bit bytes as PCM.
int32_t valueOf(int16_t sample) {
  return sample;
}
int32_t valueOf(uint8_t byte) {
  return pcm8Value(byte);
}

// One lag of the sliding sum, 0 past the end of the data; the unchecked path runs whenever the
// whole window lies inside the data.
template <typename Sample>
int64_t windowSum(std::span<const Sample> data, std::span<const int32_t> taps, uint64_t lag) {
  int64_t sum = 0;
  const uint64_t last = lag + taps.size() - 1;
  if (taps.size() > kFirstTap && last < data.size()) {
    const Sample* d = data.data() + lag;
    for (size_t j = kFirstTap; j < taps.size(); ++j) {
      sum += static_cast<int64_t>(valueOf(d[j])) * taps[j];
    }
    return sum;
  }
  for (size_t j = kFirstTap; j < taps.size(); ++j) {
    const uint64_t i = lag + j;
    if (i >= data.size()) break;
    sum += static_cast<int64_t>(valueOf(data[i])) * taps[j];
  }
  return sum;
}

}  // namespace

uint32_t correlateEchoReference(uint32_t end, uint32_t count, uint32_t start,
                                std::span<int16_t> samples, std::span<const int32_t> templ,
                                std::span<const uint8_t> recording, std::span<int32_t> output,
                                std::span<int64_t> sums, const WaveFormat& format, int32_t level) {
  const bool wide = isSixteenBit(format);
  const uint64_t last = wide ? end / 2 : end;
  if (wide) refreshSamples(samples, recording, start, last);

  const auto taps = templ.first(std::min<size_t>(count, templ.size()));
  const uint64_t lagEnd =
      std::min<uint64_t>({last + 1, output.size(), sums.size()});  // one past the last lag
  uint64_t peak = 0;
  for (uint64_t lag = start; lag < lagEnd; ++lag) {
    const int64_t sum =
        wide ? windowSum<int16_t>(samples, taps, lag) : windowSum<uint8_t>(recording, taps, lag);
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
