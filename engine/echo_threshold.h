#pragma once
#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>

#include "engine/arrival_fit.h"
#include "engine/echo_search.h"

// What an echo must stand above: the noise and the clutter along the range (CFAR), measured on
// the search's residual block by block, a block being one main lobe of the shape, from the
// echoes' range on. The promise these factors give is written in echo_search.h.

constexpr double kCfarFactor = 4.0;  // an echo's peak over the level of noise and clutter
// and over the noise alone: random peaks of noise stand out more often than a clutter of weak
// reflections, which are real.
constexpr double kNoiseFactor = 5.5;
// A lag is tried as an echo from half that factor on: its own side lobes still count in the
// level around it until it is fitted and subtracted.
constexpr double kCandidateFactor = 2.5;

class ClutterLevels {
 public:
  ClutterLevels(ArrivalModel& model, const EchoSearchLimits& limits, EchoSearchScratch& scratch)
      : model_(model), limits_(limits), s_(scratch) {}

  // Starts the blocks at lag `blocksFrom`, once the direct arrival and its parts (the first of
  // `arrivals`) are subtracted: measures the noise, from the quietest blocks and from the lags
  // before the direct arrival.
  void start(int64_t blocksFrom, std::span<const FoundArrival> arrivals);
  // Measures again the blocks the residual changed in, and the levels they enter; near every one
  // of `arrivals` (the direct one first) the level is at least a share of its envelope.
  void measure(std::span<const FoundArrival> arrivals);

  // The level a lag is judged against: the noise and clutter of its block.
  double levelAt(int64_t lag) const;
  // What a peak at `lag` must exceed to be an echo.
  double thresholdAt(int64_t lag) const {
    return std::max(kCfarFactor * levelAt(lag), kNoiseFactor * noise_);
  }
  double noise() const { return noise_; }
  int64_t blocksFrom() const { return blocksFrom_; }
  // The lag that stands highest above the level around it, and how high; lags within a main
  // lobe of a `rejected` one are passed over.
  std::pair<int64_t, double> candidate(std::span<const int64_t> rejected) const;

 private:
  double quietFloor(std::span<const FoundArrival> arrivals);
  double noiseBeforeDirect(const FoundArrival& direct) const;
  double robustLevel(int64_t b, int64_t blocks) const;
  double roomLevel(int64_t b, int64_t blocks, int64_t roomFrom, double atLeast) const;
  void guardArrivals(std::span<const FoundArrival> arrivals);

  ArrivalModel& model_;
  const EchoSearchLimits& limits_;
  EchoSearchScratch& s_;
  int64_t blocksFrom_ = 0;  // where the echoes' range starts, one main lobe after the direct
  double floor_ = 0.0;
  double noise_ = 0.0;
};
