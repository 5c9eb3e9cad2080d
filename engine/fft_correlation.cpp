// FFT correlation, exact to the last bit.
//
// Why rounding the FFT result gives the exact integer sums:
// - Each sample is split into balanced base-256 digits, x = 256 * high + low, |low|, |high| <= 128,
//   and the digits go into one complex sequence z = low + i * high. The template is real, so the
//   correlation of z is corr(low) + i * corr(high): one complex transform pair carries both.
// - Every exact digit sum is an integer of at most 128 * 32767 * 650246 < 2^42 in magnitude, so a
//   double holds it with 11 bits to spare, and the final sum = corr(low) + 256 * corr(high) is
//   assembled in 64-bit integers after rounding each part to the nearest integer.
// - Rounding is exact while each part's floating-point error stays below 1/2. That error scales
//   with the magnitude of the inputs; the digits make it 256 times smaller than transforming the
//   16-bit samples themselves. Measured on full-scale input (random, clipped chirp with echo,
//   constant -32768): at most 1.2e-4, for the clipped chirp at the largest plan (650206 taps,
//   1 024 000-point transform), 4 000 times below 1/2; without the split, errors of 0.19 were
//   seen there.
// - Every call checks its own margin: the distance of each unrounded value from its integer is
//   its error as long as that error is below 1/2. Errors grow smoothly with the input, so a call
//   whose errors approached 1/2 would show distances above 1/8 long before any value rounded the
//   wrong way; such a call reports failure and the caller sums directly.
#include "engine/fft_correlation.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "engine/correlation_worker.h"

namespace {

constexpr double kMaxResidual = 0.125;
constexpr size_t kThreadedLength = size_t{1} << 17;  // shorter ones gained nothing from threads
constexpr size_t kGatherChunk = 4096;
constexpr size_t kPassGrain = size_t{1} << 15;  // entries per share of an element-wise pass

// FFTW's planner is process-wide state and not thread-safe; plans are made and destroyed under
// this lock. Thread support is initialised once, on first use.
std::mutex& plannerMutex() {
  static std::mutex mutex;
  static const bool threads = fftw_init_threads() != 0;
  (void)threads;
  return mutex;
}

struct FftwFree {
  void operator()(fftw_complex* p) const { fftw_free(p); }
};
using ComplexArray = std::unique_ptr<fftw_complex[], FftwFree>;

ComplexArray allocateComplex(size_t n) {
  return ComplexArray(static_cast<fftw_complex*>(fftw_malloc(n * sizeof(fftw_complex))));
}

bool sevenSmooth(size_t n) {
  for (size_t f : {2, 3, 5, 7}) {
    while (n % f == 0) n /= f;
  }
  return n == 1;
}

size_t smallestSevenSmooth(size_t need) {
  size_t n = std::max<size_t>(need, 1);
  while (!sevenSmooth(n)) ++n;
  return n;
}

// Transform lengths to choose from. FFTW's speed varies by 20-40 % between nearby fast lengths,
// neither the smallest nor its own estimate picks reliably (2 threads, Zen 5, medians:
// 972000 points 6.2-7.9 ms, 983040 5.7-6.3 ms, 1024000 4.8-5.7 ms; 240000 1.05 ms, 245760 1.3 ms,
// 262144 0.9 ms), so long transforms try the smallest fast length and the power-of-two
// multiples of small odd numbers up to 12 % above it, and keep the fastest.
std::vector<size_t> candidateLengths(size_t need) {
  const size_t smallest = smallestSevenSmooth(need);
  std::vector<size_t> lengths{smallest};
  if (smallest < kThreadedLength) return lengths;
  for (size_t odd : {1, 3, 5, 125}) {
    size_t n = odd;
    while (n < need) n *= 2;
    if (n > smallest && n <= need + need / 8) lengths.push_back(n);
  }
  return lengths;
}

// Round to nearest by the 1.5 * 2^52 trick: exact for |v| < 2^51, no library call.
inline double roundNearest(double v) {
  constexpr double kMagic = 6755399441055744.0;
  return (v + kMagic) - kMagic;
}

}  // namespace

