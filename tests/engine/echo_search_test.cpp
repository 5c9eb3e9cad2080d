// The echo search's parts on their own, on an analytic arrival (a Gaussian-windowed carrier and
// its exact quadrature) rather than a shape our tracker learnt: the fit of one arrival, the
// subtraction, the noise the threshold reads, and the whole search on planted copies.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "engine/arrival_fit.h"
#include "engine/echo_search.h"
#include "engine/echo_threshold.h"

namespace {

constexpr double kCyclesPerLag = 0.21;  // the default chirp's centre at 48 kHz, about
constexpr double kWidth = 4.0;          // lags: the envelope's standard deviation
constexpr int kBefore = 24;
constexpr int64_t kFirstLag = -100;
constexpr size_t kLags = 1200;

double envelopeOf(double t) {
  return std::exp(-t * t / (2.0 * kWidth * kWidth));
}
double carrierOf(double t) {
  return std::cos(2.0 * std::numbers::pi * kCyclesPerLag * t);
}

// The arrival and its quadrature at whole lags -kBefore .. kBefore.
struct Analytic {
  std::vector<double> values, quadrature;
  Analytic() {
    for (int t = -kBefore; t <= kBefore; ++t) {
      const double phase = 2.0 * std::numbers::pi * kCyclesPerLag * t;
      values.push_back(envelopeOf(t) * std::cos(phase));
      quadrature.push_back(envelopeOf(t) * std::sin(phase));
    }
  }
  ArrivalShape shape() const { return {values, quadrature, kBefore}; }
};

struct Planted {
  double lag, amplitude;
};

// Copies of the arrival at fractional lags, as the world would give them (sampled from the
// continuous arrival, not interpolated from our table), and white noise of the given RMS.
std::vector<double> signalOf(const std::vector<Planted>& arrivals, double noise, uint32_t seed) {
  std::vector<double> signal(kLags);
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, noise);
  for (size_t i = 0; i < kLags; ++i) {
    const double lag = static_cast<double>(kFirstLag) + static_cast<double>(i);
    for (const Planted& a : arrivals) {
      signal[i] += a.amplitude * envelopeOf(lag - a.lag) * carrierOf(lag - a.lag);
    }
    if (noise > 0.0) signal[i] += gauss(random);
  }
  return signal;
}

EchoSearchScratch scratchFor(size_t lags) {
  EchoSearchScratch scratch;
  reserveEchoSearch(scratch, lags, 2 * kBefore + 1);
  return scratch;
}

double energyOf(const std::vector<double>& v) {
  double sum = 0.0;
  for (const double x : v) sum += x * x;
  return sum;
}

TEST(ArrivalFit, APlantedCopyAtAnyFractionOfACycleIsFittedToItsLagAndLeavesNothing) {
  const Analytic a;
  const ArrivalShape shape = a.shape();
  EchoSearchScratch scratch = scratchFor(kLags);
  const double period = 1.0 / kCyclesPerLag;
  for (int eighth = 0; eighth < 8; ++eighth) {
    const double lag = 300.0 + period * eighth / 8.0;
    const std::vector<double> signal = signalOf({{lag, 0.7}}, 0.0, 0);
    ArrivalModel model(signal, shape, kFirstLag, scratch);
    // The period only steps the looks for another cycle, each a quarter period wide.
    EXPECT_NEAR(model.period(), period, 0.05 * period);
    const FoundArrival found = model.fit(std::round(lag), 3, 1.0);
    EXPECT_NEAR(found.lag, lag, 1e-3) << "eighth " << eighth;
    EXPECT_NEAR(found.amplitude, 0.7, 1e-3) << "eighth " << eighth;
    EXPECT_GT(found.confidence, 0.999) << "eighth " << eighth;
    model.add(found, -1.0);
    EXPECT_LT(model.energyBetween(kFirstLag, kFirstLag + static_cast<int64_t>(kLags) - 1),
              1e-6 * energyOf(signal))
        << "eighth " << eighth;
  }
}

