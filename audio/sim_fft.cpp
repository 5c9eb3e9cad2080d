#include "audio/sim_fft.h"

#include <cmath>
#include <numbers>

namespace {

// Below this many multiply-adds the direct sum beats three transforms of the padded length.
constexpr double kDirectConvolutionWork = 4.0e6;

size_t powerOfTwoAtLeast(size_t n) {
  size_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

}  // namespace

void fftInPlace(std::vector<std::complex<double>>& a, bool inverse) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = (inverse ? 2.0 : -2.0) * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0, 0.0);
      for (size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = a[i + k];
        const std::complex<double> v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        // Re-anchored every 64 steps, so that rounding in the running product stays tiny.
        w = (k % 64 == 63) ? std::polar(1.0, angle * static_cast<double>(k + 1)) : w * step;
      }
    }
  }
  if (inverse) {
    for (auto& v : a) v /= static_cast<double>(n);
  }
}

std::vector<double> convolve(std::span<const double> a, std::span<const double> b) {
  if (a.empty() || b.empty()) return {};
  const size_t size = a.size() + b.size() - 1;
  std::vector<double> out(size, 0.0);
  if (static_cast<double>(a.size()) * static_cast<double>(b.size()) <= kDirectConvolutionWork) {
    for (size_t i = 0; i < a.size(); ++i) {
      for (size_t j = 0; j < b.size(); ++j) out[i + j] += a[i] * b[j];
    }
    return out;
  }
  const size_t n = powerOfTwoAtLeast(size);
  // Both real inputs in one complex transform: a as the real part, b as the imaginary part.
  std::vector<std::complex<double>> x(n);
  for (size_t i = 0; i < a.size(); ++i) x[i].real(a[i]);
  for (size_t i = 0; i < b.size(); ++i) x[i].imag(b[i]);
  fftInPlace(x, false);
  std::vector<std::complex<double>> product(n);
  for (size_t k = 0; k < n; ++k) {
    const std::complex<double> xk = x[k];
    const std::complex<double> xm = std::conj(x[(n - k) % n]);
    const std::complex<double> fa = 0.5 * (xk + xm);
    const std::complex<double> fb = std::complex<double>(0.0, -0.5) * (xk - xm);
    product[k] = fa * fb;
  }
  fftInPlace(product, true);
  for (size_t i = 0; i < size; ++i) out[i] = product[i].real();
  return out;
}
