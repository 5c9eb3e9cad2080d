#include "engine/sound_path.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "engine/fractional_delay.h"
#include "engine/window.h"

namespace {

// The filter of the fit: taps of X and X^ from kLeadTaps before lag 0 to kLagTaps after it, and
// two poles. More taps fit a near echo into the response (X's main lobe is a dozen lags wide, so
// a tap a few lags off already reaches an echo 0.3 m away in water); these hold the tilt of a
// first-order filter across the band.
constexpr int kLeadTaps = 1;
constexpr int kLagTaps = 1;
constexpr int kTaps = kLeadTaps + kLagTaps + 1;
constexpr int kPoles = 2;
constexpr int kParams = 2 * kTaps + kPoles;
constexpr int kIterations = 4;
// Ridge on the normal equations, relative to their mean diagonal: neighbouring taps of a
// band-limited X are nearly the same column.
constexpr double kRidge = 1e-6;
// A richer filter must lower what the fit leaves by this factor to be kept.
constexpr double kLevelWorth = 0.5;
// and is not tried once the simpler one leaves less than this share of the mean.
constexpr double kGoodEnough = 0.003;
constexpr int kHilbertHalfTaps = 31;
// Main lobes of X on either side of the anchor that the taps are fitted to: the direct arrival's
// response has most of its energy there, and an echo two lobes away barely reaches them.
constexpr int kTapLobes = 2;
constexpr uint32_t kPingsBetweenFits = 4;
// A ringing model ends once it has stayed this far below its peak for kQuietLags lags.
constexpr double kRingFloor = 1e-6;
constexpr size_t kQuietLags = 32;

using Params = std::array<double, kParams>;

struct Fit {
  Params p{};  // X taps, X^ taps, then a1, a2
  bool poles = false;
  double misfit = INFINITY;
};

double clampedAt(const std::vector<double>& v, int64_t i, size_t n) {
  return i < 0 || i >= static_cast<int64_t>(n) ? 0.0 : v[static_cast<size_t>(i)];
}

// x / A(z) in place: y[i] = x[i] - a1 y[i-1] - a2 y[i-2].
void allPole(const double* x, double* y, size_t n, double a1, double a2) {
  double y1 = 0.0, y2 = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double v = x[i] - a1 * y1 - a2 * y2;
    y[i] = v;
    y2 = y1;
    y1 = v;
  }
}

bool stable(double a1, double a2) {
  return std::abs(a2) < 0.9995 && std::abs(a1) < 1.0 + a2 - 1e-4;
}

// Solves g = G p by Cholesky in place; false when G is not positive definite.
bool solve(std::array<double, kParams * kParams>& g, Params& rhs, int n) {
  for (int j = 0; j < n; ++j) {
    double d = g[j * kParams + j];
    for (int k = 0; k < j; ++k) d -= g[j * kParams + k] * g[j * kParams + k];
    if (!(d > 0.0)) return false;
    d = std::sqrt(d);
    g[j * kParams + j] = d;
    for (int i = j + 1; i < n; ++i) {
      double s = g[i * kParams + j];
      for (int k = 0; k < j; ++k) s -= g[i * kParams + k] * g[j * kParams + k];
      g[i * kParams + j] = s / d;
    }
  }
  for (int i = 0; i < n; ++i) {
    double s = rhs[i];
    for (int k = 0; k < i; ++k) s -= g[i * kParams + k] * rhs[k];
    rhs[i] = s / g[i * kParams + i];
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = rhs[i];
    for (int k = i + 1; k < n; ++k) s -= g[k * kParams + i] * rhs[k];
    rhs[i] = s / g[i * kParams + i];
  }
  return true;
}

// The path's buffers under the names of the fit.
struct FitData {
  const ChannelPath& path;
  size_t n;
  size_t from, to;  // rows of the least squares and of its misfit
  double* y;        // target, prefiltered
  double* x;        // X, prefiltered
  double* xq;       // X^, prefiltered
};

