#include "engine/echo_whitening.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 44100.0;

// |A| at a frequency, straight from the taps.
double responseAt(const Whitening& w, double hz) {
  std::complex<double> sum = 0.0;
  for (int k = 0; k <= w.order; ++k) {
    sum +=
        w.taps[static_cast<size_t>(k)] * std::polar(1.0, -2.0 * std::numbers::pi * hz / kRate * k);
  }
  return std::abs(sum);
}

struct Tone {
  double hz, amplitude, phase;
};

std::vector<double> background(size_t n, double noise, const std::vector<Tone>& tones,
                               uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> white(0.0, noise);
  std::vector<double> x(n);
  for (size_t i = 0; i < n; ++i) {
    x[i] = white(rng);
    for (const Tone& t : tones) {
      x[i] += t.amplitude * std::sin(2.0 * std::numbers::pi * t.hz / kRate * i + t.phase);
    }
  }
  return x;
}

double power(const std::vector<double>& x) {
  double sum = 0.0;
  for (const double v : x) sum += v * v;
  return sum / static_cast<double>(x.size());
}

Whitening whiteningFrom(std::vector<double> frames, double fromHz = 1000.0, double toHz = 21000.0) {
  BackgroundSpectrum spectrum;
  addBackground(spectrum, frames);
  return whiteningOf(spectrum, fromHz / kRate, toHz / kRate);
}

// A background of white noise alone is left as it is, at every length the tracker may see.
TEST(EchoWhitening, WhiteNoiseIsLeftAlone) {
  for (const size_t frames : {kLeastBackgroundFrames, size_t{300}, kMostBackgroundFrames}) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
      EXPECT_EQ(whiteningFrom(background(frames, 30.0, {}, seed)).order, 0)
          << frames << " frames, seed " << seed;
    }
  }
  EXPECT_EQ(whiteningFrom(std::vector<double>(1000, 0.0)).order, 0);  // digital silence
  // Mains hum and its harmonics, and a tone above the band, 30 dB over the noise: nothing the
  // correlation with an 8-12 kHz chirp keeps, so nothing to filter.
  const std::vector<Tone> outside{{50, 1000, 0}, {150, 500, 1}, {250, 300, 2}, {15000, 1000, 3}};
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    EXPECT_EQ(whiteningFrom(background(300, 30.0, outside, seed), 8000.0, 12000.0).order, 0);
  }
  EXPECT_EQ(whiteningFrom(background(kLeastBackgroundFrames - 1, 1.0, {{9000, 100, 0}}, 1)).order,
            0);
}

// Tones drawn anywhere in the band, one or two, from 300 frames of background: after the filter a
// continuation of the same background (other noise, the tones' phases running on) keeps its tones
// at least 30 dB down against the noise's share, and the filter stays near flat elsewhere.
TEST(EchoWhitening, SteadyTonesAreNotchedAndTheRestKept) {
  std::mt19937 draw(77);
  std::uniform_real_distribution<double> inBand(2000.0, 20000.0);
  std::uniform_real_distribution<double> phase(0.0, 2.0 * std::numbers::pi);
  for (int k = 0; k < 12; ++k) {
    std::vector<Tone> tones{{inBand(draw), 700.0, phase(draw)}};
    if (k % 2 == 1) tones.push_back({inBand(draw), 400.0, phase(draw)});
    const Whitening w = whiteningFrom(background(300, 30.0, tones, 10 + k));
    ASSERT_GT(w.order, 0) << tones[0].hz;
    // The later frames: the same tones, phases run on by 5000 frames, new noise.
    std::vector<Tone> later = tones;
    for (Tone& t : later) t.phase += 2.0 * std::numbers::pi * t.hz / kRate * 5000;
    const std::vector<double> tonesOnly = background(4000, 0.0, later, 0);
    const std::vector<double> noiseOnly = background(4000, 30.0, {}, 99 + k);
    std::vector<double> a(tonesOnly.size() - static_cast<size_t>(w.order)), b(a.size());
    whiten(w, tonesOnly, a);
    whiten(w, noiseOnly, b);
    const double before = 10 * std::log10(power(tonesOnly) / power(noiseOnly));
    const double after = 10 * std::log10(power(a) / power(b));
    EXPECT_LT(after, before - 30.0) << tones[0].hz << " Hz: " << before << " -> " << after << " dB";
    // Half an octave away from every tone the filter stays within 12 dB of its median gain there:
    // sixteen poles fitted to a few hundred frames ripple, but a ripple costs a matched filter
    // far less than a tone left in.
    std::vector<double> gains;
    for (double hz = 1000.0; hz < 21000.0; hz += 500.0) {
      bool far = true;
      for (const Tone& t : tones) far = far && std::abs(std::log2(hz / t.hz)) > 0.5;
      if (far) gains.push_back(20 * std::log10(responseAt(w, hz)));
    }
    std::vector<double> sorted = gains;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];
    for (const double db : gains) EXPECT_LT(std::abs(db - median), 12.0) << tones[0].hz << " Hz";
  }
}

// The filter is linear and the same on the signal and on the shape: a signal that is two copies
// of a shape comes out as two copies of the filtered shape, so an echo stays a copy of the
// direct arrival.
TEST(EchoWhitening, SignalAndShapeThroughTheSameFilter) {
  const Whitening w = whiteningFrom(background(400, 10.0, {{10300.0, 500.0, 0.4}}, 5));
  ASSERT_GT(w.order, 0);
  const auto order = static_cast<size_t>(w.order);
  std::vector<double> shape(200);
  for (size_t i = 0; i < shape.size(); ++i) {
    const double u = (static_cast<double>(i) - 100.0) / 20.0;
    shape[i] = std::exp(-u * u) * std::cos(1.5 * u * 20.0 * 0.5);
  }
  std::vector<double> filtered(shape.size() + order);
  whitenShape(w, shape, filtered);
  std::vector<double> signal(1000, 0.0);
  for (size_t i = 0; i < shape.size(); ++i) {
    signal[100 + i] += shape[i];
    signal[530 + i] += 0.25 * shape[i];
  }
  std::vector<double> out(signal.size() - order);
  whiten(w, signal, out);
  for (size_t i = 0; i < filtered.size(); ++i) {
    // out[j] is the filter's output at signal index j + order.
    EXPECT_NEAR(out[100 + i - order], filtered[i], 1e-12) << i;
    EXPECT_NEAR(out[530 + i - order], 0.25 * filtered[i], 1e-12) << i;
  }
}

}  // namespace