// Noise moves the fit within its cycle, never to the next: the cycle is the envelope's.
TEST(ArrivalFit, NoiseNeverMovesTheFitByACycle) {
  const Analytic a;
  const ArrivalShape shape = a.shape();
  EchoSearchScratch scratch = scratchFor(kLags);
  const double period = 1.0 / kCyclesPerLag;
  // About 20 dB over the noise after the matched filter (its gain is the root of the shape's
  // energy over the noise's RMS, some 2.4 here).
  constexpr double kNoise = 0.1;
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    for (int eighth = 0; eighth < 8; ++eighth) {
      const double lag = 400.0 + period * eighth / 8.0;
      const std::vector<double> signal = signalOf({{lag, 1.0}}, kNoise, seed);
      ArrivalModel model(signal, shape, kFirstLag, scratch);
      const FoundArrival found = model.fit(std::round(lag), 3, 1.0);
      EXPECT_LT(std::abs(found.lag - lag), period / 8.0) << "seed " << seed << " eighth " << eighth;
    }
  }
}

TEST(ClutterLevels, TheNoiseIsReadFromTheLagsBeforeTheDirectArrival) {
  const Analytic a;
  const ArrivalShape shape = a.shape();
  EchoSearchScratch scratch = scratchFor(kLags);
  constexpr double kNoise = 0.01;
  const std::vector<double> signal = signalOf({{0.0, 1.0}}, kNoise, 7);
  EchoSearchLimits limits;
  limits.firstLag = kFirstLag;
  ArrivalModel model(signal, shape, kFirstLag, scratch);
  const FoundArrival direct = model.fit(0.0, 3, 1.0);
  model.add(direct, -1.0);
  ClutterLevels levels(model, limits, scratch);
  levels.start(nearestLag(direct.lag) + model.lobe(), {&direct, 1});
  // About 70 lags of noise before the direct arrival's response: its RMS to some 10 %.
  EXPECT_NEAR(levels.noise(), kNoise, 0.15 * kNoise);
  levels.measure({&direct, 1});
  EXPECT_NEAR(levels.thresholdAt(800), kNoiseFactor * levels.noise(), 0.5 * kNoise);
}

EchoSearchLimits directNearZero() {
  EchoSearchLimits limits;
  limits.firstLag = kFirstLag;
  limits.directFrom = -5;
  limits.directTo = 5;
  return limits;
}

TEST(EchoSearch, FindsThePlantedEchoesAtTheirLagsAndNothingElse) {
  const Analytic a;
  const ArrivalShape shape = a.shape();
  EchoSearchScratch scratch = scratchFor(kLags);
  const std::vector<Planted> echoes = {{150.3, 0.1}, {320.7, 0.03}, {731.45, 0.05}};
  std::vector<Planted> all = {{0.0, 1.0}};
  all.insert(all.end(), echoes.begin(), echoes.end());
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    const std::vector<double> signal = signalOf(all, 0.001, seed);
    const EchoSearchResult r = searchEchoes(signal, shape, directNearZero(), scratch);
    EXPECT_NEAR(r.direct.lag, 0.0, 1e-3);
    ASSERT_EQ(r.echoCount, echoes.size()) << "seed " << seed;
    for (const Planted& e : echoes) {
      bool found = false;
      for (size_t k = 0; k < r.echoCount; ++k) {
        // A tenth of a lag is a third of a millimetre in air at 48 kHz.
        if (std::abs(r.echoes[k].lag - e.lag) < 0.1) {
          found = true;
          EXPECT_NEAR(r.echoes[k].amplitude, e.amplitude, 0.05 * e.amplitude);
        }
      }
      EXPECT_TRUE(found) << "echo at " << e.lag << ", seed " << seed;
    }
    // Strongest first.
    EXPECT_NEAR(r.echoes[0].lag, 150.3, 0.1);
  }
}

TEST(EchoSearch, TheDirectArrivalAloneInNoiseGivesNoEcho) {
  const Analytic a;
  const ArrivalShape shape = a.shape();
  EchoSearchScratch scratch = scratchFor(kLags);
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    const std::vector<double> signal = signalOf({{0.37, 1.0}}, 0.001, seed);
    const EchoSearchResult r = searchEchoes(signal, shape, directNearZero(), scratch);
    EXPECT_NEAR(r.direct.lag, 0.37, 1e-3);
    EXPECT_EQ(r.echoCount, 0u) << "seed " << seed;
  }
}

}  // namespace
