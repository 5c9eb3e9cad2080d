#include "engine/target_tracker.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "engine/echo_tracker.h"
#include "engine/sound_path.h"

// Sections: [window] the analytic signal of a stretch of lags; [direct] the zero of the range;
// [circle] the clutter at the reference lag; [echo] finding and following the echo.

namespace {

using Complex = std::complex<double>;

constexpr int kMargin = 40;  // lags beyond the window the quadrature reads (31 taps)
constexpr int kDirectHalfLags =
    64;  // the direct sound is searched this far around the finder's lag
// Lags the echo may stray from its reference lag: well inside the main lobe (about 20 lags of
// a 4 kHz chirp in stereo at 44.1 kHz), and each move forgets the clutter learned there.
constexpr double kReferenceDrift = 8.0;
constexpr double kCircleMemory = 0.99;  // weight of the previous circle per ping
constexpr double kCircleMinWeight = 6.0;
constexpr double kCircleMinArc = 0.25;  // spread of the values over the radius: about ±25 degrees
constexpr uint32_t kBackgroundMemoryPings = 64;
constexpr uint32_t kBackgroundMinPings = 4;
constexpr double kAcquireOverNoise = 6.0;
constexpr double kMaxTrackSpeedMps = 2.0;  // faster than a hand moves
constexpr double kFitOffsetShare = 0.1;    // of each ping's offset in the fit's
constexpr double kTwoPi = 2.0 * std::numbers::pi;

double wrapAngle(double a) {
  return a - kTwoPi * std::round(a / kTwoPi);
}

// ---- [window] ----------------------------------------------------------------------------------

// The analytic signal of lags first .. first + n - 1 into t.re and t.im (n <= kTrackWindowLags);
// lags the correlation did not compute read as silence. Interleaved stereo holds every sample
// twice, which leaves an image of the carrier near the top of the band; a [1 2 1] smoothing
// takes it 18 dB further down without shifting any phase.
void analyticWindow(TargetTracker& t, const TrackInput& in, int64_t first, size_t n) {
  const size_t total = n + 2 * kMargin;
  const auto sumsEnd = static_cast<int64_t>(in.sums.size());
  for (size_t i = 0; i < total; ++i) {
    const int64_t lag = first - kMargin + static_cast<int64_t>(i);
    t.raw[i] = lag >= in.firstLag && lag >= 0 && lag < sumsEnd
                   ? static_cast<double>(in.sums[static_cast<size_t>(lag)])
                   : 0.0;
  }
  if (in.channels == 2) {
    double before = t.raw[0];
    for (size_t i = 1; i + 1 < total; ++i) {
      const double here = t.raw[i];
      t.raw[i] = 0.25 * before + 0.5 * here + 0.25 * t.raw[i + 1];
      before = here;
    }
  }
  std::copy_n(t.raw.begin() + kMargin, n, t.re.begin());
  quadratureOf(std::span<const double>(t.raw.data(), total), std::span<double>(t.im.data(), n),
               -kMargin);
}

Complex at(const TargetTracker& t, size_t i) {
  return {t.re[i], t.im[i]};
}

// The fractional index of the peak at i, by a parabola through it and its neighbours.
double refinePeak(std::span<const double> e, size_t i) {
  if (i == 0 || i + 1 >= e.size()) return static_cast<double>(i);
  const double den = e[i - 1] - 2.0 * e[i] + e[i + 1];
  const double d = den < 0.0 ? 0.5 * (e[i - 1] - e[i + 1]) / den : 0.0;
  return static_cast<double>(i) + std::clamp(d, -0.5, 0.5);
}

bool isLocalPeak(std::span<const double> e, size_t i) {
  return i > 0 && i + 1 < e.size() && e[i] >= e[i - 1] && e[i] > e[i + 1];
}

// The lag the phase at `reference` gives on the cycle nearest `near`.
double phaseLagNear(Complex value, int64_t reference, double radiansPerLag, double near) {
  const double base = static_cast<double>(reference) - std::arg(value) / radiansPerLag;
  const double cycle = kTwoPi / radiansPerLag;
  return base + cycle * std::round((near - base) / cycle);
}

// ---- [direct] ----------------------------------------------------------------------------------

bool measureDirect(TargetTracker& t, const TrackInput& in) {
  if (!in.direct.found) return false;
  const int64_t first = static_cast<int64_t>(in.direct.offset) - kDirectHalfLags;
  const size_t n = 2 * kDirectHalfLags + 1;
  analyticWindow(t, in, first, n);
  for (size_t i = 0; i < n; ++i) t.envelope[i] = std::abs(at(t, i));
  const std::span<const double> e(t.envelope.data(), n);
  const auto peak = static_cast<size_t>(std::max_element(e.begin(), e.end()) - e.begin());
  if (e[peak] <= 0.0 || peak < 4 || peak + 4 >= n) return false;
  const double coarse = static_cast<double>(first) + refinePeak(e, peak);
  // The carrier's angle per lag, from the phase's slope over the direct sound's main lobe.
  double slope = 0.0;
  for (size_t i = peak - 3; i < peak + 3; ++i) {
    slope += wrapAngle(std::arg(at(t, i + 1)) - std::arg(at(t, i)));
  }
  slope /= 6.0;
  if (!(slope > 0.0)) return false;
  const bool fresh =
      !t.started || std::abs(coarse - static_cast<double>(t.directRef)) > kReferenceDrift;
  t.radiansPerLag = fresh || t.radiansPerLag <= 0.0 ? slope : 0.9 * t.radiansPerLag + 0.1 * slope;
  if (fresh) t.directRef = static_cast<int64_t>(std::lround(coarse));
  const Complex ref = at(t, static_cast<size_t>(t.directRef - first));
  t.directLag = phaseLagNear(ref, t.directRef, t.radiansPerLag, fresh ? coarse : t.directLag);
  t.directAmplitude = e[peak];
  return true;
}

// ---- [circle] ----------------------------------------------------------------------------------

void forgetCircle(TargetTracker& t) {
  t.circle = {};
}

void addToCircle(TargetTracker& t, Complex value) {
  auto& c = t.circle;
  if (c.scale == 0.0) {
    c.originRe = value.real();
    c.originIm = value.imag();
    c.scale = std::max(std::abs(value), 1.0);
  }
  const Complex p = (value - Complex(c.originRe, c.originIm)) / c.scale;
  const double x = p.real(), y = p.imag(), z = x * x + y * y;
  const double k = kCircleMemory;
  c.w = k * c.w + 1.0;
  c.x = k * c.x + x;
  c.y = k * c.y + y;
  c.xx = k * c.xx + x * x;
  c.yy = k * c.yy + y * y;
  c.xy = k * c.xy + x * y;
  c.z = k * c.z + z;
  c.xz = k * c.xz + x * z;
  c.yz = k * c.yz + y * z;
}

// The circle's centre, where the latest values tell it: enough of them, on an arc long enough,
// with a radius an echo can have and a spread well above the noise. Else 0: no clutter taken out.
Complex circleCentre(const TargetTracker& t, double leastRadius, double noise) {
  const auto& c = t.circle;
  if (c.w < kCircleMinWeight || c.scale == 0.0) return {};
  leastRadius /= c.scale;
  noise /= c.scale;
  // Kasa: x^2 + y^2 + D x + E y + F = 0 in the least-squares sense.
  const double a[3][3] = {{c.xx, c.xy, c.x}, {c.xy, c.yy, c.y}, {c.x, c.y, c.w}};
  const double b[3] = {-c.xz, -c.yz, -c.z};
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  if (!(std::abs(det) > 0.0)) return {};
  auto solve = [&](int col) {
    double m[3][3];
    for (int r = 0; r < 3; ++r) {
      for (int k = 0; k < 3; ++k) m[r][k] = k == col ? b[r] : a[r][k];
    }
    return (m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
            m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
            m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0])) /
           det;
  };
  const Complex centre(-solve(0) / 2.0, -solve(1) / 2.0);
  const double radius2 = std::norm(centre) - solve(2);
  const double mx = c.x / c.w, my = c.y / c.w;
  const double spread2 = c.xx / c.w - mx * mx + c.yy / c.w - my * my;
  if (!(radius2 > 0.0) || !std::isfinite(radius2)) return {};
  const double radius = std::sqrt(radius2);
  const double spread = std::sqrt(std::max(0.0, spread2));
  if (spread < kCircleMinArc * radius || radius < leastRadius || spread < 4.0 * noise) return {};
  return Complex(c.originRe, c.originIm) + c.scale * centre;
}

