#include "engine/echo_search.h"

#include <algorithm>
#include <cmath>

#include "engine/arrival_fit.h"
#include "engine/echo_threshold.h"
#include "engine/fractional_delay.h"

namespace {

// An echo leaves at most this share of the energy within its main lobe once subtracted.
constexpr double kUnexplained = 0.5;
constexpr int kMaxRejected = 24;  // candidates the threshold may turn down in one search
constexpr int kRefitPasses = 1;
constexpr int kRefitLobes = 3;
constexpr int kDirectParts = 3;  // the direct arrival and the parts that come with it
// A part of the direct arrival is fitted while the residual in its main lobe reaches this share.
constexpr double kDirectPartShare = 0.05;
// A carrier cycle other than the envelope's must leave at most this share of what the
// envelope's leaves, with the strongest arrival within this many main lobes; it is looked for
// within this share of a period of one period away.
constexpr double kCycleGain = 0.9;
constexpr int64_t kCycleReachLobes = 2;
constexpr double kCycleWithin = 0.25;
// How much larger an arrival fitted on the neighbouring cycle can come out.
constexpr double kCycleAmplitudeSpread = 1.5;
// Lags of filter output one fit may read besides its interpolation's: its reach (a main lobe, or
// the direct arrival's spread) and a few carrier cycles, for the widest lobes a format gives.
constexpr size_t kMostFitLags = 4096;

// The CLEAN loop: the strongest candidate the threshold lets through is fitted, checked and
// subtracted, until nothing stands out or the echoes are many enough.
class Search {
 public:
  Search(std::span<const double> signal, const ArrivalShape& shape, const EchoSearchLimits& limits,
         EchoSearchScratch& scratch)
      : limits_(limits),
        model_(signal, shape, limits.firstLag, scratch),
        levels_(model_, limits, scratch) {}

  EchoSearchResult run();

 private:
  std::span<const FoundArrival> found() const { return {arrivals_.data(), count_}; }
  void measure() { levels_.measure(found()); }
  bool merged(size_t k) const;
  // Echoes have the direct arrival's sign.
  double echoSign() const { return arrivals_[0].amplitude < 0.0 ? -1.0 : 1.0; }
  size_t reportable() const;
  void refitNear(size_t index);
  FoundArrival bestCycle(const FoundArrival& found);
  bool stands(const FoundArrival& echo);
  double leftWithNeighbour(const FoundArrival& found, int64_t from, int64_t to);
  void fitDirectCluster();
  FoundArrival fitDirectAgain() {
    return std::isfinite(limits_.directWithin)
               ? model_.fit(0.0, static_cast<int>(std::ceil(limits_.directWithin)), 1.0,
                            limits_.directWithin)
               : model_.fit(arrivals_[0].lag, 1, 0.0);
  }