struct CorrelationWorkspace {
  size_t length = 0;
  std::vector<int32_t> taps;
  // conj(DFT(taps)) / length for bins 0 .. length / 2; the taps are real, so the upper bins are
  // the mirrored conjugates and need not be stored.
  ComplexArray spectrum;
  ComplexArray work;
  fftw_plan forward = nullptr;  // in place on work; also does the inverse (see multiplySpectrum)
  std::mutex busy;
  double residual = 0.0;

  ~CorrelationWorkspace() {
    std::lock_guard lock(plannerMutex());
    if (forward != nullptr) fftw_destroy_plan(forward);
  }
};

namespace {

int threadsFor(size_t length) {
  if (length < kThreadedLength) return 1;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 2u));
}

double executionMs(fftw_plan plan) {
  double best = 0.0;
  for (int run = 0; run < 2; ++run) {
    const auto start = std::chrono::steady_clock::now();
    fftw_execute(plan);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    best = run == 0 ? ms : std::min(best, ms);
  }
  return best;
}

fftw_plan planFor(size_t n, fftw_complex* z) {
  std::lock_guard lock(plannerMutex());
  fftw_plan_with_nthreads(threadsFor(n));
  // Estimated, not measured: milliseconds instead of up to minutes at these lengths.
  return fftw_plan_dft_1d(static_cast<int>(n), z, z, FFTW_FORWARD, FFTW_ESTIMATE);
}

void destroyPlan(fftw_plan plan) {
  std::lock_guard lock(plannerMutex());
  fftw_destroy_plan(plan);
}

// Plans each candidate length and keeps the one whose transform ran fastest here. The work array
// is zeroed first so that no candidate pays for touching fresh memory.
bool makePlans(CorrelationWorkspace& w, std::span<const size_t> lengths) {
  fftw_complex* z = w.work.get();
  std::fill_n(&z[0][0], 2 * *std::max_element(lengths.begin(), lengths.end()), 0.0);
  double bestMs = 0.0;
  for (size_t n : lengths) {
    fftw_plan p = planFor(n, z);
    if (p == nullptr) continue;
    const double ms = lengths.size() > 1 ? executionMs(p) : 0.0;
    if (w.forward != nullptr && ms >= bestMs) {
      destroyPlan(p);
      continue;
    }
    if (w.forward != nullptr) destroyPlan(w.forward);
    w.forward = p;
    w.length = n;
    bestMs = ms;
  }
  return w.forward != nullptr;
}

void computeSpectrum(CorrelationWorkspace& w) {
  fftw_complex* z = w.work.get();
  for (size_t k = 0; k < w.length; ++k) {
    z[k][0] = k < w.taps.size() ? w.taps[k] : 0.0;
    z[k][1] = 0.0;
  }
  fftw_execute(w.forward);
  const double norm = 1.0 / static_cast<double>(w.length);
  for (size_t k = 0; k <= w.length / 2; ++k) {
    w.spectrum[k][0] = z[k][0] * norm;
    w.spectrum[k][1] = -z[k][1] * norm;
  }
}

// z[k] = low + i * high digits of value(from + k) for k in [first, last) below count, zero from
// count on.
void loadDigits(CorrelationWorkspace& w, const SampleSource& source, uint64_t from, size_t count,
                size_t first, size_t last) {
  std::array<int16_t, kGatherChunk> chunk;
  fftw_complex* z = w.work.get();
  for (size_t k0 = first; k0 < std::min(last, count); k0 += kGatherChunk) {
    const size_t n = std::min({kGatherChunk, count - k0, last - k0});
    gatherSamples(source, from + k0, std::span(chunk).first(n));
    for (size_t k = 0; k < n; ++k) {
      z[k0 + k][0] = lowDigit(chunk[k]);
      z[k0 + k][1] = highDigit(chunk[k]);
    }
  }
  double* flat = &z[0][0];
  const size_t zeroFrom = std::max(first, count);
  if (zeroFrom < last) std::fill(flat + 2 * zeroFrom, flat + 2 * last, 0.0);
}