// ---- [echo] ------------------------------------------------------------------------------------

double noiseFloor(TargetTracker& t, size_t n) {
  std::copy_n(t.envelope.begin(), n, t.sorted.begin());
  const auto quarter = t.sorted.begin() + static_cast<std::ptrdiff_t>(n / 4);
  std::nth_element(t.sorted.begin(), quarter, t.sorted.begin() + static_cast<std::ptrdiff_t>(n));
  return *quarter;
}

// Moves the window so that `lag` lies in its middle half, forgetting the still room it held.
void centreWindow(TargetTracker& t, double lag) {
  const auto half = static_cast<double>(kTrackWindowLags / 2);
  const double from = static_cast<double>(t.windowFirst);
  if (t.backgroundPings > 0 && lag > from + half / 2 && lag < from + 1.5 * half) return;
  t.windowFirst = static_cast<int64_t>(std::lround(lag - half));
  std::fill(t.backRe.begin(), t.backRe.end(), 0.0);
  std::fill(t.backIm.begin(), t.backIm.end(), 0.0);
  t.backgroundPings = 0;
}

// The envelope of the window, over the still room once enough pings have shown it.
// Returns whether the still room was taken out.
bool envelopeOverBackground(TargetTracker& t) {
  const bool subtract = t.backgroundPings >= kBackgroundMinPings;
  for (size_t i = 0; i < kTrackWindowLags; ++i) {
    const Complex back = subtract ? Complex(t.backRe[i], t.backIm[i]) : Complex();
    t.envelope[i] = std::abs(at(t, i) - back);
  }
  return subtract;
}

