#include "audio/sim_response.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/sim_fft.h"

namespace {

// Frequency grid of the design, and the taps kept around time zero. 1 500 taps after it hold a
// Q 20 ringing at 1 kHz down to -100 dB at 44.1 kHz; 500 before it hold the slowly fading
// 1 / t tails of a constant phase shift well enough for the band of any chirp.
constexpr size_t kDesignPoints = 8192;
constexpr int kLeadTaps = 500;
constexpr int kTailTaps = 1500;
constexpr double kSmallLoudspeakerHz = 500.0;
constexpr double kPhaseEaseFrom = 0.95;  // of the Nyquist frequency

using Complex = std::complex<double>;

Complex peaking(double hz, double peakHz, double q, double gainDb) {
  const Complex s(0.0, hz / peakHz);  // normalised to the peak
  const double a = std::pow(10.0, gainDb / 40.0);
  return (s * s + s * (a / q) + 1.0) / (s * s + s / (a * q) + 1.0);
}

Complex highPass2(double hz, double cornerHz, double q) {
  const Complex s(0.0, hz / cornerHz);
  return s * s / (s * s + s / q + 1.0);
}

// Raised-cosine fade over the outer fifth of each side, so that the cut tails do not ring.
double taper(int tap, int lead, int tail) {
  const double u = tap < 0 ? -static_cast<double>(tap) / lead : static_cast<double>(tap) / tail;
  if (u <= 0.8) return 1.0;
  return 0.5 + 0.5 * std::cos(std::numbers::pi * (u - 0.8) / 0.2);
}

// A Butterworth low-pass of the given order: a first-order section when the order is odd, and a
// second-order one of Q = 1 / (2 sin((2k - 1) pi / 2n)) for each pair of poles.
Complex lowPass(double hz, double cornerHz, int order) {
  const Complex s(0.0, hz / cornerHz);
  Complex h = order % 2 == 1 ? 1.0 / (1.0 + s) : Complex(1.0);
  for (int k = 1; k <= order / 2; ++k) {
    const double q = 1.0 / (2.0 * std::sin((2 * k - 1) * std::numbers::pi / (2.0 * order)));
    h /= s * s + s / q + 1.0;
  }
  return h;
}

}  // namespace

Complex responseAt(const SimResponse& r, double hz) {
  switch (r.kind) {
    case ResponseKind::kFlat:
      return 1.0;
    case ResponseKind::kLowPass:
      return lowPass(hz, r.hz, r.order);
    case ResponseKind::kHighPass:
      return Complex(0.0, hz / r.hz) / Complex(1.0, hz / r.hz);
    case ResponseKind::kPhase:
      return std::polar(1.0, -r.degrees * std::numbers::pi / 180.0);
    case ResponseKind::kResonant:
      return peaking(hz, r.hz, r.q, r.gainDb) * highPass2(hz, kSmallLoudspeakerHz, 0.7);
    case ResponseKind::kRinging:
      return peaking(hz, r.hz, r.q, r.gainDb);
  }
  return 1.0;
}

ResponseFilter designResponse(const SimResponse& speaker, const SimResponse& microphone,
                              double samplesPerSec) {
  ResponseFilter filter;
  if (speaker.flat() && microphone.flat()) return filter;
  const size_t n = kDesignPoints;
  std::vector<Complex> h(n);
  for (size_t k = 0; k <= n / 2; ++k) {
    const double hz = samplesPerSec * static_cast<double>(k) / static_cast<double>(n);
    Complex v = responseAt(speaker, hz) * responseAt(microphone, hz);
    // At 0 Hz and at the Nyquist frequency a real filter has a real response: over the top 5 %
    // of the band the phase eases to 0, so that no jump there rings through the whole filter.
    const double u = static_cast<double>(k) / static_cast<double>(n / 2);
    if (u > kPhaseEaseFrom) {
      const double keep =
          0.5 + 0.5 * std::cos(std::numbers::pi * (u - kPhaseEaseFrom) / (1.0 - kPhaseEaseFrom));
      v = std::polar(std::abs(v), std::arg(v) * keep);
    }
    if (k == 0) v = v.real();
    h[k] = v;
    if (k > 0 && k < n / 2) h[n - k] = std::conj(v);
  }
  fftInPlace(h, true);
  filter.leadTaps = kLeadTaps;
  filter.taps.assign(static_cast<size_t>(kLeadTaps + kTailTaps), 0.0);
  for (int t = -kLeadTaps; t < kTailTaps; ++t) {
    const size_t at = (static_cast<size_t>(t + static_cast<int>(n))) % n;
    filter.taps[static_cast<size_t>(t + kLeadTaps)] = h[at].real() * taper(t, kLeadTaps, kTailTaps);
  }
  return filter;
}
