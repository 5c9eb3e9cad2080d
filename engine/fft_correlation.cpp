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
//   16-bit samples themselves. Measured on full-scale input (random, clipped chirp, constant
//   -32768): about 1e-3 at the largest plan (650246 taps, 1.0e6-point transform), 500 times
//   below 1/2; without the split it reached 0.19.
// - Every call checks its own margin: the distance of each unrounded value from its integer is
//   its error as long as that error is below 1/2. Errors grow smoothly with the input, so a call
//   whose errors approached 1/2 would show distances above 1/8 long before any value rounded the
//   wrong way; such a call reports failure and the caller sums directly.
#include "engine/fft_correlation.h"

#include <fftw3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr double kMaxResidual = 0.125;
constexpr size_t kThreadedLength = size_t{1} << 17;  // shorter ones gain nothing from threads
constexpr size_t kGatherChunk = 4096;

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

// Smallest n >= need whose factors are 2, 3, 5 and 7: FFTW's fast sizes. Rounding up to a power
// of two instead was measured slower.
size_t fastLength(size_t need) {
  for (size_t n = std::max<size_t>(need, 1);; ++n) {
    size_t m = n;
    for (size_t f : {2, 3, 5, 7}) {
      while (m % f == 0) m /= f;
    }
    if (m == 1) return n;
  }
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
  fftw_plan forward = nullptr;
  fftw_plan backward = nullptr;
  std::mutex busy;
  double residual = 0.0;

  ~CorrelationWorkspace() {
    std::lock_guard lock(plannerMutex());
    if (forward != nullptr) fftw_destroy_plan(forward);
    if (backward != nullptr) fftw_destroy_plan(backward);
  }
};

namespace {

bool makePlans(CorrelationWorkspace& w) {
  std::lock_guard lock(plannerMutex());
  const int threads = w.length >= kThreadedLength
                          ? static_cast<int>(std::min(2u, std::thread::hardware_concurrency()))
                          : 1;
  fftw_plan_with_nthreads(std::max(threads, 1));
  const int n = static_cast<int>(w.length);
  w.forward = fftw_plan_dft_1d(n, w.work.get(), w.work.get(), FFTW_FORWARD, FFTW_ESTIMATE);
  w.backward = fftw_plan_dft_1d(n, w.work.get(), w.work.get(), FFTW_BACKWARD, FFTW_ESTIMATE);
  return w.forward != nullptr && w.backward != nullptr;
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

// z[k] = low + i * high digits of value(from + k) for k < count, zero up to the full length.
void loadDigits(CorrelationWorkspace& w, const SampleSource& source, uint64_t from, size_t count) {
  std::array<int16_t, kGatherChunk> chunk;
  fftw_complex* z = w.work.get();
  for (size_t k0 = 0; k0 < count; k0 += kGatherChunk) {
    const size_t n = std::min(kGatherChunk, count - k0);
    gatherSamples(source, from + k0, std::span(chunk).first(n));
    for (size_t k = 0; k < n; ++k) {
      z[k0 + k][0] = lowDigit(chunk[k]);
      z[k0 + k][1] = highDigit(chunk[k]);
    }
  }
  double* flat = &z[0][0];
  std::fill(flat + 2 * count, flat + 2 * w.length, 0.0);
}

inline void multiply(fftw_complex& z, double re, double im) {
  const double zr = z[0] * re - z[1] * im;
  const double zi = z[0] * im + z[1] * re;
  z[0] = zr;
  z[1] = zi;
}

void multiplySpectrum(CorrelationWorkspace& w) {
  fftw_complex* z = w.work.get();
  const fftw_complex* s = w.spectrum.get();
  const size_t half = w.length / 2;
  for (size_t k = 0; k <= half; ++k) multiply(z[k], s[k][0], s[k][1]);
  for (size_t k = half + 1; k < w.length; ++k) {
    multiply(z[k], s[w.length - k][0], -s[w.length - k][1]);
  }
}

double unpackSums(const CorrelationWorkspace& w, std::span<int64_t> sums) {
  const fftw_complex* z = w.work.get();
  double worst = 0.0;
  for (size_t m = 0; m < sums.size(); ++m) {
    const double low = roundNearest(z[m][0]);
    const double high = roundNearest(z[m][1]);
    worst = std::max({worst, std::fabs(z[m][0] - low), std::fabs(z[m][1] - high)});
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
    w->length = fastLength(static_cast<size_t>(need));
    w->taps.assign(taps.begin(), taps.end());
    w->spectrum = allocateComplex(w->length / 2 + 1);
    w->work = allocateComplex(w->length);
    if (!w->spectrum || !w->work || !makePlans(*w)) return nullptr;
    computeSpectrum(*w);
    return w;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

bool fftSums(CorrelationWorkspace& w, const SampleSource& source, std::span<const int32_t> taps,
             uint64_t firstIndex, std::span<int64_t> sums) {
  if (sums.empty()) return true;
  if (taps.size() != w.taps.size() || sums.size() + taps.size() - 1 > w.length) return false;
  // The template can change without a new plan (the out-signal dialog makes an 8-bit chirp in
  // place); a stale spectrum would give wrong sums.
  if (!std::equal(taps.begin(), taps.end(), w.taps.begin())) return false;
  std::unique_lock lock(w.busy, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  loadDigits(w, source, firstIndex, sums.size() + taps.size() - 1);
  fftw_execute(w.forward);
  multiplySpectrum(w);
  fftw_execute(w.backward);
  w.residual = unpackSums(w, sums);
  return w.residual <= kMaxResidual;
}

double lastRoundingResidual(const CorrelationWorkspace& w) {
  return w.residual;
}