// One least-squares solve of y = sum b_k x(i-k) + c_k xq(i-k) - a1 y(i-1) - a2 y(i-2), with the
// taps k from -reach to reach (within the filter's own span) and the poles if asked for; the
// other parameters are 0.
bool solveOnce(const FitData& d, int reach, bool poles, Params& p) {
  std::array<int, kParams> columns{};  // parameter index of each column
  int n = 0;
  for (int k = -kLeadTaps; k <= kLagTaps; ++k) {
    if (std::abs(k) > reach) continue;
    columns[n++] = k + kLeadTaps;
    columns[n++] = kTaps + k + kLeadTaps;
  }
  if (poles) {
    columns[n++] = 2 * kTaps;
    columns[n++] = 2 * kTaps + 1;
  }
  std::array<double, kParams * kParams> g{};
  Params rhs{};
  std::array<double, kParams> full{};
  for (size_t i = std::max<size_t>(kPoles, d.from); i < d.to; ++i) {
    for (int k = -kLeadTaps; k <= kLagTaps; ++k) {
      const int64_t at = static_cast<int64_t>(i) - k;
      const bool in = at >= 0 && at < static_cast<int64_t>(d.n);
      full[k + kLeadTaps] = in ? d.x[at] : 0.0;
      full[kTaps + k + kLeadTaps] = in ? d.xq[at] : 0.0;
    }
    full[2 * kTaps] = -d.y[i - 1];
    full[2 * kTaps + 1] = -d.y[i - 2];
    for (int a = 0; a < n; ++a) {
      const double ra = full[columns[a]];
      rhs[a] += ra * d.y[i];
      for (int b = 0; b <= a; ++b) g[a * kParams + b] += ra * full[columns[b]];
    }
  }
  double trace = 0.0;
  for (int a = 0; a < n; ++a) trace += g[a * kParams + a];
  for (int a = 0; a < n; ++a) {
    g[a * kParams + a] += kRidge * trace / n;
    for (int b = 0; b < a; ++b) g[b * kParams + a] = g[a * kParams + b];
  }
  if (!solve(g, rhs, n)) return false;
  p = Params{};
  for (int a = 0; a < n; ++a) p[columns[a]] = rhs[a];
  return true;
}

// The response the parameters make of X and X^ (into `out`), and what it leaves of the target.
double render(const ChannelPath& path, const double* target, const Params& p, double* out,
              size_t from, size_t to) {
  const size_t n = path.lags();
  const double a1 = p[2 * kTaps], a2 = p[2 * kTaps + 1];
  double y1 = 0.0, y2 = 0.0, left = 0.0, total = 0.0;
  for (size_t i = 0; i < n; ++i) {
    double v = 0.0;
    for (int k = -kLeadTaps; k <= kLagTaps; ++k) {
      const int64_t at = static_cast<int64_t>(i) - k;
      v += p[k + kLeadTaps] * clampedAt(path.ideal, at, n) +
           p[kTaps + k + kLeadTaps] * clampedAt(path.quadrature, at, n);
    }
    v -= a1 * y1 + a2 * y2;
    out[i] = v;
    y2 = y1;
    y1 = v;
    if (i < from || i >= to) continue;
    const double e = target[i] - v;
    left += e * e;
    total += target[i] * target[i];
  }
  return total > 0.0 ? left / total : INFINITY;
}

// The model's own ringing past the learned lags (X and X^ are zero there): the poles alone, until
// it stays below kRingFloor of the peak for a few periods. Returns the lags written.
size_t ringOn(const Params& p, double* out, size_t room, double y2, double y1, double peak) {
  const double a1 = p[2 * kTaps], a2 = p[2 * kTaps + 1];
  if (a1 == 0.0 && a2 == 0.0) return 0;
  size_t quiet = 0;
  for (size_t i = 0; i < room; ++i) {
    const double v = -a1 * y1 - a2 * y2;
    out[i] = v;
    y2 = y1;
    y1 = v;
    quiet = std::abs(v) < kRingFloor * peak ? quiet + 1 : 0;
    if (quiet >= kQuietLags) return i + 1;
  }
  return room;
}

// The mean less each known echo, a copy of the model scaled to the direct arrival's share of the
// mean: what the direct arrival alone looks like.
void withoutEchoes(const ChannelPath& path, std::span<const PathEcho> echoes, double* target) {
  const size_t n = path.lags();
  std::copy_n(path.mean.begin(), n, target);
  if (!path.fitted || echoes.empty()) return;
  double match = 0.0, energy = 0.0;
  for (size_t i = 0; i < n; ++i) {
    match += path.model[i] * path.mean[i];
    energy += path.model[i] * path.model[i];
  }
  const double direct = energy > 0.0 ? match / energy : 0.0;
  const auto model = [&](int64_t i) {
    return i < 0 || i >= static_cast<int64_t>(path.modelLags) ? 0.0
                                                              : path.model[static_cast<size_t>(i)];
  };
  for (const PathEcho& e : echoes) {
    const double whole = std::floor(e.lag);
    const FractionalDelay delay = FractionalDelay::of(e.lag - whole);
    const auto shift = static_cast<int64_t>(whole);
    for (size_t i = 0; i < n; ++i) {
      target[i] -= direct * e.amplitude * delay.apply(model, static_cast<int64_t>(i) - shift);
    }
  }
}

