// Echo detection on the raw correlation: a CLEAN-style search.
//  [model]   every arrival (the direct sound and each echo) is a scaled, delayed copy of the
//            played chirp, so its correlation is a scaled, delayed copy of X, the correlation of
//            the played part of the play buffer with the template;
//  [direct]  the direct arrival is fitted near the offset finder's lag and its whole response,
//            side lobes included, is subtracted instead of blanking the chirp's length after
//            it: at the default 2 ms chirp a reflector 0.3 m away echoes 1.78 ms after the direct
//            sound, inside that length;
//  [floor]   the noise floor is a clipped RMS of what remains;
//  [echoes]  the strongest remaining peak above the threshold is fitted to sub-sample precision,
//            recorded and subtracted, up to seven times.
#include "engine/echo_detector.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "engine/correlation.h"

namespace {

constexpr int kMaxModelHalfWidth = 1024;   // lags of X kept on each side of its peak
constexpr double kModelBudget = 8.0e6;     // multiply-adds spent on X per call
constexpr int kInterpTaps = 16;            // half-length of the fractional-delay kernel
constexpr double kNoiseFactor = 5.0;       // threshold over the noise floor (RMS)
constexpr double kDirectFraction = 0.02;   // and over what a fit of the direct sound leaves
constexpr double kDirectOverNoise = 20.0;  // a direct arrival the offset finder missed
constexpr int kMaxArrivals = 1 + static_cast<int>(kMaxEchoes);
constexpr int kMaxFitPoints = 256;  // residual samples a fit looks at, at most

// X(tau) for |tau| <= halfWidth, centred at index halfWidth.
struct ChirpResponse {
  std::array<double, 2 * kMaxModelHalfWidth + 1> values{};
  int halfWidth = 0;
  double peak = 0.0;

  double at(int tau) const { return std::abs(tau) > halfWidth ? 0.0 : values[tau + halfWidth]; }
};

// Weights of the windowed-sinc kernel that delays a sampled response by a fraction of a lag;
// fixed per arrival, so evaluating its model costs 2 * kInterpTaps multiply-adds.
struct FractionalDelay {
  std::array<double, 2 * kInterpTaps> weights{};
  double fraction = 0.0;  // in [0, 1)

  // sin(pi t) for t = k - fraction is -(-1)^k sin(pi fraction), and the window's cosines step
  // by a fixed angle: three calls of the math library instead of a hundred per kernel.
  static FractionalDelay of(double fraction) {
    FractionalDelay d;
    d.fraction = fraction;
    const double step = M_PI / kInterpTaps;
    const double stepCos = std::cos(step), stepSin = std::sin(step);
    const double sinPiFraction = std::sin(M_PI * fraction);
    double c = std::cos(step * (-kInterpTaps + 1 - fraction));
    double sn = std::sin(step * (-kInterpTaps + 1 - fraction));
    for (int k = -kInterpTaps + 1; k <= kInterpTaps; ++k) {
      const double t = k - fraction;
      const double window = 0.42 + 0.5 * c + 0.08 * (2.0 * c * c - 1.0);
      const double sinPiT = (k % 2 == 0 ? -1.0 : 1.0) * sinPiFraction;
      const double sinc = t == 0.0 ? 1.0 : sinPiT / (M_PI * t);
      d.weights[k + kInterpTaps - 1] = window * sinc;
      const double next = c * stepCos - sn * stepSin;
      sn = sn * stepCos + c * stepSin;
      c = next;
    }
    return d;
  }

  // X(base + fraction) from the samples around base.
  double apply(const ChirpResponse& x, int base) const {
    if (fraction == 0.0) return x.at(base);
    double sum = 0.0;
    for (int k = -kInterpTaps + 1; k <= kInterpTaps; ++k) {
      sum += x.at(base + k) * weights[k + kInterpTaps - 1];
    }
    return sum;
  }
};

struct Arrival {
  double lag = 0.0;        // fractional lag of the arrival's peak
  double amplitude = 0.0;  // scale of X
  FractionalDelay delay;   // kernel for lags that fall between the samples of X

  // The arrival's contribution at an integer lag of the correlation.
  double modelAt(uint64_t at, const ChirpResponse& x) const {
    const double whole = std::floor(lag);
    const double tau = static_cast<double>(at) - whole;  // an integer
    return amplitude * delay.apply(x, static_cast<int>(tau) - (delay.fraction > 0 ? 1 : 0));
  }