void learnBackground(TargetTracker& t) {
  t.backgroundPings = std::min(t.backgroundPings + 1, kBackgroundMemoryPings);
  const double k = 1.0 / t.backgroundPings;
  for (size_t i = 0; i < kTrackWindowLags; ++i) {
    t.backRe[i] += k * (t.re[i] - t.backRe[i]);
    t.backIm[i] += k * (t.im[i] - t.backIm[i]);
  }
}

// The window index of the strongest peak within `radius` of `centre`, or, with `nearest`, of
// the peak nearest it among those above `least`. Negative where there is none.
double findPeak(const TargetTracker& t, double centre, double radius, double least, bool nearest) {
  const std::span<const double> e(t.envelope.data(), kTrackWindowLags);
  const double from = std::max(1.0, std::ceil(centre - radius));
  const double to =
      std::min(static_cast<double>(kTrackWindowLags - 2), std::floor(centre + radius));
  double best = -1.0, bestScore = -INFINITY;
  for (double x = from; x <= to; x += 1.0) {
    const auto i = static_cast<size_t>(x);
    if (!isLocalPeak(e, i) || e[i] < least) continue;
    const double score = nearest ? -std::abs(x - centre) : e[i];
    if (score > bestScore) {
      bestScore = score;
      best = refinePeak(e, i);
    }
  }
  return best;
}

TrackPoint pointOf(const TargetTracker& t, const TrackInput& in, double amplitude) {
  TrackPoint p;
  p.state = t.state;
  p.seconds = in.seconds - t.firstSeconds;
  p.amplitude = amplitude;
  if (t.state == TrackState::kTracking) {
    p.distanceM = (t.lag - t.directLag) * in.metresPerLag + in.offsetM;
  }
  p.phaseOnlyM = (t.phaseLag - t.directLag) * in.metresPerLag + in.offsetM;
  return p;
}

