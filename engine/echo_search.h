#pragma once
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The search for echoes in a correlation: a CLEAN-style search with thresholds that follow the
// noise and the clutter along the range (CFAR).
//  [model]   every arrival (the direct sound and each echo) is a scaled, delayed copy of one
//            shape: the response of one arrival through this loudspeaker, microphone and format,
//            sampled at whole lags;
//  [direct]  the direct arrival near lag 0 is fitted and its whole response subtracted;
//  [cfar]    a lag counts as an echo when it stands kCfarFactor times above the noise and
//            clutter around it: the RMS of the blocks on either side as their median tells it (a
//            few strong reflections among them do not raise it), never below the mean of the
//            room's residual over a few metres around it (the weak image sources of the room's
//            decay, which the median leaves out), nor below the noise
//            (told by the quietest blocks); near every arrival found so far, the
//            direct one included, it must also reach a share of that arrival's envelope, since
//            no learned shape fits a real arrival exactly;
//  [echoes]  the strongest lag left is fitted to a fraction of a lag, recorded and subtracted if
//            it passes, and every arrival near it is fitted again against the others, up to the
//            limit of echoes. A fit takes the peak of the matched filter's envelope (filters with
//            the shape and its quadrature), which tells the carrier's cycles apart, then the
//            filter's own peak on that cycle, never another cycle. Where a weaker arrival close
//            behind bends the envelope, the neighbouring cycle is taken when it and that arrival
//            explain the lags around them clearly better; refits keep the cycle.
// The thresholds of [cfar] are in echo_threshold.h, the fit and the subtraction of one arrival
// in arrival_fit.h; this file holds the loop that uses them.

//
// The promise. In white noise an echo must stand kNoiseFactor (5.5) times the RMS of the lags
// before the direct sound, and kCfarFactor (4) times the clutter around it; were the fitted
// amplitudes Gaussian and independent every main lobe, 5.5 RMS would be passed with probability
// erfc(5.5 / sqrt 2) = 4e-8 each, some 1e-5 over the few hundred main lobes of a search. They are
// neither quite (the learnt shape and the fit's choice of the best lag lift the tail), so the
// promise is the measured one, kept by a test on 210 searches in white noise: fewer than one false
// echo in kSearchesPerFalseEcho searches. What it gives up: an echo needs about 15 dB over the
// noise after pulse compression to be reported, 5 dB more than the least a detector could use.
constexpr int kSearchesPerFalseEcho = 200;

constexpr size_t kMaxSearchEchoes = 7;

// The response of one arrival at lags -before .. values.size() - 1 - before, and its quadrature
// (the same response with every frequency shifted by 90 degrees) at the same lags.
struct ArrivalShape {
  std::span<const double> values;
  std::span<const double> quadrature;
  int before = 0;

  int after() const { return static_cast<int>(values.size()) - 1 - before; }
  double at(int64_t lag) const {
    const int64_t i = lag + before;
    return i < 0 || i >= static_cast<int64_t>(values.size()) ? 0.0 : values[static_cast<size_t>(i)];
  }
};

struct FoundArrival {
  double lag = 0.0;  // fractional lag of the shape's lag 0
  double amplitude = 0.0;
  bool partOfDirect = false;  // arrives with the direct sound (a desk bounce, the case)
  // How well the arrival matches the shape in phase at the lag found: 1 for a true copy, less
  // where it is not one (two arrivals too close to tell, a bent shape, noise).
  double confidence = 0.0;
};

constexpr size_t kMaxSearchArrivals = 1 + 2 * kMaxSearchEchoes;

struct EchoSearchResult {
  FoundArrival direct;
  std::array<FoundArrival, kMaxSearchEchoes> echoes{};  // the reported ones, strongest first
  size_t echoCount = 0;
  // Every arrival subtracted: the direct one first, then the echoes and those merged into a
  // stronger one nearby.
  std::array<FoundArrival, kMaxSearchArrivals> arrivals{};
  size_t arrivalCount = 0;
  int mainLobe = 0;  // lags of the shape's main lobe after its peak
};

// What the search may use; sized by the caller once (see echoSearchScratchFor), never during a
// search.
struct EchoSearchScratch {
  std::vector<double> residual;
  std::vector<double> matched;     // the matched filter around one candidate
  std::vector<double> quadrature;  // and its quadrature
  std::vector<double> blockRms;    // RMS of the residual per block of one main lobe
  std::vector<double> blockPeak;   // and its largest magnitude
  std::vector<double> blockLevel;  // noise and clutter around each block
  std::vector<double> blockNear;   // the clutter of the blocks just around each block
  std::vector<double> blockPower;  // the residual's power summed over the blocks before each
  std::vector<double> envelope;    // of the shape
  std::vector<double> shapeTable;  // the shape at fractions of a lag
};
void reserveEchoSearch(EchoSearchScratch& scratch, size_t signalLags, size_t shapeLags);

struct EchoSearchLimits {
  int64_t firstLag = 0;    // lag of signal[0]
  int64_t directFrom = 0;  // the direct arrival's peak lies in these lags
  int64_t directTo = 0;
  // Where the shape was learned from the direct arrival itself, the direct arrival is the shape
  // at lag 0, positive: it is fitted within this many lags of 0 (infinity: anywhere between
  // directFrom and directTo, of either sign).
  double directWithin = INFINITY;
  // A direct arrival the offset finder did not confirm must stand this far above the noise.
  double directOverNoise = 0.0;
  // Arrivals this close to the direct one are part of it (a bounce off the desk the device
  // stands on, sound through its case) [lags].
  int directSpread = 0;
  // The least noise the recording can hold (its quantisation), in the signal's units.
  double leastNoise = 0.0;
};

// Searches `signal` for the direct arrival and up to kMaxSearchEchoes echoes after it. The
// signal and the shape are only read; the scratch must hold signal.size() lags.
EchoSearchResult searchEchoes(std::span<const double> signal, const ArrivalShape& shape,
                              const EchoSearchLimits& limits, EchoSearchScratch& scratch);