  static Arrival make(double peakLag, double scale) {
    const double whole = std::floor(peakLag);
    const double fraction = peakLag - whole;
    // tau = lag' - lag = (lag' - whole - 1) + (1 - fraction): sample base plus a fraction.
    return Arrival{peakLag, scale, FractionalDelay::of(fraction > 0 ? 1.0 - fraction : 0.0)};
  }
};

// The played samples: the first outBufferBytes bytes of the play buffer, as signed values.
uint64_t playedSamples(const SonarSettings& s) {
  const uint64_t playedBytes = std::min<uint64_t>(s.outBufferBytes, s.playBuffer.size());
  return isSixteenBit(s.waveFormat) ? playedBytes / 2 : playedBytes;
}

int32_t playedSample(const SonarSettings& s, uint64_t i) {
  if (isSixteenBit(s.waveFormat)) {
    return static_cast<int16_t>(s.playBuffer[2 * i] | (s.playBuffer[2 * i + 1] << 8));
  }
  return static_cast<int32_t>(s.playBuffer[i]) - 128;
}

void computeResponse(const SonarSettings& s, ChirpResponse& x) {
  const auto taps =
      static_cast<int64_t>(std::min<size_t>(s.outBufferBytes, s.chirpReference.size()));
  const auto played = static_cast<int64_t>(playedSamples(s));
  const double perLag = std::max<double>(1.0, static_cast<double>(taps));
  x.halfWidth = static_cast<int>(
      std::clamp<double>(kModelBudget / perLag / 2.0, 8.0, 1.0 * kMaxModelHalfWidth));
  x.halfWidth = std::min<int>(x.halfWidth, static_cast<int>(taps) + 4);
  for (int tau = -x.halfWidth; tau <= x.halfWidth; ++tau) {
    // Template tap j meets played sample j + tau; taps 0..3 stay out, as in the correlation.
    const int64_t from = std::max<int64_t>(kFirstTap, -tau);
    const int64_t to = std::min<int64_t>(taps, played - tau);
    double sum = 0.0;
    for (int64_t j = from; j < to; ++j) {
      sum += static_cast<double>(playedSample(s, static_cast<uint64_t>(j + tau))) *
             s.chirpReference[static_cast<size_t>(j)];
    }
    x.values[static_cast<size_t>(tau + x.halfWidth)] = sum;
  }
  x.peak = x.at(0);
}

// The recording's correlation minus every arrival found so far.
struct Residual {
  std::span<const int64_t> sums;
  uint64_t first = 0, last = 0;  // lags computed by the latest correlation
  const ChirpResponse& x;
  std::array<Arrival, kMaxArrivals> arrivals{};
  int count = 0;