// Lags from the anchor to where X's envelope falls below half its peak, at least one.
int mainLobeOf(const ChannelPath& path) {
  const auto envelope = [&](int tau) {
    const auto i = static_cast<size_t>(tau + path.before);
    return std::hypot(path.ideal[i], path.quadrature[i]);
  };
  const double top = envelope(0);
  int lobe = 1;
  while (lobe < path.after && envelope(lobe) >= 0.5 * top) ++lobe;
  return lobe;
}

}  // namespace

void quadratureOf(std::span<const double> in, std::span<double> out, int outLead) {
  std::array<double, kHilbertHalfTaps + 1> taps{};  // taps[k] for odd k; tap -k is -taps[k]
  for (int k = 1; k <= kHilbertHalfTaps; k += 2) {
    const double window = blackmanWindow(k, kHilbertHalfTaps + 1);
    taps[static_cast<size_t>(k)] = 2.0 / (std::numbers::pi * k) * window;
  }
  const auto n = static_cast<int64_t>(in.size());
  for (size_t i = 0; i < out.size(); ++i) {
    const int64_t m = static_cast<int64_t>(i) - outLead;
    double v = 0.0;
    for (int k = 1; k <= kHilbertHalfTaps; k += 2) {
      const double before = m - k >= 0 && m - k < n ? in[static_cast<size_t>(m - k)] : 0.0;
      const double after = m + k >= 0 && m + k < n ? in[static_cast<size_t>(m + k)] : 0.0;
      v += taps[static_cast<size_t>(k)] * (before - after);
    }
    out[i] = v;
  }
}

ChannelPath::ChannelPath()
    : ideal(kMaxShapeLags, 0.0),
      quadrature(kMaxShapeLags, 0.0),
      mean(kMaxShapeLags, 0.0),
      model(kMaxShapeLags, 0.0),
      work(5 * kMaxShapeLags + kMaxChirpFrames + 2 * kHilbertHalfTaps, 0.0) {}

void startPath(ChannelPath& path, std::span<const double> played, int ringLags) {
  path.fitted = false;
  const auto length = static_cast<int>(std::min<size_t>(played.size(), kMaxChirpFrames));
  path.before = length + kShapeGuardLags;
  path.after = length + kShapeGuardLags + std::clamp(ringLags, 0, kMaxRingLags);
  path.pings = 0;
  path.modelLags = 0;
  const size_t n = path.lags();
  std::fill(path.mean.begin(), path.mean.end(), 0.0);
  std::fill(path.model.begin(), path.model.end(), 0.0);
  double* shifted = path.work.data();  // index m + kHilbertHalfTaps for m = -31 .. length + 30
  const int shiftedLength = length + 2 * kHilbertHalfTaps;
  quadratureOf(played.first(static_cast<size_t>(length)),
               {shifted, static_cast<size_t>(shiftedLength)}, kHilbertHalfTaps);
  for (size_t i = 0; i < n; ++i) {
    const int tau = static_cast<int>(i) - path.before;
    double x = 0.0, xq = 0.0;
    for (int j = 0; j < length; ++j) {
      const int at = j + tau;
      if (at >= 0 && at < length)
        x += played[static_cast<size_t>(j)] * played[static_cast<size_t>(at)];
      const int q = at + kHilbertHalfTaps;
      if (q >= 0 && q < shiftedLength) xq += played[static_cast<size_t>(j)] * shifted[q];
    }
    path.ideal[i] = x;
    path.quadrature[i] = xq;
  }
  const double peak = std::abs(path.ideal[static_cast<size_t>(path.before)]);
  for (size_t i = 0; i < n; ++i) {
    path.ideal[i] = peak > 0.0 ? path.ideal[i] / peak : 0.0;
    path.quadrature[i] = peak > 0.0 ? path.quadrature[i] / peak : 0.0;
  }
  path.lobe = mainLobeOf(path);
}

