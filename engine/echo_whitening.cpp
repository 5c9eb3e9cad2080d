#include "engine/echo_whitening.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Added to the background's power before a fit: keeps the normal equations well posed on a
// background of pure tones and bounds a notch's depth far below anything an echo needs.
constexpr double kWhiteFloor = 1e-4;
// From 0 to half the rate: finer than a tone's peak in the spectrum of a thousand frames.
constexpr int kSpectrumBins = 1024;

using Spectrum = std::array<double, kSpectrumBins + 1>;
using Lags = std::array<double, kSpectrumOrder + 1>;

double binFrequency(int k) {
  return 0.5 * k / kSpectrumBins;
}

// Levinson-Durbin: the prediction-error filter a[0..order] of autocorrelation r (its lag 0 raised
// by the floor) and its error power; false where the recursion breaks down.
bool levinson(const Lags& r, int order, Lags& a, double& error) {
  a = {1.0};
  Lags previous{};
  error = r[0] * (1.0 + kWhiteFloor);
  for (int m = 1; m <= order; ++m) {
    double acc = r[static_cast<size_t>(m)];
    for (int k = 1; k < m; ++k) acc += a[static_cast<size_t>(k)] * r[static_cast<size_t>(m - k)];
    const double reflection = -acc / error;
    if (!std::isfinite(reflection) || std::abs(reflection) >= 1.0) return false;
    previous = a;
    for (int k = 1; k < m; ++k) {
      a[static_cast<size_t>(k)] += reflection * previous[static_cast<size_t>(m - k)];
    }
    a[static_cast<size_t>(m)] = reflection;
    error *= 1.0 - reflection * reflection;
  }
  return error > 0.0;
}

// cos(2 pi f lag) for lag 0 .. n by its recurrence: one cosine per frequency.
template <typename Visit>
void cosines(double f, int n, Visit visit) {
  const double twice = 2.0 * std::cos(2.0 * std::numbers::pi * f);
  double previous = 1.0, current = 0.5 * twice;
  visit(0, 1.0);
  for (int lag = 1; lag <= n; ++lag) {
    visit(lag, current);
    const double next = twice * current - previous;
    previous = current;
    current = next;
  }
}

// The background's spectrum at each bin, as a predictor of kSpectrumOrder poles sees it (sharp
// where a tone is, even from a few hundred frames), and its median over the band; false when
// the band holds no bin or the fit breaks down.
bool spectrumOf(const BackgroundSpectrum& b, double bandFrom, double bandTo, Spectrum& power,
                double& median) {
  Lags a{};
  double error = 0.0;
  if (!levinson(b.autocorrelation, kSpectrumOrder, a, error)) return false;
  Spectrum inBand{};
  int count = 0;
  for (int k = 0; k <= kSpectrumBins; ++k) {
    const double f = binFrequency(k);
    // A(e^iw) by a phasor turned one lag at a time.
    const double w = 2.0 * std::numbers::pi * f;
    const double stepRe = std::cos(w), stepIm = -std::sin(w);
    double re = 0.0, im = 0.0, pRe = 1.0, pIm = 0.0;
    for (int lag = 0; lag <= kSpectrumOrder; ++lag) {
      re += a[static_cast<size_t>(lag)] * pRe;
      im += a[static_cast<size_t>(lag)] * pIm;
      const double turned = pRe * stepRe - pIm * stepIm;
      pIm = pRe * stepIm + pIm * stepRe;
      pRe = turned;
    }
    const double p = error / std::max(re * re + im * im, 1e-300);
    power[static_cast<size_t>(k)] = p;
    if (f >= bandFrom && f <= bandTo) inBand[static_cast<size_t>(count++)] = p;
  }
  if (count == 0) return false;
  const auto middle = inBand.begin() + count / 2;
  std::nth_element(inBand.begin(), middle, inBand.begin() + count);
  median = *middle;
  return median > 0.0;
}

}  // namespace

void addBackground(BackgroundSpectrum& spectrum, std::span<double> frames) {
  const size_t n = frames.size();
  if (n <= static_cast<size_t>(kSpectrumOrder)) return;
  for (size_t i = 0; i < n; ++i) {
    const double u = (static_cast<double>(i) + 0.5) / static_cast<double>(n);
    frames[i] *= 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * u);
  }
  for (size_t lag = 0; lag <= static_cast<size_t>(kSpectrumOrder); ++lag) {
    double sum = 0.0;
    for (size_t i = lag; i < n; ++i) sum += frames[i] * frames[i - lag];
    spectrum.autocorrelation[lag] += sum;
  }
  spectrum.frames += n;
}

Whitening whiteningOf(const BackgroundSpectrum& spectrum, double bandFrom, double bandTo) {
  Whitening none;
  if (spectrum.frames < kLeastBackgroundFrames || !(spectrum.autocorrelation[0] > 0.0)) return none;
  Spectrum power{};
  double median = 0.0;
  if (!spectrumOf(spectrum, bandFrom, bandTo, power, median)) return none;
  // What stands above the band's level, in the band alone, over a flat background: back to an
  // autocorrelation (the trapezoid rule over the bins).
  Lags r{};
  for (int k = 0; k <= kSpectrumBins; ++k) {
    const double f = binFrequency(k);
    const double p =
        f >= bandFrom && f <= bandTo ? std::max(power[static_cast<size_t>(k)], median) : median;
    const double weight = k == 0 || k == kSpectrumBins ? 0.5 : 1.0;
    cosines(f, kWhiteningOrder,
            [&](int lag, double c) { r[static_cast<size_t>(lag)] += weight * p * c; });
  }
  Lags a{};
  double error = 0.0;
  if (!levinson(r, kWhiteningOrder, a, error) || r[0] < kWhiteningGain * error) return none;
  Whitening w;
  std::copy_n(a.begin(), kWhiteningOrder + 1, w.taps.begin());
  w.order = kWhiteningOrder;
  return w;
}

void whiten(const Whitening& w, std::span<const double> in, std::span<double> out) {
  const auto order = static_cast<size_t>(w.order);
  for (size_t i = 0; i < out.size() && i + order < in.size(); ++i) {
    double v = 0.0;
    for (size_t k = 0; k <= order; ++k) v += w.taps[k] * in[i + order - k];
    out[i] = v;
  }
}

void whitenShape(const Whitening& w, std::span<const double> in, std::span<double> out) {
  const auto order = static_cast<size_t>(w.order);
  for (size_t i = 0; i < out.size(); ++i) {
    double v = 0.0;
    for (size_t k = 0; k <= order && k <= i; ++k) {
      if (i - k < in.size()) v += w.taps[k] * in[i - k];
    }
    out[i] = v;
  }
}