TrackPoint acquire(TargetTracker& t, const TrackInput& in, double nearLag) {
  centreWindow(t, nearLag);
  analyticWindow(t, in, t.windowFirst, kTrackWindowLags);
  t.fitOverBackground = envelopeOverBackground(t);
  const double noise = noiseFloor(t, kTrackWindowLags);
  const double centre = nearLag - static_cast<double>(t.windowFirst);
  const double peak = findPeak(t, centre, kAcquireWithinM / in.metresPerLag,
                               kAcquireOverNoise * noise, /*nearest=*/true);
  learnBackground(t);
  if (peak < 0.0) {
    t.state = TrackState::kSearching;
    return pointOf(t, in, 0.0);
  }
  const double coarse = static_cast<double>(t.windowFirst) + peak;
  t.reference = static_cast<int64_t>(std::lround(coarse));
  forgetCircle(t);
  t.centred = false;
  const Complex value = at(t, static_cast<size_t>(t.reference - t.windowFirst));
  addToCircle(t, value);
  t.lag = phaseLagNear(value, t.reference, t.radiansPerLag, coarse);
  t.fitOffset = coarse - t.lag;
  t.phaseLag = t.lag;
  t.velocity = 0.0;
  t.fixes = 1;
  t.quietPings = 0;
  t.foundAmplitude = std::abs(value) / t.directAmplitude;
  t.state = TrackState::kTracking;
  TrackPoint p = pointOf(t, in, t.foundAmplitude);
  p.reanchored = true;
  p.fitOnlyM = (coarse - t.directLag) * in.metresPerLag + in.offsetM;
  return p;
}

TrackPoint follow(TargetTracker& t, const TrackInput& in) {
  const double dt = in.seconds - t.lastSeconds;
  const double cycle = kTwoPi / t.radiansPerLag;
  const double predicted = t.lag + t.velocity * dt;
  centreWindow(t, predicted);
  analyticWindow(t, in, t.windowFirst, kTrackWindowLags);
  const bool overBackground = envelopeOverBackground(t);
  // The still room taken out of the envelope, or put back, moves the fit of an echo that does
  // not move: this ping's fit is neither followed nor a reason to give the echo up.
  const bool fitMoved = overBackground != t.fitOverBackground;
  t.fitOverBackground = overBackground;
  const double noise = noiseFloor(t, kTrackWindowLags);
  const double from = static_cast<double>(t.windowFirst);
  // The second ping has no velocity to predict with yet: it looks as far as the first did, for
  // the peak nearest the echo (the strongest within that reach may be another reflector of the
  // room, and a jump to it would teach a velocity that runs the track away).
  const bool young = t.fixes < 2;
  const double radius = young ? kAcquireWithinM / in.metresPerLag : cycle;
  // A fit on the noise says nothing: then the phase alone carries the track.
  const double peak = findPeak(t, predicted + t.fitOffset - from, radius, kAcquireOverNoise * noise,
                               /*nearest=*/young);
  learnBackground(t);
  if (std::abs(predicted - static_cast<double>(t.reference)) > kReferenceDrift) {
    t.reference = static_cast<int64_t>(std::lround(predicted));
    forgetCircle(t);
  }
  const size_t refIndex = static_cast<size_t>(t.reference - t.windowFirst);
  const Complex raw = at(t, refIndex);
  addToCircle(t, raw);
  // The clutter may be stronger than the echo: the radius need only stand above the noise.
  const Complex centre = circleCentre(t, 8.0 * noise, noise);
  const Complex value = raw - centre;
  const double amplitude = std::abs(value) / t.directAmplitude;
  const double phaseLag = phaseLagNear(value, t.reference, t.radiansPerLag, predicted);
  t.phaseLag = phaseLagNear(value, t.reference, t.radiansPerLag, t.phaseLag + t.velocity * dt);
  const double coarse = peak < 0.0 ? INFINITY : from + peak;
  const double fitLag = phaseLagNear(value, t.reference, t.radiansPerLag, coarse - t.fitOffset);
  t.quietPings = amplitude < kLostShare * t.foundAmplitude ? t.quietPings + 1 : 0;
  const bool fitted = std::isfinite(coarse) && !fitMoved;
  if ((fitted && t.fixes >= 2 && std::abs(coarse - t.fitOffset - predicted) > cycle / 2.0) ||
      t.quietPings >= kLostQuietPings) {
    t.state = TrackState::kLost;
    TrackPoint p = pointOf(t, in, amplitude);
    p.fitOnlyM =
        std::isfinite(coarse) ? (coarse - t.directLag) * in.metresPerLag + in.offsetM : 0.0;
    return p;
  }
  const double previous = t.lag;
  // Taking the clutter out (or a new estimate of it) moves the phase without the echo moving:
  // that ping starts the unwrapping afresh and teaches no velocity.
  const bool centred = centre != Complex();
  const bool newCentre =
      centred != t.centred ||
      std::abs(centre - Complex(t.centreRe, t.centreIm)) > 0.25 * std::abs(value);
  t.centred = centred;
  t.centreRe = centre.real();
  t.centreIm = centre.imag();
  const bool jump = fitted && (t.fixes < 2 || std::abs(fitLag - previous) > cycle / 4.0);
  t.lag = jump ? fitLag : phaseLag;
  if (newCentre) {
    t.lag = fitted ? fitLag : phaseLagNear(value, t.reference, t.radiansPerLag, previous);
    t.phaseLag = t.lag;
    t.velocity = 0.0;
    t.fixes = 0;
  } else if (dt > 0.0) {
    const double seen = (t.lag - previous) / dt;
    const double fastest = kMaxTrackSpeedMps / in.metresPerLag;
    t.velocity =
        std::clamp(t.fixes < 2 ? seen : t.velocity + 0.5 * (seen - t.velocity), -fastest, fastest);
  }
  if (std::isfinite(coarse)) {
    // Where the fit sits from the phase: 0 for a lone echo; for a cluster of reflections (a
    // body), somewhere inside it. Learned slowly, so that a fit wandering within the cluster
    // does not move the track to another cycle, nor a fit on the noise walk the offset away
    // (re-anchoring takes the fit's cycle, not its offset); learned afresh only where the lag
    // or the fit changed their meaning.
    const double offset = coarse - t.lag;
    t.fitOffset +=
        fitMoved || newCentre ? offset - t.fitOffset : kFitOffsetShare * (offset - t.fitOffset);
  }
  ++t.fixes;
  TrackPoint p = pointOf(t, in, amplitude);
  p.reanchored = jump;
  p.fitOnlyM = fitted ? (coarse - t.directLag) * in.metresPerLag + in.offsetM : p.distanceM;
  return p;
}

}  // namespace

