// The correlation the program runs: refresh of the 16-bit samples, the raw sums by the fastest
// exact method (direct vector sums for short templates, FFT for long ones), the scaling to the
// amplification, and the direct-arrival finder.
#include "engine/correlation.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "engine/correlation_sums.h"
#include "engine/correlation_worker.h"
#include "engine/fft_correlation.h"
#include "engine/numeric.h"
#include "engine/pcm_samples.h"
#include "engine/sonar_settings.h"

namespace {

constexpr int32_t kHitThreshold = 120;
constexpr uint32_t kHitsNeeded = 6;
constexpr uint64_t kHighestIndex = 1300499;
constexpr double kBinFactor = 0.002277904328018223;

// What correlateEcho reports of the largest magnitude.
uint32_t levelOfPeak(uint64_t peak) {
  return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(peak, 1) / 255, UINT32_MAX));
}

// Lags per share of the scaling: it pays for a second thread only at the long plans.
constexpr size_t kScaleGrain = size_t{1} << 15;

uint32_t scaleToLevel(std::span<const int64_t> sums, std::span<int32_t> output, uint64_t start,
                      uint64_t lagEnd, int32_t level, CorrelationWorker* worker) {
  const size_t count = start < lagEnd ? static_cast<size_t>(lagEnd - start) : 0;
  const int64_t* from = sums.data() + start;
  std::atomic<uint64_t> largest{0};
  forEachRange(worker, count, kScaleGrain, [&](size_t first, size_t last) {
    raiseTo(largest, peakMagnitude(from + first, last - first));
  });
  const uint64_t peak = largest.load(std::memory_order_relaxed);
  const double scale = scaleFor(level, peak);
  forEachRange(worker, count, kScaleGrain, [&](size_t first, size_t last) {
    scaleMagnitudes(from + first, output.data() + start + first, last - first, scale);
  });
  return levelOfPeak(peak);
}

}  // namespace

MERVANE_VECTOR_CLONES uint64_t peakMagnitude(const int64_t* sums, size_t count) {
  uint64_t peak = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint64_t magnitude =
        sums[i] < 0 ? 0 - static_cast<uint64_t>(sums[i]) : static_cast<uint64_t>(sums[i]);
    peak = std::max(peak, magnitude);
  }
  return peak;
}

// truncToInt32 without the NaN case (finite sums times a finite scale), as a clamp the vector
// units can do, then the magnitude, saturated to 32 bits.
MERVANE_VECTOR_CLONES void scaleMagnitudes(const int64_t* sums, int32_t* output, size_t count,
                                           double scale) {
  for (size_t i = 0; i < count; ++i) {
    const double v = std::clamp(static_cast<double>(sums[i]) * scale, -2147483648.0, 2147483647.0);
    const auto truncated = static_cast<int64_t>(static_cast<int32_t>(v));
    output[i] =
        static_cast<int32_t>(std::min<int64_t>(truncated < 0 ? -truncated : truncated, INT32_MAX));
  }
}

uint32_t correlateEcho(uint32_t end, uint32_t count, uint32_t start, std::span<int16_t> samples,
                       std::span<const int32_t> templ, std::span<const uint8_t> recording,
                       std::span<int32_t> output, std::span<int64_t> sums, const WaveFormat& format,
                       int32_t level, CorrelationWorkspace* workspace, CorrelationWorker* worker) {
  const bool wide = isSixteenBit(format);
  const uint64_t last = wide ? end / 2 : end;
  if (wide) refreshSamples(samples, recording, start, last);

  const auto taps = templ.first(std::min<size_t>(count, templ.size()));
  const uint64_t lagEnd =
      std::min<uint64_t>({last + 1, output.size(), sums.size()});  // one past the last lag
  if (start < lagEnd) {
    const auto lagSums = sums.subspan(start, static_cast<size_t>(lagEnd - start));
    const auto used = taps.size() > kFirstTap ? taps.subspan(kFirstTap) : taps.first(0);
    const SampleSource source{samples, recording, wide};
    const uint64_t firstIndex = uint64_t{start} + kFirstTap;
    if (workspace == nullptr || !fftSums(*workspace, source, used, firstIndex, lagSums, worker)) {
      const uint64_t peak = directSumsScaled(source, used, firstIndex, lagSums,
                                             output.subspan(start, lagSums.size()), level, worker);
      return levelOfPeak(peak);
    }
  }
  return scaleToLevel(sums, output, start, lagEnd, level, worker);
}

