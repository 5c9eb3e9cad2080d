// Direct correlation: exact integer sums with 32-bit vector multiply-adds.
//
// A 16-bit sample times a 16-bit tap needs up to 31 bits, so 32-bit accumulators would overflow
// after two products. Each sample is therefore split into balanced base-256 digits
// (x = 256 * high + low, both at most 128 in magnitude); a pair of digit-times-tap products stays
// within 2^24, so an accumulator takes 127 pairs before it is widened into the 64-bit sums. The
// 8-bit samples are a single digit. All of it is integer arithmetic: the result equals the plain
// 64-bit loop bit for bit.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>

#include "engine/correlation_sums.h"
#include "engine/correlation_worker.h"
#include "engine/direct_kernels.h"
#include "engine/pcm_samples.h"

namespace {

constexpr size_t kLagTile = 1024;                     // lags sharing one set of digit pairs
constexpr size_t kTapBlock = 2 * 8 * kPairsPerChunk;  // taps per pass over a tile (1920)
constexpr size_t kWindow = kLagTile + kTapBlock;      // digit pairs one pass reads at most

// About 41 KB on the stack of each thread: nothing is allocated, whatever the plan.
struct TileScratch {
  std::array<int16_t, kWindow + 1> values;
  alignas(kKernelAlignment) std::array<int32_t, kWindow> low;
  alignas(kKernelAlignment) std::array<int32_t, kWindow> high;
  std::array<int32_t, kTapBlock / 2> tapPairs;
  size_t tapsFrom = SIZE_MAX;  // first tap of the block in tapPairs
  size_t tapPairCount = 0;
  std::array<int64_t, kKernelLags> lastBlock;  // a tile's last block, when it is not whole
};

int32_t sampleAt(const SampleSource& s, uint64_t i) {
  if (s.isWide) return i < s.wide.size() ? s.wide[i] : 0;
  return pcm8At(s.narrow, i);
}

// Templates beyond 16 bits never come from the chirp synthesis; they take the plain loop.
void wideTapSums(const SampleSource& source, std::span<const int32_t> taps, uint64_t firstIndex,
                 std::span<int64_t> sums) {
  for (size_t m = 0; m < sums.size(); ++m) {
    int64_t sum = 0;
    for (size_t j = 0; j < taps.size(); ++j) {
      sum += static_cast<int64_t>(sampleAt(source, firstIndex + m + j)) * taps[j];
    }
    sums[m] = sum;
  }
}

// Tap pairs, padded with zero taps to whole groups; returns their count.
size_t packTaps(std::span<const int32_t> taps, std::span<int32_t> pairs) {
  const size_t used = (taps.size() + 1) / 2;
  const size_t count = (used + kPairGroup - 1) / kPairGroup * kPairGroup;
  auto tap = [&](size_t j) { return static_cast<int16_t>(j < taps.size() ? taps[j] : 0); };
  for (size_t p = 0; p < count; ++p) pairs[p] = packPair(tap(2 * p), tap(2 * p + 1));
  return count;
}

MERVANE_VECTOR_CLONES void packLowDigits(const int16_t* values, size_t count, int32_t* pairs) {
  for (size_t k = 0; k < count; ++k)
    pairs[k] = packPair(lowDigit(values[k]), lowDigit(values[k + 1]));
}

MERVANE_VECTOR_CLONES void packHighDigits(const int16_t* values, size_t count, int32_t* pairs) {
  for (size_t k = 0; k < count; ++k) {
    pairs[k] = packPair(highDigit(values[k]), highDigit(values[k + 1]));
  }
}

// Digit pairs of `count` consecutive samples from `from` on.
void packDigits(const SampleSource& source, uint64_t from, size_t count, bool twoPlanes,
                TileScratch& t) {
  gatherSamples(source, from, std::span(t.values).first(count + 1));
  packLowDigits(t.values.data(), count, t.low.data());
  if (twoPlanes) packHighDigits(t.values.data(), count, t.high.data());
}

struct TileJob {
  const SampleSource& source;
  std::span<const int32_t> taps;
  uint64_t firstIndex;
  std::span<int64_t> sums;
  PairKernel kernel;
};

// Tap pairs of the block from tap j0. A thread packs them once per call while the template has a
// single block (every template below the FFT crossover): they do not change from tile to tile.
size_t tapPairsFrom(const TileJob& job, size_t j0, TileScratch& t) {
  if (t.tapsFrom != j0) {
    t.tapPairCount =
        packTaps(job.taps.subspan(j0, std::min(kTapBlock, job.taps.size() - j0)), t.tapPairs);
    t.tapsFrom = j0;
  }
  return t.tapPairCount;
}

// The sums of lags [lag0, lagEnd), at most kLagTile of them. Whole kernel blocks accumulate
// straight into the caller's sums; a shorter last block goes through the scratch.
void sumTile(const TileJob& job, size_t lag0, size_t lagEnd, TileScratch& t) {
  const bool twoPlanes = job.source.isWide;  // 8-bit samples have no high digit
  const size_t lags = lagEnd - lag0;
  const size_t blocks = (lags + kKernelLags - 1) / kKernelLags;
  const size_t whole = lags / kKernelLags;
  int64_t* out = job.sums.data() + lag0;
  std::fill_n(out, whole * kKernelLags, int64_t{0});
  t.lastBlock.fill(0);
  for (size_t j0 = 0; j0 < job.taps.size(); j0 += kTapBlock) {
    const size_t pairs = tapPairsFrom(job, j0, t);
    packDigits(job.source, job.firstIndex + lag0 + j0, blocks * kKernelLags + 2 * pairs, twoPlanes,
               t);
    for (size_t b = 0; b < blocks; ++b) {
      const size_t at = b * kKernelLags;
      job.kernel(t.low.data() + at, twoPlanes ? t.high.data() + at : nullptr, t.tapPairs.data(),
                 pairs, b < whole ? out + at : t.lastBlock.data());
    }
  }
  std::copy_n(t.lastBlock.begin(), lags - whole * kKernelLags, out + whole * kKernelLags);
}

}  // namespace