  double at(uint64_t lag) const {
    double r = static_cast<double>(sums[lag]);
    for (int k = 0; k < count; ++k) {
      const double tau = static_cast<double>(lag) - arrivals[k].lag;
      if (std::abs(tau) <= x.halfWidth + kInterpTaps) r -= arrivals[k].modelAt(lag, x);
    }
    return r;
  }
};

// The residual around a peak, taken once per fit: while one arrival is fitted the others stay
// put, so only the candidate's own model changes from one trial delay to the next. A lobe wider
// than kMaxFitPoints lags (long or odd chirps only) is sampled every `stride` lags, so that no
// plan makes a fit take more than a few milliseconds.
struct FitWindow {
  std::array<double, kMaxFitPoints> residual{};
  int64_t firstLag = 0;
  int stride = 1;
  int points = 0;
};

void takeWindow(const Residual& r, uint64_t peak, int window, FitWindow& w) {
  const int maxPoints = static_cast<int>(w.residual.size());
  w.stride = std::max(1, (2 * window + kMaxFitPoints) / kMaxFitPoints);
  const int64_t from =
      std::max<int64_t>(static_cast<int64_t>(peak) - window, static_cast<int64_t>(r.first));
  const int64_t to =
      std::min<int64_t>(static_cast<int64_t>(peak) + window, static_cast<int64_t>(r.last));
  w.firstLag = from;
  w.points = 0;
  for (int64_t l = from; l <= to && w.points < maxPoints; l += w.stride) {
    w.residual[static_cast<size_t>(w.points++)] = r.at(static_cast<uint64_t>(l));
  }
}

// Residual energy left in the window by the best-scaled copy of X delayed to `lag`; sets that
// scale.
double misfit(const FitWindow& w, const ChirpResponse& x, double lag, double& scale) {
  const Arrival a = Arrival::make(lag, 1.0);
  double rm = 0, mm = 0, rr = 0;
  for (int i = 0; i < w.points; ++i) {
    const auto l = static_cast<uint64_t>(w.firstLag + int64_t{i} * w.stride);
    const double m = a.modelAt(l, x);
    const double v = w.residual[static_cast<size_t>(i)];
    rm += v * m;
    mm += m * m;
    rr += v * v;
  }
  scale = mm > 0 ? rm / mm : 0.0;
  return rr - scale * rm;
}

// The arrival whose delayed, scaled copy of X best fits the residual around the strongest lag
// `peak`. The carrier makes |X| nearly as high half a period away from its true peak, so noise
// can put `peak` on the wrong cycle: a coarse search over a whole period, fitted over the whole
// main lobe (where the envelope tells the cycles apart), picks the cycle, then a golden-section
// search settles the delay. (A first-order fit over a few lags was biased by about 0.04 lag,
// which left 2-3 % of a strong direct arrival behind as false echoes.)
Arrival fitArrival(const Residual& r, uint64_t peak, int window, int period, double searchLags) {
  FitWindow w;
  takeWindow(r, peak, window, w);
  // About 32 trial delays a carrier period, whatever its length in lags (16 picked the wrong
  // cycle of two overlapping echoes in noise); the golden section narrows the +-step around the
  // best one 40 000 times (below 1e-4 lag for the carrier periods of the default chirps).
  const double step = std::max(0.25, period / 32.0);
  searchLags = std::max(searchLags, step);
  double best = static_cast<double>(peak);
  double bestMisfit = INFINITY;
  double scale = 0.0;
  for (double lag = peak - searchLags; lag <= peak + searchLags; lag += step) {
    const double m = misfit(w, r.x, lag, scale);
    if (m < bestMisfit) {
      bestMisfit = m;
      best = lag;
    }
  }
  constexpr double kGolden = 0.6180339887498949;
  double lo = best - step;
  double hi = best + step;
  double a = hi - kGolden * (hi - lo);
  double b = lo + kGolden * (hi - lo);
  double fa = misfit(w, r.x, a, scale);
  double fb = misfit(w, r.x, b, scale);
  for (int i = 0; i < 22; ++i) {
    if (fa < fb) {
      hi = b;
      b = a;
      fb = fa;
      a = hi - kGolden * (hi - lo);
      fa = misfit(w, r.x, a, scale);
    } else {
      lo = a;
      a = b;
      fa = fb;
      b = lo + kGolden * (hi - lo);
      fb = misfit(w, r.x, b, scale);
    }
  }
  const double lag = 0.5 * (lo + hi);
  misfit(w, r.x, lag, scale);
  return Arrival::make(lag, scale);
}

// Arrivals closer than a main lobe bias each other's fits; each is fitted again against the
// residual of all the others, so two overlapping echoes are not reported as three.
void refitAll(Residual& r, int lobe, int period) {
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < r.count; ++k) {
      const Arrival kept = r.arrivals[k];
      r.arrivals[k].amplitude = 0.0;
      const auto peak = static_cast<uint64_t>(std::llround(kept.lag));
      r.arrivals[k] = fitArrival(r, peak, lobe, period, 1.0);
    }
  }
}

// Lags of one carrier period of X: twice the distance from its peak to the deepest trough
// within the main lobe (at least 2).
int carrierPeriod(const ChirpResponse& x, int lobe) {
  int trough = 1;
  for (int tau = 1; tau <= std::min(lobe, x.halfWidth); ++tau) {
    if (x.at(tau) < x.at(trough)) trough = tau;
  }
  return std::max(2, 2 * trough);
}

uint64_t strongestLag(const Residual& r, uint64_t from, uint64_t to) {
  uint64_t best = from;
  double bestValue = -1.0;
  for (uint64_t lag = from; lag <= to; ++lag) {
    const double v = std::abs(r.at(lag));
    if (v > bestValue) {
      bestValue = v;
      best = lag;
    }
  }
  return best;
}