void learnPath(ChannelPath& path, std::span<const double> around, uint32_t memory,
               std::span<const PathEcho> echoes, PathFit fit) {
  const size_t n = path.lags();
  if (around.size() < n || n < 2 * kPoles + kParams) return;
  // Each ping scaled to its own peak near the anchor, so that a change of level does not smear
  // the mean.
  double peak = 0.0;
  const int reach = std::max(8, path.before / 2);
  for (int t = -reach; t <= reach; ++t) {
    peak = std::max(peak, std::abs(around[static_cast<size_t>(path.before + t)]));
  }
  if (!(peak > 0.0) || !std::isfinite(peak)) return;
  path.pings = std::min(path.pings + 1, std::max<uint32_t>(memory, 1));
  const double weight = 1.0 / path.pings;
  for (size_t i = 0; i < n; ++i) path.mean[i] += (around[i] / peak - path.mean[i]) * weight;
  // Once the mean holds its full memory it changes by a sixteenth a ping: a fit every few pings
  // follows it.
  path.sinceFit = path.sinceFit < UINT32_MAX ? path.sinceFit + 1 : path.sinceFit;
  if (path.pings < memory || path.sinceFit >= kPingsBetweenFits || !path.fitted) {
    fitPath(path, echoes, fit);
  }
}

void fitPath(ChannelPath& path, std::span<const PathEcho> echoes, PathFit fit) {
  const size_t n = path.lags();
  path.sinceFit = 0;
  if (path.pings == 0 || n < 2 * kPoles + kParams) return;
  double* y = path.work.data();
  double* x = y + kMaxShapeLags;
  double* xq = x + kMaxShapeLags;
  double* trial = xq + kMaxShapeLags;
  double* target = trial + kMaxShapeLags;
  withoutEchoes(path, echoes, target);
  // The taps are fitted to the direct arrival's own main lobes, which an echo clear of them barely
  // reaches: fitted to every learned lag, an echo that no search has seen yet (or one the search
  // put a carrier cycle off) bends them, and every echo found with the bent model moves by a
  // cycle. Only the resonance needs the lags after them.
  const auto window = static_cast<size_t>(kTapLobes * path.lobe);
  const auto anchor = static_cast<size_t>(path.before);
  const size_t from = anchor > window ? anchor - window : 0;
  const size_t to = std::min(n, anchor + window + 1);
  const FitData near{path, n, from, to, y, x, xq};
  const FitData whole{path, n, 0, n, y, x, xq};
  std::copy_n(target, n, y);
  std::copy_n(path.ideal.begin(), n, x);
  std::copy_n(path.quadrature.begin(), n, xq);
  // The simplest filter that explains the direct arrival: a gain and a constant phase shift,
  // then a tilt across the band (taps next to lag 0), then a resonance (two poles, by
  // Steiglitz-McBride iterations: each filters target and regressors by the latest 1 / A(z),
  // which turns the equation error into the output error). Each must halve what the simpler one
  // leaves: an echo near the direct sound, which no such filter makes, lowers it far less.
  Fit best;
  for (int reach = 0; reach <= 1; ++reach) {
    Fit taps;
    if (solveOnce(near, reach, false, taps.p)) {
      taps.misfit = render(path, target, taps.p, trial, from, to);
    }
    if (!std::isfinite(best.misfit) ||
        (best.misfit > kGoodEnough && taps.misfit < kLevelWorth * best.misfit)) {
      best = taps;
    }
  }
  if (std::isfinite(best.misfit)) best.misfit = render(path, target, best.p, trial, 0, n);
  Fit withPoles;
  Params p{};
  double a1 = 0.0, a2 = 0.0;
  for (int it = 0; it < (fit == PathFit::kFull ? kIterations : 0); ++it) {
    allPole(target, y, n, a1, a2);
    allPole(path.ideal.data(), x, n, a1, a2);
    allPole(path.quadrature.data(), xq, n, a1, a2);
    if (!solveOnce(whole, 1, true, p) || !stable(p[2 * kTaps], p[2 * kTaps + 1])) break;
    a1 = p[2 * kTaps];
    a2 = p[2 * kTaps + 1];
    const double misfit = render(path, target, p, trial, 0, n);
    if (misfit < withPoles.misfit) withPoles = Fit{p, true, misfit};
  }
  if (best.misfit > kGoodEnough && withPoles.misfit < kLevelWorth * best.misfit) best = withPoles;
  if (!std::isfinite(best.misfit)) return;
  render(path, target, best.p, path.model.data(), 0, n);
  double modelPeak = 0.0;
  for (size_t i = 0; i < n; ++i) modelPeak = std::max(modelPeak, std::abs(path.model[i]));
  path.modelLags = n + ringOn(best.p, path.model.data() + n, path.model.size() - n,
                              path.model[n - 2], path.model[n - 1], modelPeak);
  for (size_t i = 0; i < path.modelLags; ++i) {
    path.model[i] = modelPeak > 0.0 ? path.model[i] / modelPeak : 0.0;
  }
  path.fitted = modelPeak > 0.0;
}
