#include "engine/sound_path.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <utility>

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
// A second arrival of the direct sound (a bounce off the desk) is looked for from this many lags
// behind the first (nearer, the taps' tilt makes it) to kCopyLobes of X's main lobe (farther, the
// search tells it apart), with the first from kCopyLeadEarliest to kCopyLeadLatest lags after the
// anchor (which can lie on a side lobe of the pair's envelope, before both); on a grid of 1 /
// kCopySteps of a lag, refined kCopyRefine times finer. It has the first's phase (a reflection off
// a hard desk only delays the sound) and is no stronger.
constexpr double kCopyLeastLags = 1.5;
constexpr double kCopyLobes = 1.0;
constexpr double kCopyLeadEarliest = -2.0;
constexpr double kCopyLeadLatest = 8.0;
constexpr double kCopyMostShare = 1.0;
constexpr int kCopySteps = 4;
constexpr int kCopyRefine = 4;
constexpr int kCopyCandidates = 4;
// What the pair must leave of what one arrival leaves: a loudspeaker's ringing or tilt, which a
// copy only imitates, lowers it by a half at most; a real bounce by far more.
constexpr double kCopyWorth = 0.1;
constexpr double kCoarsePhase = 0.4;
// A ringing model ends once it has stayed this far below its peak for kQuietLags lags.
constexpr double kRingFloor = 1e-6;
constexpr size_t kQuietLags = 32;

using Params = std::array<double, kParams>;

// What the filter of the fit is applied to: X and X^, or a sum of delayed copies of them.
struct Sources {
  const double* x = nullptr;
  const double* xq = nullptr;
};

struct Fit {
  Params p{};  // X taps, X^ taps, then a1, a2
  bool poles = false;
  double misfit = INFINITY;
  Sources source{};              // what the model applies the filter to
  double nearMisfit = INFINITY;  // over the direct arrival's own main lobes
};