void gatherSamples(const SampleSource& source, uint64_t from, std::span<int16_t> dst) {
  size_t copied = 0;
  if (source.isWide && from < source.wide.size()) {
    copied = static_cast<size_t>(std::min<uint64_t>(dst.size(), source.wide.size() - from));
    std::copy_n(source.wide.begin() + static_cast<ptrdiff_t>(from), copied, dst.begin());
  } else if (!source.isWide && from < source.narrow.size()) {
    copied = static_cast<size_t>(std::min<uint64_t>(dst.size(), source.narrow.size() - from));
    const uint8_t* bytes = source.narrow.data() + from;
    for (size_t k = 0; k < copied; ++k) dst[k] = static_cast<int16_t>(pcm8Value(bytes[k]));
  }
  std::fill(dst.begin() + static_cast<ptrdiff_t>(copied), dst.end(), int16_t{0});
}

bool tapsFitSixteenBits(std::span<const int32_t> taps) {
  return std::all_of(taps.begin(), taps.end(),
                     [](int32_t t) { return t >= INT16_MIN && t <= INT16_MAX; });
}

namespace {

// Where the two threads' halves meet before scaling: the scale needs the largest magnitude of all
// the sums, so each side publishes the peak of the lags it summed and waits for the other's, then
// scales its own lags while they are still in its cache. The worker may start late or not at all:
// it joins before it claims any lags, and the caller, once no lags are left, either closes the
// meeting (the worker has not come and will find nothing to do) or waits for the peak of a worker
// that has joined. Both waits last as long as the other side's last tile.
class PeakMeeting {
 public:
  // The worker, before it claims lags; false when the caller has already finished without it.
  bool join() {
    uint32_t open = kOpen;
    return entry_.compare_exchange_strong(open, kJoined, std::memory_order_acq_rel);
  }

  // This side's peak in, the peak of all out.
  uint64_t combine(ThreadSide side, uint64_t local) {
    raiseTo(peak_, local);
    if (side == ThreadSide::kWorker) {
      raise(workerIn_);
      awaitTrue(ready_);
    } else {
      uint32_t open = kOpen;
      if (!entry_.compare_exchange_strong(open, kClosed, std::memory_order_acq_rel)) {
        awaitTrue(workerIn_);
      }
      raise(ready_);
    }
    return peak_.load(std::memory_order_relaxed);
  }

  uint64_t peak() const { return peak_.load(std::memory_order_relaxed); }

 private:
  enum : uint32_t { kOpen, kJoined, kClosed };

  // The other side is usually a tile away; when it was preempted, this side sleeps on the flag
  // (a futex) instead of taking the core it needs to finish.
  static void awaitTrue(const std::atomic<bool>& flag) {
    for (int k = 0; k < kSpins; ++k) {
      if (flag.load(std::memory_order_acquire)) return;
      cpuRelax();
    }
    while (!flag.load(std::memory_order_acquire)) flag.wait(false, std::memory_order_acquire);
  }
  static void raise(std::atomic<bool>& flag) {
    flag.store(true, std::memory_order_release);
    flag.notify_one();
  }

  static constexpr int kSpins = 4096;

  std::atomic<uint32_t> entry_{kOpen};
  std::atomic<uint64_t> peak_{0};
  std::atomic<bool> workerIn_{false}, ready_{false};
};

uint64_t scaleAll(std::span<const int64_t> sums, std::span<int32_t> output, int32_t level) {
  const uint64_t peak = peakMagnitude(sums.data(), sums.size());
  scaleMagnitudes(sums.data(), output.data(), sums.size(), scaleFor(level, peak));
  return peak;
}

}  // namespace

uint64_t directSumsScaled(const SampleSource& source, std::span<const int32_t> taps,
                          uint64_t firstIndex, std::span<int64_t> sums, std::span<int32_t> output,
                          int32_t level, CorrelationWorker* worker) {
  if (!tapsFitSixteenBits(taps)) {
    wideTapSums(source, taps, firstIndex, sums);
    return scaleAll(sums, output, level);
  }
  if (uint64_t{sums.size()} * taps.size() < kSharedMinProducts) worker = nullptr;
  static const PairKernel kernel = pairKernel(directKernelLevel());
  const TileJob job{source, taps, firstIndex, sums, kernel};
  // Shared, tiles shrink towards the lags where the two threads meet: one kernel block there.
  // Each side's tiles join up into one range, since it claims them from its own end.
  RangeCounter tiles(
      sums.size(), kKernelLags, kLagTile,
      worker != nullptr ? RangeCounter::Sizing::kShared : RangeCounter::Sizing::kAlone);
  PeakMeeting meeting;
  auto task = [&](ThreadSide side) {
    if (side == ThreadSide::kWorker && !meeting.join()) return;
    TileScratch t;
    size_t low = sums.size(), high = 0;
    uint64_t peak = 0;
    for (size_t first = 0, last = 0; tiles.claim(side, first, last);) {
      sumTile(job, first, last, t);
      peak = std::max(peak, peakMagnitude(sums.data() + first, last - first));
      low = std::min(low, first);
      high = std::max(high, last);
    }
    const double scale = scaleFor(level, meeting.combine(side, peak));
    if (low < high) scaleMagnitudes(sums.data() + low, output.data() + low, high - low, scale);
  };
  runOnBoth(worker, task);
  return meeting.peak();
}
