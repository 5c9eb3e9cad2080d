#pragma once
#include <cmath>
#include <numbers>

// The Blackman window, the one taper of the engine's filters and interpolators.

// The window at angle a from its centre (a = pi u / half-width, |a| <= pi), given cos(a): a
// caller stepping along the window by a fixed angle keeps cos(a) by recurrence and calls no
// cosine per tap.
constexpr double blackmanOfCos(double cosine) {
  return 0.42 + 0.5 * cosine + 0.08 * (2.0 * cosine * cosine - 1.0);
}

// The window at u from its centre, over -halfWidth .. halfWidth.
inline double blackmanWindow(double u, double halfWidth) {
  return blackmanOfCos(std::cos(std::numbers::pi * u / halfWidth));
}