// RMS of the residual, clipped twice so that remaining echoes do not raise the floor.
double noiseFloor(const Residual& r, uint64_t from, uint64_t to) {
  double limit = INFINITY;
  double rms = 0.0;
  for (int pass = 0; pass < 3; ++pass) {
    double sum = 0.0;
    uint64_t n = 0;
    for (uint64_t lag = from; lag <= to; ++lag) {
      const double v = r.at(lag);
      if (std::abs(v) <= limit) {
        sum += v * v;
        ++n;
      }
    }
    if (n == 0) break;
    rms = std::sqrt(sum / static_cast<double>(n));
    limit = 3.5 * rms;
  }
  return rms;
}

// Lags after the direct peak that its main lobe covers: beyond the last lag where |X| still
// reaches a quarter of its peak. (|X| itself dips to zero inside the lobe, with the carrier.)
int mainLobe(const ChirpResponse& x) {
  int last = 1;
  for (int tau = 1; tau <= x.halfWidth; ++tau) {
    if (std::abs(x.at(tau)) >= 0.25 * std::abs(x.peak)) last = tau;
  }
  return last + 2;
}

}  // namespace

double secondsPerLag(const WaveFormat& format) {
  const double valuesPerSecond = static_cast<double>(format.samplesPerSec) * format.channels;
  return valuesPerSecond > 0 ? 1.0 / valuesPerSecond : 0.0;
}

std::array<double, kMaxEchoes> detectEchoes(const SonarSettings& s, DirectArrival direct) {
  std::array<double, kMaxEchoes> metres{};
  const double perLag = secondsPerLag(s.waveFormat);
  // Lags both kinds of caller computed: the manual step stops at inBufferBytes.
  const uint64_t end = isSixteenBit(s.waveFormat) ? s.inBufferBytes / 2 : s.inBufferBytes;
  const uint64_t first = s.offsetBytes;
  if (perLag <= 0.0 || s.correlationSums.empty() || end == 0) return metres;
  const uint64_t last = std::min<uint64_t>(end, s.correlationSums.size()) - 1;
  if (first + 2 >= last) return metres;

  ChirpResponse x;
  computeResponse(s, x);
  if (x.peak <= 0.0) return metres;
  Residual r{s.correlationSums, first, last, x};
  const int lobe = mainLobe(x);
  const int period = carrierPeriod(x, lobe);

  // The direct arrival: the strongest lag where the offset finder put it. Its fixed rule of six
  // values above 120 misses the direct sound of a short broadband chirp (8-bit mono at 8 kHz),
  // so without a finding the strongest arrival of the whole recording stands in, and must stand
  // far above the noise to count.
  const uint32_t foundOffset = direct.offset;
  const bool finderFound = direct.found && foundOffset >= first && foundOffset <= last;
  const uint64_t directPeak =
      finderFound ? strongestLag(r, foundOffset, std::min<uint64_t>(last, foundOffset + 2 * lobe))
                  : strongestLag(r, first, last);
  r.arrivals[r.count++] = fitArrival(r, directPeak, lobe, period, 0.75 * period);
  const double directPeakValue = std::abs(r.arrivals[0].amplitude) * x.peak;

  const uint64_t searchFrom = directPeak + lobe;
  if (searchFrom >= last) return {};
  const double floor = noiseFloor(r, searchFrom, last);
  if (!finderFound && directPeakValue < kDirectOverNoise * floor) return metres;
  const double threshold = std::max(kNoiseFactor * floor, kDirectFraction * directPeakValue);

  const double metresPerLag = perLag * speedOfSound(s.medium) / 2.0;
  size_t found = 0;
  while (found < kMaxEchoes && r.count < kMaxArrivals) {
    const uint64_t peak = strongestLag(r, searchFrom, last);
    if (std::abs(r.at(peak)) <= threshold) break;
    r.arrivals[r.count++] = fitArrival(r, peak, lobe, period, 0.75 * period);
    refitAll(r, lobe, period);
    ++found;
  }
  for (size_t k = 0; k < found; ++k) {
    metres[k] = (r.arrivals[k + 1].lag - r.arrivals[0].lag) * metresPerLag;
  }
  std::sort(metres.begin(), metres.begin() + static_cast<std::ptrdiff_t>(found));
  return metres;
}