TargetTracker::TargetTracker()
    : raw(kTrackWindowLags + 2 * kMargin, 0.0),
      re(kTrackWindowLags, 0.0),
      im(kTrackWindowLags, 0.0),
      backRe(kTrackWindowLags, 0.0),
      backIm(kTrackWindowLags, 0.0),
      envelope(kTrackWindowLags, 0.0),
      sorted(kTrackWindowLags, 0.0) {}

TrackInput trackInputOf(const SonarSettings& s, DirectArrival direct, double seconds) {
  TrackInput in;
  in.sums = s.correlationSums;
  in.firstLag = isSixteenBit(s.waveFormat) ? s.offsetBytes / 2 : s.offsetBytes;
  in.direct = direct;
  in.channels = s.waveFormat.channels;
  // The distances read as every other of the program's: under the calibration in use.
  in.metresPerLag = secondsPerLag(s.waveFormat) * speedInUse(s) / 2.0;
  in.offsetM = s.calibration.offsetMetres;
  in.seconds = seconds;
  return in;
}

void startTrack(TargetTracker& t, double nearM) {
  t.nearM = nearM;
  t.state = TrackState::kSearching;
  t.started = false;
  t.fixes = 0;
  t.backgroundPings = 0;
  forgetCircle(t);
}

TrackPoint trackPing(TargetTracker& t, const TrackInput& in) {
  if (!(in.metresPerLag > 0.0) || !measureDirect(t, in)) {
    // Without the direct sound there is no zero to measure from: a quiet ping.
    TrackPoint p;
    p.state = t.state;
    p.seconds = t.started ? in.seconds - t.firstSeconds : 0.0;
    return p;
  }
  if (!t.started) {
    t.started = true;
    t.firstSeconds = in.seconds;
    t.lastSeconds = in.seconds;
  }
  TrackPoint p;
  if (t.state == TrackState::kTracking) {
    p = follow(t, in);
    if (p.state == TrackState::kLost) {
      t.nearM = (t.lag - t.directLag) * in.metresPerLag + in.offsetM;
    }
  } else {
    p = acquire(t, in, t.directLag + (t.nearM - in.offsetM) / in.metresPerLag);
  }
  t.lastSeconds = in.seconds;
  return p;
}