  const EchoSearchLimits& limits_;
  ArrivalModel model_;
  ClutterLevels levels_;
  // The direct arrival, the echoes and the arrivals merged into a stronger one nearby.
  std::array<FoundArrival, kMaxSearchArrivals> arrivals_{};
  std::array<bool, kMaxSearchArrivals> partOfDirect_{};
  size_t count_ = 0;
  std::array<int64_t, kMaxRejected> rejected_{};
  int rejectedCount_ = 0;
};

// Two arrivals closer than the main lobe are not told apart by the chirp: the weaker one is part
// of the stronger (a loudspeaker near a desk hears the direct sound and the wall each with its
// own bounce off the desk, a few millimetres or centimetres later). It stays subtracted, and is
// not reported.
bool Search::merged(size_t k) const {
  if (partOfDirect_[k]) return true;
  // Walls reflect sound as it comes: an echo is a copy of the direct arrival of the same sign. A
  // fit whose best peak of that sign is still of the other stands between two arrivals too close
  // to tell apart.
  if (arrivals_[k].amplitude * arrivals_[0].amplitude < 0.0) return true;
  for (size_t j = 0; j < count_; ++j) {
    if (j != k && std::abs(arrivals_[j].lag - arrivals_[k].lag) < model_.lobe() &&
        std::abs(arrivals_[j].amplitude) > std::abs(arrivals_[k].amplitude)) {
      return true;
    }
  }
  return false;
}

size_t Search::reportable() const {
  size_t n = 0;
  for (size_t k = 1; k < count_; ++k) n += merged(k) ? 0 : 1;
  return n;
}

// What arrives within a centimetre or two of the direct arrival belongs to it: a bounce off the
// desk the device stands on, sound through its case. Each such part is fitted and subtracted (and
// never reported) while its lags still hold a fair share of the direct arrival.
void Search::fitDirectCluster() {
  for (int part = 1; part < kDirectParts && count_ < arrivals_.size() && limits_.directSpread > 0;
       ++part) {
    const auto centre = static_cast<int64_t>(std::llround(arrivals_[0].lag));
    const int64_t at =
        model_.strongestLag(std::max(limits_.firstLag, centre - limits_.directSpread),
                            std::min(model_.lastLag(), centre + limits_.directSpread));
    if (at < 0 || std::abs(model_.residual(at)) <
                      kDirectPartShare * std::abs(arrivals_[0].amplitude) * model_.peak()) {
      return;
    }
    const FoundArrival found =
        model_.fit(arrivals_[0].lag, limits_.directSpread, 0.0, limits_.directSpread);
    partOfDirect_[count_] = true;
    arrivals_[count_] = found;
    model_.add(arrivals_[count_], -1.0);
    ++count_;
    refitNear(count_ - 1);
  }
}

// Arrivals close to each other bias each other's fits: each one near the arrival `index` is
// fitted again against the residual of all the others. An echo keeps the carrier cycle it was
// found on (see bestCycle): the envelope that would pick another is the one a neighbour bends.
void Search::refitNear(size_t index) {
  // Beyond a few main lobes the side lobes of one arrival barely move the fit of another.
  const double reachOfShape = kRefitLobes * model_.lobe();
  for (int pass = 0; pass < kRefitPasses; ++pass) {
    for (size_t k = 0; k < count_; ++k) {
      if (std::abs(arrivals_[k].lag - arrivals_[index].lag) > reachOfShape) continue;
      model_.add(arrivals_[k], 1.0);
      arrivals_[k] = partOfDirect_[k] ? model_.fit(arrivals_[0].lag, limits_.directSpread, 0.0,
                                                   limits_.directSpread)
                     : k == 0         ? fitDirectAgain()
                                      : model_.fit(arrivals_[k].lag, std::max(2, model_.lobe() / 2),
                                                   echoSign(), 0.5 * model_.period());
      model_.add(arrivals_[k], -1.0);
    }
  }
}

// What a found arrival and the strongest other one near it leave of the residual between `from`
// and `to`: how well the two explain it; infinity where the other is the stronger (a faint copy a
// cycle off the true arrival explains it as well as that arrival, beside it). The residual is as
// before afterwards.
double Search::leftWithNeighbour(const FoundArrival& found, int64_t from, int64_t to) {
  model_.add(found, -1.0);
  const int64_t at = model_.strongestLag(from, to);
  const FoundArrival other =
      model_.fit(static_cast<double>(at), std::max(2, model_.lobe() / 2), echoSign());
  model_.add(other, -1.0);
  const double left = model_.energyBetween(from, to);
  model_.add(other, 1.0);
  model_.add(found, 1.0);
  return std::abs(other.amplitude) < std::abs(found.amplitude) ? left : INFINITY;
}

// The envelope picks an arrival's carrier cycle, but a weaker arrival a main lobe or so away
// (an image source behind a wall's echo) bends the envelope's peak by half a period or more,
// where the chirp's band is narrow beside its centre. Each cycle next to the envelope's is
// tried with the strongest arrival near it: the cycle whose pair explains the lags around them
// clearly best is the arrival's.
FoundArrival Search::bestCycle(const FoundArrival& found) {
  // Cheaply out of the question first: what stays below the level around it (its own lobes
  // barely move the median of the blocks beside them).
  const int64_t at = nearestLag(found.lag);
  if (std::abs(found.amplitude) * model_.peak() * kCycleAmplitudeSpread <=
      levels_.thresholdAt(at)) {
    return found;
  }
  const int64_t lobe = model_.lobe();
  const int64_t from = std::max(levels_.blocksFrom(), at - kCycleReachLobes * lobe);
  const int64_t to = std::min(model_.lastLag(), at + kCycleReachLobes * lobe);
  const double envelopes = leftWithNeighbour(found, from, to);
  if (!std::isfinite(envelopes)) return found;
  FoundArrival best = found;
  double bestLeft = kCycleGain * envelopes;
  const double period = model_.period();
  for (int side = -1; side <= 1; side += 2) {
    const FoundArrival other =
        model_.fit(found.lag + side * period, 1, echoSign(), kCycleWithin * period);
    if (other.amplitude * echoSign() <= 0.0) continue;
    const double left = leftWithNeighbour(other, from, to);
    if (left < bestLeft) {
      bestLeft = left;
      best = other;
    }
  }
  return best;
}

// Whether `echo` stands as one: judged against what is left around it once its own side lobes
// are gone, and it must be an arrival, a copy of the shape, that explains most of what stood
// there. The residual is as before afterwards.
bool Search::stands(const FoundArrival& echo) {
  const int64_t at = std::llround(echo.lag);
  const double before = model_.energyNear(at);
  model_.add(echo, -1.0);
  measure();
  const double threshold = levels_.thresholdAt(at);
  const double left = model_.energyNear(at);
  model_.add(echo, 1.0);
  return std::abs(echo.amplitude) * model_.peak() > threshold && left <= kUnexplained * before;
}

EchoSearchResult Search::run() {
  EchoSearchResult result;
  const int64_t last = model_.lastLag();
  if (model_.energy() <= 0.0 || last < limits_.firstLag) return result;
  const int64_t directFrom = std::max(limits_.firstLag, limits_.directFrom);
  const int64_t directTo = std::min(last, limits_.directTo);
  if (directFrom > directTo) return result;
  if (std::isfinite(limits_.directWithin)) {
    const int reach = static_cast<int>(std::ceil(limits_.directWithin));
    arrivals_[count_++] = model_.fit(0.0, reach, 1.0, limits_.directWithin);
  } else {
    const int64_t directPeak = model_.strongestLag(directFrom, directTo);
    arrivals_[count_++] = model_.fit(static_cast<double>(directPeak), model_.lobe(), 0.0);
  }
  result.direct = arrivals_[0];
  model_.add(arrivals_[0], -1.0);
  fitDirectCluster();

  const int64_t blocksFrom = static_cast<int64_t>(std::ceil(arrivals_[0].lag)) + model_.lobe();
  if (blocksFrom >= last) return result;
  levels_.start(blocksFrom, found());
  if (std::abs(result.direct.amplitude) * model_.peak() <
      limits_.directOverNoise * levels_.noise()) {
    return {};
  }

  while (count_ < arrivals_.size() && reportable() < kMaxSearchEchoes &&
         rejectedCount_ < kMaxRejected) {
    measure();
    const auto [lag, ratio] =
        levels_.candidate({rejected_.data(), static_cast<size_t>(rejectedCount_)});
    if (lag < 0 || ratio <= kCandidateFactor) break;
    const FoundArrival echo =
        bestCycle(model_.fit(static_cast<double>(lag), std::max(2, model_.lobe() / 2), echoSign()));
    if (!stands(echo)) {
      rejected_[static_cast<size_t>(rejectedCount_++)] = lag;
      continue;
    }
    model_.add(echo, -1.0);
    arrivals_[count_++] = echo;
    refitNear(count_ - 1);
  }
  result.direct = arrivals_[0];
  for (size_t k = 1; k < count_ && result.echoCount < result.echoes.size(); ++k) {
    if (!merged(k)) result.echoes[result.echoCount++] = arrivals_[k];
  }
  result.arrivals = arrivals_;
  result.arrivalCount = count_;
  for (size_t k = 0; k < count_; ++k) result.arrivals[k].partOfDirect = partOfDirect_[k];
  result.mainLobe = model_.lobe();
  return result;
}

}  // namespace

void reserveEchoSearch(EchoSearchScratch& scratch, size_t signalLags, size_t shapeLags) {
  scratch.envelope.reserve(shapeLags);
  scratch.shapeTable.reserve((shapeLags + 2 * kInterpTaps + 4) * kPhases);
  scratch.residual.reserve(signalLags);
  scratch.matched.reserve(4 * static_cast<size_t>(kInterpTaps) + kMostFitLags);
  scratch.quadrature.reserve(scratch.matched.capacity());
  scratch.blockRms.reserve(signalLags / 2 + 1);
  scratch.blockLevel.reserve(signalLags / 2 + 1);
  scratch.blockNear.reserve(signalLags / 2 + 1);
  scratch.blockPeak.reserve(signalLags / 2 + 1);
  scratch.blockPower.reserve(signalLags / 2 + 2);
}

EchoSearchResult searchEchoes(std::span<const double> signal, const ArrivalShape& shape,
                              const EchoSearchLimits& limits, EchoSearchScratch& scratch) {
  if (signal.size() > scratch.residual.capacity())
    signal = signal.first(scratch.residual.capacity());
  Search search(signal, shape, limits, scratch);
  return search.run();
}
