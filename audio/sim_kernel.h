#pragma once
#include <array>
#include <cmath>
#include <numbers>

// The simulated room's fractional delay: a windowed sinc of 32 taps under a Blackman window. Its
// passband error stays far below the 16-bit noise floor up to 0.8 of the Nyquist frequency, which
// covers every chirp the dialogs allow, and an integer delay is an exact copy.
constexpr int kSimHalfTaps = 16;
constexpr int kSimTaps = 2 * kSimHalfTaps;
using SimKernel = std::array<double, kSimTaps>;

// The room keeps its own window rather than the engine's: it stands for the world the detector
// measures, so a change to the detector's filters must never change the recordings it is
// tested on.
inline double simBlackman(double u) {
  const double a = std::numbers::pi * u / kSimHalfTaps;
  return 0.42 + 0.5 * std::cos(a) + 0.08 * std::cos(2.0 * a);
}

// Tap k weighs sample n0 - kSimHalfTaps + 1 + k for the position n0 + frac. `cut` below 1 lowers
// the interpolator's band edge when a slower input samples a faster output.
inline void makeSimKernel(double frac, double cut, SimKernel& kernel) {
  for (int k = 0; k < kSimTaps; ++k) {
    const double u = frac + kSimHalfTaps - 1 - k;
    const double x = std::numbers::pi * cut * u;
    const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(x) / x;
    kernel[k] = cut * sinc * simBlackman(u);
  }
}