uint32_t correlateEcho(uint32_t end, uint32_t count, uint32_t start, std::span<int16_t> samples,
                       std::span<const int32_t> templ, std::span<const uint8_t> recording,
                       std::span<int32_t> output, std::span<int64_t> sums, const WaveFormat& format,
                       int32_t level) {
  return correlateEcho(end, count, start, samples, templ, recording, output, sums, format, level,
                       nullptr);
}

DirectArrival findDirectPath(uint32_t inLength, int32_t outLength, uint32_t start,
                             std::span<int32_t> buffer, const WaveFormat& format) {
  const int64_t last = isSixteenBit(format)
                           ? (static_cast<int64_t>(inLength) - static_cast<int64_t>(outLength)) / 2
                           : static_cast<int64_t>(inLength);
  DirectArrival arrival;
  uint64_t width = 0;
  if (last >= static_cast<int64_t>(start)) {
    uint32_t hits = 0;
    const uint64_t scanEnd = std::min<uint64_t>(static_cast<uint64_t>(last) + 1, buffer.size());
    for (uint64_t j = start; j < scanEnd; ++j) {
      if (buffer[j] > kHitThreshold && ++hits >= kHitsNeeded) {
        arrival = {static_cast<uint32_t>(j), true};
        break;
      }
    }
    const auto span32 = static_cast<uint32_t>(static_cast<uint64_t>(last) - start);
    width = truncToUint32(static_cast<double>(span32) * kBinFactor);
  }
  const uint64_t readable = std::min<uint64_t>(buffer.size(), kHighestIndex + 1);
  for (uint64_t k = 0; k < kEnvelopeBins; ++k) {
    uint32_t bin = 0;
    const uint64_t first = arrival.offset + k * width;
    const uint64_t stop = std::min<uint64_t>(first + width + 1, readable);
    for (uint64_t i = first; i < stop; ++i) {
      bin = std::max(bin, static_cast<uint32_t>(buffer[i]));
    }
    if (k < buffer.size()) buffer[k] = static_cast<int32_t>(bin);
  }
  return arrival;
}

uint32_t correlateRecording(SonarSettings& s, uint32_t endBytes) {
  return correlateEcho(endBytes, s.outBufferBytes, s.offsetBytes, s.recordSamples, s.chirpReference,
                       s.recordBuffer, s.correlationBuffer, s.correlationSums, s.waveFormat,
                       s.amplification, s.correlationWorkspace.get(), s.correlationWorker.get());
}

DirectArrival findDirectArrival(SonarSettings& s) {
  return findDirectPath(s.inBufferBytes, static_cast<int32_t>(s.outBufferBytes), s.offsetBytes,
                        s.correlationBuffer, s.waveFormat);
}

namespace {

// Template taps in use of the settings' plan.
std::span<const int32_t> plannedTaps(const SonarSettings& s) {
  const std::span<const int32_t> templ = s.chirpReference;
  const auto taps = templ.first(std::min<size_t>(s.outBufferBytes, templ.size()));
  return taps.size() > kFirstTap ? taps.subspan(kFirstTap) : taps.first(0);
}

// Lags of the plan's longest call, counted from 0 so that an offset changed later without a new
// plan still fits. That call correlates up to inBufferBytes + kRecordExtraBytes (timed pings,
// offset search).
uint64_t plannedLags(const SonarSettings& s) {
  const uint64_t end = uint64_t{s.inBufferBytes} + kRecordExtraBytes;
  const uint64_t last = isSixteenBit(s.waveFormat) ? end / 2 : end;
  return std::min<uint64_t>({last + 1, s.correlationBuffer.size(), s.correlationSums.size()});
}

}  // namespace

std::shared_ptr<CorrelationWorkspace> planCorrelation(const SonarSettings& s) {
  const auto taps = plannedTaps(s);
  if (taps.size() < kFftMinTaps) return nullptr;  // direct sums are faster
  return makeCorrelationWorkspace(taps, plannedLags(s));
}

std::shared_ptr<CorrelationWorker> planCorrelationWorker(const SonarSettings& s) {
  if (s.correlationWorkspace == nullptr) {
    const uint64_t lags = plannedLags(s);
    const uint64_t fromOffset = lags > s.offsetBytes ? lags - s.offsetBytes : 0;
    if (fromOffset * plannedTaps(s).size() < kSharedMinProducts) return nullptr;
  }
  return makeCorrelationWorker();
}
