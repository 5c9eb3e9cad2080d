#include "engine/echo_whitening.h"

#include <cmath>
#include <numbers>

namespace {

// Added to the background's power before the fit: keeps the normal equations well posed on a
// background of pure tones and bounds a notch's depth far below anything an echo needs.
constexpr double kWhiteFloor = 1e-4;

}  // namespace

void addBackground(BackgroundSpectrum& spectrum, std::span<double> frames) {
  const size_t n = frames.size();
  if (n <= static_cast<size_t>(kWhiteningOrder)) return;
  for (size_t i = 0; i < n; ++i) {
    const double u = (static_cast<double>(i) + 0.5) / static_cast<double>(n);
    frames[i] *= 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * u);
  }
  for (size_t lag = 0; lag <= static_cast<size_t>(kWhiteningOrder); ++lag) {
    double sum = 0.0;
    for (size_t i = lag; i < n; ++i) sum += frames[i] * frames[i - lag];
    spectrum.autocorrelation[lag] += sum;
  }
  spectrum.frames += n;
}

Whitening whiteningOf(const BackgroundSpectrum& spectrum) {
  Whitening none;
  const auto& r = spectrum.autocorrelation;
  if (spectrum.frames < kLeastBackgroundFrames || !(r[0] > 0.0)) return none;
  // Levinson-Durbin on r[0] (1 + floor), r[1] .. r[p].
  std::array<double, kWhiteningOrder + 1> a{1.0};
  std::array<double, kWhiteningOrder + 1> previous{};
  double error = r[0] * (1.0 + kWhiteFloor);
  for (int m = 1; m <= kWhiteningOrder; ++m) {
    double acc = r[static_cast<size_t>(m)];
    for (int k = 1; k < m; ++k) acc += a[static_cast<size_t>(k)] * r[static_cast<size_t>(m - k)];
    const double reflection = -acc / error;
    if (!std::isfinite(reflection) || std::abs(reflection) >= 1.0) return none;
    previous = a;
    for (int k = 1; k < m; ++k) {
      a[static_cast<size_t>(k)] += reflection * previous[static_cast<size_t>(m - k)];
    }
    a[static_cast<size_t>(m)] = reflection;
    error *= 1.0 - reflection * reflection;
  }
  if (!(error > 0.0) || r[0] < kWhiteningGain * error) return none;
  Whitening w;
  w.taps = a;
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
