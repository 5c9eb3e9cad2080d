#pragma once
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "engine/window.h"

// A sampled response read between its samples: windowed-sinc interpolation.

constexpr int kInterpTaps = 16;  // half-length of the fractional-delay kernel

// Weights w[k + kInterpTaps - 1] with x(n - fraction) = sum_k x[n - k] w[..], k = -15 .. 16: a
// windowed sinc (Blackman window) of fixed weights per fraction. sin(pi (k - f)) is
// (-1)^k sin(-pi f), and the window's cosines step by a fixed angle: three calls of the math
// library per kernel instead of a hundred.
struct FractionalDelay {
  std::array<double, 2 * kInterpTaps> weights{};
  bool whole = true;

  static FractionalDelay of(double fraction) {
    FractionalDelay d;
    d.whole = fraction == 0.0;
    if (d.whole) return d;
    const double step = std::numbers::pi / kInterpTaps;
    const double stepCos = std::cos(step), stepSin = std::sin(step);
    const double sinMinusPiF = -std::sin(std::numbers::pi * fraction);
    double c = std::cos(step * (-kInterpTaps + 1 - fraction));
    double sn = std::sin(step * (-kInterpTaps + 1 - fraction));
    for (int k = -kInterpTaps + 1; k <= kInterpTaps; ++k) {
      const double u = k - fraction;
      const double window = blackmanOfCos(c);
      const double sinPiU = (k % 2 == 0 ? 1.0 : -1.0) * sinMinusPiF;
      d.weights[static_cast<size_t>(k + kInterpTaps - 1)] =
          window * sinPiU / (std::numbers::pi * u);
      const double next = c * stepCos - sn * stepSin;
      sn = sn * stepCos + c * stepSin;
      c = next;
    }
    return d;
  }

  // x(n - fraction) from the samples that `sample(m)` gives.
  template <typename Sample>
  double apply(Sample sample, int64_t n) const {
    if (whole) return sample(n);
    double sum = 0.0;
    for (int k = -kInterpTaps + 1; k <= kInterpTaps; ++k) {
      sum += sample(n - k) * weights[static_cast<size_t>(k + kInterpTaps - 1)];
    }
    return sum;
  }
};
