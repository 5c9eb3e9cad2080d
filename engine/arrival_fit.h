#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "engine/echo_search.h"

// One arrival of the learnt shape fitted to what the echo search has not explained yet. The
// residual starts as the searched signal; every arrival found is subtracted from it as a scaled
// copy of the shape at a fractional lag, and a fit reads it through the shape's matched filter.
//
// A fit takes the peak of the matched filter's envelope (the filters with the shape and with its
// quadrature), which tells the carrier's cycles apart, then the filter's own peak on that cycle,
// never another cycle: the envelope's cycle is the same for every copy of the shape whatever its
// phase, while the largest carrier peak of the cycles around it moves an arrival that is not
// quite a copy (noise, a desk bounce, a bent model) by a whole cycle.

constexpr int kPhases = 16;  // steps of a lag in the table of the shape the fits subtract

// The whole lag nearest to a fractional one (without the library call: this runs for every lag
// of every search).
inline int64_t nearestLag(double lag) {
  return lag >= 0.0 ? static_cast<int64_t>(lag + 0.5) : -static_cast<int64_t>(0.5 - lag);
}

// Lags after its peak that the shape's main lobe covers.
int mainLobe(const ArrivalShape& s);
// Lags of one period of the shape's carrier.
double carrierPeriod(const ArrivalShape& s);

class ArrivalModel {
 public:
  // The residual starts as `signal`, whose first value is at `firstLag`; the scratch must hold
  // signal.size() lags (see reserveEchoSearch).
  ArrivalModel(std::span<const double> signal, const ArrivalShape& shape, int64_t firstLag,
               EchoSearchScratch& scratch);

  double residual(int64_t lag) const {
    const int64_t i = lag - firstLag_;
    return i < 0 || i >= static_cast<int64_t>(s_.residual.size())
               ? 0.0
               : s_.residual[static_cast<size_t>(i)];
  }
  int64_t firstLag() const { return firstLag_; }
  int64_t lastLag() const { return last_; }
  const ArrivalShape& shape() const { return shape_; }
  int lobe() const { return lobe_; }         // lags of the shape's main lobe after its peak
  double period() const { return period_; }  // of the carrier, in lags
  double energy() const { return energy_; }  // of the shape
  double peak() const { return peak_; }      // the shape's largest magnitude
  // The shape's envelope at its lag `offset` - shape().before; 0 beyond it.
  double envelopeAt(int64_t offset) const {
    return offset < 0 || offset >= static_cast<int64_t>(s_.envelope.size())
               ? 0.0
               : s_.envelope[static_cast<size_t>(offset)];
  }

  // residual += sign * amplitude * shape(lag - a.lag) wherever the shape reaches.
  void add(const FoundArrival& a, double sign);
  // The arrival whose scaled, delayed shape best matches the residual within `reach` lags of
  // `guess`; polarity +1 or -1 for an arrival of that sign, 0 for either; the lag found stays
  // within `within` of the guess.
  FoundArrival fit(double guess, int reach, double polarity, double within = INFINITY);

  // The residual's energy over lags from .. to, and over the main lobe either side of `lag`.
  double energyBetween(int64_t from, int64_t to) const;
  double energyNear(int64_t lag) const { return energyBetween(lag - lobe_, lag + lobe_); }
  // The lag of the residual's largest magnitude between from and to (-1 where none).
  int64_t strongestLag(int64_t from, int64_t to) const;

  // The lags the residual changed in since they were last cleared (first > last where none).
  std::pair<int64_t, int64_t> changed() const { return {changedFrom_, changedTo_}; }
  void clearChanged() {
    changedFrom_ = INT64_MAX;
    changedTo_ = INT64_MIN;
  }
  void markChanged(int64_t from, int64_t to) {
    changedFrom_ = from;
    changedTo_ = to;
  }

 private:
  class FilterMemo;
  double matchedAt(int64_t d, double* quadrature) const;
  double tableAt(int64_t n, int phase) const;
  void tabulateShape();

  const ArrivalShape& shape_;
  EchoSearchScratch& s_;
  int64_t firstLag_ = 0;
  int64_t last_ = 0;
  int lobe_;
  double period_ = 2.0;
  double energy_ = 0.0;
  double peak_ = 0.0;
  int64_t supportFrom_ = 0, supportTo_ = 0;  // lags of the shape that matter
  int64_t tableFrom_ = 0, tableTo_ = 0;      // lags the shape's table covers
  // Lags the residual changed in since they were last taken (all of them at first).
  int64_t changedFrom_ = INT64_MIN, changedTo_ = INT64_MAX;
};