double clampedAt(const double* v, int64_t i, size_t n) {
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
double render(const Sources& src, size_t n, const double* target, const Params& p, double* out,
              size_t from, size_t to) {
  const double a1 = p[2 * kTaps], a2 = p[2 * kTaps + 1];
  double y1 = 0.0, y2 = 0.0, left = 0.0, total = 0.0;
  for (size_t i = 0; i < n; ++i) {
    double v = 0.0;
    for (int k = -kLeadTaps; k <= kLagTaps; ++k) {
      const int64_t at = static_cast<int64_t>(i) - k;
      v += p[k + kLeadTaps] * clampedAt(src.x, at, n) +
           p[kTaps + k + kLeadTaps] * clampedAt(src.xq, at, n);
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

struct FitBuffers {
  double* y;  // target, prefiltered
  double* x;  // the sources, prefiltered
  double* xq;
  double* trial;  // a rendered response
};

// The simplest filter of the sources that explains the target: a gain and a constant phase shift,
// then a tilt across the band (taps next to lag 0), then a resonance (two poles, by
// Steiglitz-McBride iterations: each filters target and regressors by the latest 1 / A(z), which
// turns the equation error into the output error). Each must halve what the simpler one leaves:
// an echo near the direct sound, which no such filter makes, lowers it far less. The misfit is
// over every lag.
Fit fitFilter(const ChannelPath& path, Sources src, const double* target, const FitBuffers& b,
              size_t from, size_t to, PathFit fit) {
  const size_t n = path.lags();
  const FitData near{path, n, from, to, b.y, b.x, b.xq};
  const FitData whole{path, n, 0, n, b.y, b.x, b.xq};
  std::copy_n(target, n, b.y);
  std::copy_n(src.x, n, b.x);
  std::copy_n(src.xq, n, b.xq);
  Fit best;
  best.source = src;
  for (int reach = 0; reach <= 1; ++reach) {
    Fit taps;
    taps.source = src;
    if (solveOnce(near, reach, false, taps.p)) {
      taps.misfit = render(src, n, target, taps.p, b.trial, from, to);
    }
    if (!std::isfinite(best.misfit) ||
        (best.misfit > kGoodEnough && taps.misfit < kLevelWorth * best.misfit)) {
      best = taps;
    }
  }
  if (std::isfinite(best.misfit)) best.misfit = render(src, n, target, best.p, b.trial, 0, n);
  Fit withPoles;
  withPoles.source = src;
  Params p{};
  double a1 = 0.0, a2 = 0.0;
  for (int it = 0; it < (fit == PathFit::kFull ? kIterations : 0); ++it) {
    allPole(target, b.y, n, a1, a2);
    allPole(src.x, b.x, n, a1, a2);
    allPole(src.xq, b.xq, n, a1, a2);
    if (!solveOnce(whole, 1, true, p) || !stable(p[2 * kTaps], p[2 * kTaps + 1])) break;
    a1 = p[2 * kTaps];
    a2 = p[2 * kTaps + 1];
    const double misfit = render(src, n, target, p, b.trial, 0, n);
    if (misfit < withPoles.misfit) withPoles = Fit{p, true, misfit, src};
  }
  if (best.misfit > kGoodEnough && withPoles.misfit < kLevelWorth * best.misfit) best = withPoles;
  if (std::isfinite(best.misfit))
    best.nearMisfit = render(src, n, target, best.p, b.trial, from, to);
  return best;
}

// v read `delay` lags late, at lags from .. to - 1 of out[].
void delayInto(const double* v, size_t n, double delay, double* out, size_t from, size_t to) {
  const double whole = std::floor(delay);
  const FractionalDelay d = FractionalDelay::of(delay - whole);
  const auto shift = static_cast<int64_t>(whole);
  const auto sample = [&](int64_t m) { return clampedAt(v, m, n); };
  for (size_t i = from; i < to; ++i) out[i] = d.apply(sample, static_cast<int64_t>(i) - shift);
}

// A second arrival of the direct sound: `lag` after the first, which lies `lead` lags after the
// anchor, at `amplitude` of it.
struct Copy {
  double lead = 0.0;
  double lag = 0.0;
  double amplitude = 0.0;
  bool found = false;
};

// Least squares of the target at lags from .. to - 1 on `count` regressors; what it leaves,
// relative, and the parameters.
template <typename Regressors>
std::pair<double, Params> leastSquares(const double* target, size_t from, size_t to, int count,
                                       Regressors regressors) {
  std::array<double, kParams * kParams> g{};
  Params rhs{};
  double energy = 0.0;
  for (size_t i = from; i < to; ++i) {
    const std::array<double, 4> r = regressors(i);
    for (int a = 0; a < count; ++a) {
      rhs[a] += r[a] * target[i];
      for (int c = 0; c < count; ++c) g[a * kParams + c] += r[a] * r[c];
    }
    energy += target[i] * target[i];
  }
  double trace = 0.0;
  for (int a = 0; a < count; ++a) trace += g[a * kParams + a];
  for (int a = 0; a < count; ++a) g[a * kParams + a] += kRidge * trace / count;
  const Params b = rhs;
  if (!solve(g, rhs, count) || !(energy > 0.0)) return {INFINITY, {}};
  double explained = 0.0;
  for (int a = 0; a < count; ++a) explained += rhs[a] * b[a];
  return {(energy - explained) / energy, rhs};
}

// The target at lags from .. to - 1 as X `lead` lags after the anchor and a copy of it `lag`
// lags later, with one gain and phase (read from `delayed`, which gives X and X^ at a delay):
// what that leaves, and the copy's share. The share is the real part of the ratio of the two
// arrivals' gains fitted each with its own phase; the pair is none where it is not positive or
// larger than kCopyMostShare.
template <typename Delayed>
std::pair<double, double> twoArrivals(const double* target, size_t from, size_t to, double lead,
                                      double lag, Delayed delayed, bool coarse) {
  const auto free = leastSquares(target, from, to, 4, [&](size_t i) {
    return std::array<double, 4>{delayed(0, lead, i), delayed(1, lead, i),
                                 delayed(0, lead + lag, i), delayed(1, lead + lag, i)};
  });
  // Re[g (X + i X^)] = Re(g) X - Im(g) X^.
  const std::complex<double> first(free.second[0], -free.second[1]);
  const std::complex<double> second(free.second[2], -free.second[3]);
  if (!std::isfinite(free.first) || !(std::abs(first) > 0.0)) return {INFINITY, 0.0};
  const std::complex<double> ratio = second / first;
  const double share = ratio.real();
  if (!(share > 0.0) || share > kCopyMostShare) return {INFINITY, 0.0};
  // On the coarse grid the lag can be an eighth of a lag off, which turns the copy's phase.
  if (coarse) {
    return std::abs(std::arg(ratio)) <= kCoarsePhase ? std::pair{free.first, share}
                                                     : std::pair{double{INFINITY}, 0.0};
  }
  const auto pair = leastSquares(target, from, to, 2, [&](size_t i) {
    return std::array<double, 4>{delayed(0, lead, i) + share * delayed(0, lead + lag, i),
                                 delayed(1, lead, i) + share * delayed(1, lead + lag, i), 0.0, 0.0};
  });
  return {pair.first, share};
}

// The pair of arrivals that explains the direct arrival best: on a grid of quarter lags, then
// to a sixteenth around the best. A copy of the other sign or phase is none.
Copy findCopy(const ChannelPath& path, const double* target, double* tables, size_t from,
              size_t to) {
  const size_t n = path.lags();
  const double most = std::max(kCopyLeastLags, kCopyLobes * path.lobe);
  const auto wholeMost = static_cast<int64_t>(std::ceil(kCopyLeadLatest + most)) + 1;
  const auto wholeLeast = static_cast<int64_t>(std::floor(kCopyLeadEarliest)) - 1;
  const size_t tableFrom = static_cast<size_t>(
      std::clamp<int64_t>(static_cast<int64_t>(from) - wholeMost, 0, static_cast<int64_t>(n)));
  const size_t tableTo = static_cast<size_t>(
      std::clamp<int64_t>(static_cast<int64_t>(to) - wholeLeast, 0, static_cast<int64_t>(n)));
  for (int phase = 0; phase < kCopySteps; ++phase) {
    const double fraction = static_cast<double>(phase) / kCopySteps;
    delayInto(path.ideal.data(), n, fraction, tables + (2 * phase) * kMaxShapeLags, tableFrom,
              tableTo);
    delayInto(path.quadrature.data(), n, fraction, tables + (2 * phase + 1) * kMaxShapeLags,
              tableFrom, tableTo);
  }
  const auto coarse = [&](int which, double delay, size_t i) {
    const auto steps = static_cast<int64_t>(std::llround(delay * kCopySteps));
    const int64_t whole =
        steps >= 0 ? steps / kCopySteps : -((-steps + kCopySteps - 1) / kCopySteps);
    const auto phase = static_cast<size_t>(steps - whole * kCopySteps);
    const int64_t m = static_cast<int64_t>(i) - whole;
    if (m < static_cast<int64_t>(tableFrom) || m >= static_cast<int64_t>(tableTo)) return 0.0;
    return tables[(2 * phase + static_cast<size_t>(which)) * kMaxShapeLags +
                  static_cast<size_t>(m)];
  };
  // The few best pairs of the coarse grid, each refined: a valley of the misfit narrower than
  // the grid's step can rank below a broad one there.
  struct Candidate {
    double left = INFINITY, lead = 0.0, lag = 0.0;
  };
  std::array<Candidate, kCopyCandidates> best{};
  for (double l = kCopyLeadEarliest; l <= kCopyLeadLatest + 1e-9; l += 1.0 / kCopySteps) {
    for (double d = kCopyLeastLags; d <= most + 1e-9; d += 1.0 / kCopySteps) {
      const double left = twoArrivals(target, from, to, l, d, coarse, true).first;
      if (!(left < best.back().left)) continue;
      best.back() = {left, l, d};
      std::sort(best.begin(), best.end(),
                [](const Candidate& a, const Candidate& b) { return a.left < b.left; });
    }
  }
  if (!std::isfinite(best.front().left)) return {};
  const auto fine = [&](int which, double delay, size_t i) {
    const std::vector<double>& v = which == 0 ? path.ideal : path.quadrature;
    const double whole = std::floor(delay);
    const FractionalDelay d = FractionalDelay::of(delay - whole);
    const auto sample = [&](int64_t m) { return clampedAt(v.data(), m, n); };
    return d.apply(sample, static_cast<int64_t>(i) - static_cast<int64_t>(whole));
  };
  double amplitude = 0.0, lead = 0.0, lag = 0.0, bestLeft = INFINITY;
  const double step = 1.0 / (kCopySteps * kCopyRefine);
  for (const Candidate& centre : best) {
    if (!std::isfinite(centre.left)) continue;
    for (int a = -kCopyRefine / 2; a <= kCopyRefine / 2; ++a) {
      for (int c = -kCopyRefine / 2; c <= kCopyRefine / 2; ++c) {
        const double l = centre.lead + a * step, d = centre.lag + c * step;
        if (d < kCopyLeastLags) continue;
        const auto [left, share] = twoArrivals(target, from, to, l, d, fine, false);
        if (left < bestLeft) {
          bestLeft = left;
          lead = l;
          lag = d;
          amplitude = share;
        }
      }
    }
  }
  if (!std::isfinite(bestLeft)) return {};
  return {lead, lag, amplitude, true};
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
      work(13 * kMaxShapeLags + kMaxChirpFrames + 2 * kHilbertHalfTaps, 0.0) {}

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
  double* const region = path.work.data();
  const auto at = [&](int k) { return region + static_cast<size_t>(k) * kMaxShapeLags; };
  FitBuffers b{at(0), at(1), at(2), at(3)};
  double* target = at(4);
  withoutEchoes(path, echoes, target);
  // The taps are fitted to the direct arrival's own main lobes, which an echo clear of them barely
  // reaches: fitted to every learned lag, an echo that no search has seen yet (or one the search
  // put a carrier cycle off) bends them, and every echo found with the bent model moves by a
  // cycle. Only the resonance needs the lags after them.
  const auto window = static_cast<size_t>(kTapLobes * path.lobe);
  const auto anchor = static_cast<size_t>(path.before);
  const size_t from = anchor > window ? anchor - window : 0;
  const size_t to = std::min(n, anchor + window + 1);
  const Sources one{path.ideal.data(), path.quadrature.data()};
  Fit best = fitFilter(path, one, target, b, from, to, fit);
  // The direct sound of a device standing on a desk comes with its bounce off the desk a
  // centimetre or two behind it, well inside the chirp's main lobe. The taps can bend round such a
  // pair (a notch in the band), but then the shape is the desk's and not the device's, and every
  // echo, which comes without that bounce, fits it a carrier cycle off. Where the pair explains
  // the direct arrival clearly better, the path keeps the response of one of the two.
  double* copyTables = at(5);  // eight regions: X and X^ at four fractions of a lag
  const Copy copy = findCopy(path, target, copyTables, from, to);
  double copyLag = 0.0, copyShare = 0.0;
  if (copy.found && best.nearMisfit > kGoodEnough) {
    double* first = at(5);
    double* firstQ = at(6);
    double* pair = at(7);
    double* pairQ = at(8);
    delayInto(path.ideal.data(), n, copy.lead, first, 0, n);
    delayInto(path.quadrature.data(), n, copy.lead, firstQ, 0, n);
    delayInto(path.ideal.data(), n, copy.lead + copy.lag, pair, 0, n);
    delayInto(path.quadrature.data(), n, copy.lead + copy.lag, pairQ, 0, n);
    for (size_t i = 0; i < n; ++i) {
      pair[i] = first[i] + copy.amplitude * pair[i];
      pairQ[i] = firstQ[i] + copy.amplitude * pairQ[i];
    }
    const Fit withCopy = fitFilter(path, {pair, pairQ}, target, b, from, to, fit);
    if (withCopy.nearMisfit < kCopyWorth * best.nearMisfit) {
      best = withCopy;
      best.source = {first, firstQ};
      copyLag = copy.lag;
      copyShare = copy.amplitude;
    }
  }
  if (!std::isfinite(best.misfit)) return;
  render(best.source, n, target, best.p, path.model.data(), 0, n);
  double modelPeak = 0.0;
  for (size_t i = 0; i < n; ++i) modelPeak = std::max(modelPeak, std::abs(path.model[i]));
  path.modelLags = n + ringOn(best.p, path.model.data() + n, path.model.size() - n,
                              path.model[n - 2], path.model[n - 1], modelPeak);
  for (size_t i = 0; i < path.modelLags; ++i) {
    path.model[i] = modelPeak > 0.0 ? path.model[i] / modelPeak : 0.0;
  }
  path.fitted = modelPeak > 0.0;
  path.copyLag = copyLag;
  path.copyShare = copyShare;
}