// z = conj(z * (re + i im)). The inverse transform is the forward one of the conjugate,
// conjugated: conjugating here saves a second plan (about 45 ms of planning at a million points).
inline void multiplyConjugated(fftw_complex& z, double re, double im) {
  const double zr = z[0] * re - z[1] * im;
  const double zi = z[0] * im + z[1] * re;
  z[0] = zr;
  z[1] = -zi;
}

// Bins [first, last) of the product; the upper half of the spectrum mirrors the stored half.
void multiplySpectrum(CorrelationWorkspace& w, size_t first, size_t last) {
  fftw_complex* z = w.work.get();
  const fftw_complex* s = w.spectrum.get();
  const size_t half = w.length / 2;
  for (size_t k = first; k < std::min(last, half + 1); ++k) {
    multiplyConjugated(z[k], s[k][0], s[k][1]);
  }
  for (size_t k = std::max(first, half + 1); k < last; ++k) {
    multiplyConjugated(z[k], s[w.length - k][0], -s[w.length - k][1]);
  }
}

// The transform of the conjugated product is the conjugate of the correlation: low digits in the
// real parts, high digits negated in the imaginary parts.
// Returns the largest distance of an unrounded value from its integer in [first, last).
double unpackSums(const CorrelationWorkspace& w, std::span<int64_t> sums, size_t first,
                  size_t last) {
  const fftw_complex* z = w.work.get();
  double worst = 0.0;
  for (size_t m = first; m < last; ++m) {
    const double low = roundNearest(z[m][0]);
    const double high = roundNearest(-z[m][1]);
    worst = std::max({worst, std::fabs(z[m][0] - low), std::fabs(-z[m][1] - high)});
    sums[m] = static_cast<int64_t>(low) + 256 * static_cast<int64_t>(high);
  }
  return worst;
}

}  // namespace

std::shared_ptr<CorrelationWorkspace> makeCorrelationWorkspace(std::span<const int32_t> taps,
                                                               uint64_t maxLags) {
  if (taps.empty() || maxLags == 0 || !tapsFitSixteenBits(taps)) return nullptr;
  const uint64_t need = maxLags + taps.size() - 1;
  if (need > (uint64_t{1} << 30)) return nullptr;
  try {
    auto w = std::make_shared<CorrelationWorkspace>();
    const std::vector<size_t> lengths = candidateLengths(static_cast<size_t>(need));
    w->taps.assign(taps.begin(), taps.end());
    w->work = allocateComplex(*std::max_element(lengths.begin(), lengths.end()));
    if (!w->work || !makePlans(*w, lengths)) return nullptr;
    w->spectrum = allocateComplex(w->length / 2 + 1);
    if (!w->spectrum) return nullptr;
    computeSpectrum(*w);
    return w;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool fftSums(CorrelationWorkspace& w, const SampleSource& source, std::span<const int32_t> taps,
             uint64_t firstIndex, std::span<int64_t> sums, CorrelationWorker* worker) {
  if (sums.empty()) return true;
  if (taps.size() != w.taps.size() || sums.size() + taps.size() - 1 > w.length) return false;
  // The template can change without a new plan (the out-signal dialog makes an 8-bit chirp in
  // place); a stale spectrum would give wrong sums.
  if (!std::equal(taps.begin(), taps.end(), w.taps.begin())) return false;
  std::unique_lock lock(w.busy, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  // The transforms run on FFTW's threads; the passes between them, memory-bound, on ours.
  const size_t count = sums.size() + taps.size() - 1;
  forEachRange(worker, w.length, kPassGrain, [&](size_t first, size_t last) {
    loadDigits(w, source, firstIndex, count, first, last);
  });
  fftw_execute(w.forward);
  forEachRange(worker, w.length, kPassGrain,
               [&](size_t first, size_t last) { multiplySpectrum(w, first, last); });
  fftw_execute(w.forward);
  std::atomic<double> worst{0.0};
  forEachRange(worker, sums.size(), kPassGrain, [&](size_t first, size_t last) {
    raiseTo(worst, unpackSums(w, sums, first, last));
  });
  w.residual = worst.load(std::memory_order_relaxed);
  return w.residual <= kMaxResidual;
}

double lastRoundingResidual(const CorrelationWorkspace& w) {
  return w.residual;
}
