#include "engine/echo_search.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>
#include <utility>

#include "engine/fractional_delay.h"

namespace {

constexpr double kCfarFactor = 4.0;  // an echo's peak over the level of noise and clutter
// and over the noise alone: random peaks of noise stand out more often than a clutter of weak
// reflections, which are real.
constexpr double kNoiseFactor = 5.5;
constexpr int64_t kNoiseLags = 32;  // lags before the direct arrival that tell the noise
// A lag is tried as an echo from half that factor on: its own side lobes still count in the
// level around it until it is fitted and subtracted.
constexpr double kCandidateFactor = 2.5;
constexpr double kFloorQuantile = 0.25;  // the quietest blocks tell the noise
// An echo leaves at most this share of the energy within its main lobe once subtracted.
constexpr double kUnexplained = 0.5;
// Share of a found arrival's envelope that an echo near it must reach.
constexpr double kMismatch = 0.5;
constexpr int kCfarBlocksEachSide = 8;  // blocks of the clutter level on either side
// Blocks on either side whose mean power the clutter level never falls below: about 2.7 m of
// range either way at the default chirp, so that it follows the room's decay, if slowly. The
// median of the blocks next to a candidate tells the clutter where a few strong reflections stand
// among them, but it leaves out the sparse weak image sources of the room's decay as well, and
// those are what most false echoes are made of: one of them, or a few merged, standing four times
// above that median. The mean takes them in; over so wide a span one reflection nearby barely
// moves it. The span was chosen on the realistic table (16 to 160 blocks tried): narrower ones lose
// more far walls, wider ones let more weak images through.
constexpr int kRoomBlocksEachSide = 64;
constexpr int kCfarGuardBlocks = 1;  // blocks next to the candidate left out of it
constexpr int kMaxRejected = 24;     // candidates the CFAR may turn down in one search
constexpr int kRefitPasses = 1;
constexpr int kRefitLobes = 3;
constexpr double kSupportFloor = 1e-6;  // of the shape's envelope peak
constexpr int kPhases = 16;             // steps of a lag in the table of the shape
constexpr int kCoarseSteps = 16;        // looks over one carrier period before the fine search
constexpr double kGolden = 0.6180339887498949;
constexpr int kGoldenSteps = 16;  // shrinks the bracket to 5e-4 of itself, 1e-4 of a lag
constexpr int kDirectParts = 3;   // the direct arrival and the parts that come with it
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

// The whole lag nearest to a fractional one (without the library call: this runs for every lag
// of every search).
int64_t nearestLag(double lag) {
  return lag >= 0.0 ? static_cast<int64_t>(lag + 0.5) : -static_cast<int64_t>(0.5 - lag);
}

// Lags after its peak that the shape's main lobe covers: beyond the last lag where |shape|
// still reaches a quarter of its peak.
int mainLobe(const ArrivalShape& s) {
  double peak = 0.0;
  int at = 0;
  for (int t = -s.before; t <= s.after(); ++t) {
    if (std::abs(s.at(t)) > peak) {
      peak = std::abs(s.at(t));
      at = t;
    }
  }
  int last = at + 1;
  for (int t = at + 1; t <= s.after(); ++t) {
    if (std::abs(s.at(t)) >= 0.25 * peak) last = t;
  }
  return std::max(2, last - at + 2);
}

// Lags of one period of the carrier: four times the first zero of the shape's autocorrelation,
// found between the whole lags where it changes sign.
double carrierPeriod(const ArrivalShape& s) {
  const auto autocorrelation = [&](int lag) {
    double sum = 0.0;
    for (int t = -s.before; t <= s.after(); ++t) sum += s.at(t) * s.at(t + lag);
    return sum;
  };
  double previous = autocorrelation(0);
  for (int lag = 1; lag <= s.before + s.after(); ++lag) {
    const double r = autocorrelation(lag);
    if (r <= 0.0) return 4.0 * (lag - 1 + previous / (previous - r));
    previous = r;
  }
  return 2.0;
}

double peakOf(const ArrivalShape& s) {
  double peak = 0.0;
  for (const double v : s.values) peak = std::max(peak, std::abs(v));
  return peak;
}

class Search {
 public:
  Search(std::span<const double> signal, const ArrivalShape& shape, const EchoSearchLimits& limits,
         EchoSearchScratch& scratch)
      : shape_(shape), limits_(limits), s_(scratch), lobe_(mainLobe(shape)) {
    for (const double v : shape.values) energy_ += v * v;
    period_ = carrierPeriod(shape);
    s_.envelope.resize(std::min(shape.values.size(), s_.envelope.capacity()));
    double peakEnvelope = 0.0;
    for (size_t i = 0; i < s_.envelope.size(); ++i) {
      s_.envelope[i] = std::hypot(shape.values[i], shape.quadrature[i]);
      peakEnvelope = std::max(peakEnvelope, s_.envelope[i]);
    }
    // Where the shape matters: filters and subtractions leave out its faint ends.
    supportFrom_ = shape.after();
    supportTo_ = -shape.before;
    for (size_t i = 0; i < s_.envelope.size(); ++i) {
      if (s_.envelope[i] < kSupportFloor * peakEnvelope) continue;
      supportFrom_ = std::min<int64_t>(supportFrom_, static_cast<int64_t>(i) - shape.before);
      supportTo_ = std::max<int64_t>(supportTo_, static_cast<int64_t>(i) - shape.before);
    }
    tabulateShape();
    s_.residual.assign(signal.begin(), signal.end());
    last_ = limits.firstLag + static_cast<int64_t>(signal.size()) - 1;
  }

  EchoSearchResult run();

 private:
  double residual(int64_t lag) const {
    const int64_t i = lag - limits_.firstLag;
    return i < 0 || i >= static_cast<int64_t>(s_.residual.size())
               ? 0.0
               : s_.residual[static_cast<size_t>(i)];
  }
  void add(const FoundArrival& a, double sign);
  // polarity: +1 or -1 for an arrival of that sign, 0 for either; the lag found stays within
  // `within` of the guess.
  FoundArrival fit(double guess, int reach, double polarity, double within = INFINITY);
  double matchedAt(int64_t d, double* quadrature) const;
  double tableAt(int64_t n, int phase) const;
  void tabulateShape();
  void measureBlocks();
  double robustLevel(int64_t b, int64_t blocks) const;
  double roomLevel(int64_t b, int64_t blocks, int64_t roomFrom, double atLeast) const;
  double levelAt(int64_t lag) const;
  void guardArrivals();
  double energyNear(int64_t lag) const;
  double quietFloor();
  double noiseBeforeDirect() const;
  std::pair<int64_t, double> candidate() const;
  int64_t strongestLag(int64_t from, int64_t to) const;
  bool rejected(int64_t lag) const;
  bool merged(size_t k) const;
  // Echoes have the direct arrival's sign.
  double echoSign() const { return arrivals_[0].amplitude < 0.0 ? -1.0 : 1.0; }
  size_t reportable() const;
  void refitNear(size_t index);
  FoundArrival bestCycle(const FoundArrival& found);
  bool stands(const FoundArrival& echo, double peak);
  double leftWithNeighbour(const FoundArrival& found, int64_t from, int64_t to);
  void fitDirectCluster(double peak);
  FoundArrival fitDirectAgain() {
    return std::isfinite(limits_.directWithin)
               ? fit(0.0, static_cast<int>(std::ceil(limits_.directWithin)), 1.0,
                     limits_.directWithin)
               : fit(arrivals_[0].lag, 1, 0.0);
  }

  const ArrivalShape& shape_;
  const EchoSearchLimits& limits_;
  EchoSearchScratch& s_;
  int lobe_;
  double period_ = 2.0;  // of the carrier, in lags
  double energy_ = 0.0;
  int64_t last_ = 0;
  int64_t supportFrom_ = 0, supportTo_ = 0;  // lags of the shape that matter
  int64_t tableFrom_ = 0, tableTo_ = 0;      // lags the shape's table covers
  int64_t blocksFrom_ = 0;  // where the echoes' range starts, one main lobe after the direct
  double floor_ = 0.0;
  double noise_ = 0.0;
  // The direct arrival, the echoes and the arrivals merged into a stronger one nearby.
  std::array<FoundArrival, kMaxSearchArrivals> arrivals_{};
  std::array<bool, kMaxSearchArrivals> partOfDirect_{};
  size_t count_ = 0;
  std::array<int64_t, kMaxRejected> rejected_{};
  int rejectedCount_ = 0;
  // Lags the residual changed in since the blocks were last measured (all of them at first).
  int64_t changedFrom_ = INT64_MIN, changedTo_ = INT64_MAX;
};

// residual += sign * amplitude * shape(lag - a.lag) wherever the shape reaches.
void Search::add(const FoundArrival& a, double sign) {
  const double whole = std::floor(a.lag);
  const auto base = static_cast<int64_t>(whole);
  // The shape at (n - fraction) for every whole n: a cubic through the table's neighbouring
  // phases, whose steps are a sixteenth of a lag.
  const double u = (a.lag - whole) * kPhases;
  const auto p0 = static_cast<int>(u);
  const double f = u - p0;
  const std::array<double, 4> w = {-0.5 * f * (1.0 - f) * (1.0 - f), 1.0 + f * f * (1.5 * f - 2.5),
                                   0.5 * f * (1.0 + f * (4.0 - 3.0 * f)), -0.5 * f * f * (1.0 - f)};
  const double scale = sign * a.amplitude;
  changedFrom_ = std::min(changedFrom_, base + tableFrom_);
  changedTo_ = std::max(changedTo_, base + tableTo_);
  for (int64_t n = tableFrom_; n <= tableTo_; ++n) {
    const int64_t i = base + n - limits_.firstLag;
    if (i < 0 || i >= static_cast<int64_t>(s_.residual.size())) continue;
    double v = 0.0;
    for (int k = 0; k < 4; ++k) v += w[static_cast<size_t>(k)] * tableAt(n, p0 - 1 + k);
    s_.residual[static_cast<size_t>(i)] += scale * v;
  }
}

// The shape at n - phase / kPhases, for phases -1 .. kPhases + 2 (those beyond a whole lag are
// the neighbouring lag's).
double Search::tableAt(int64_t n, int phase) const {
  if (phase < 0) {
    phase += kPhases;
    n += 1;
  } else if (phase >= kPhases) {
    phase -= kPhases;
    n -= 1;
  }
  const int64_t row = n - tableFrom_;
  if (row < 0 || row > tableTo_ - tableFrom_) return 0.0;
  return s_.shapeTable[static_cast<size_t>(row) * kPhases + static_cast<size_t>(phase)];
}

// The shape between its lags, once per search: every later subtraction reads it from here.
void Search::tabulateShape() {
  tableFrom_ = supportFrom_ - kInterpTaps - 1;
  tableTo_ = supportTo_ + kInterpTaps + 1;
  const auto rows = static_cast<size_t>(tableTo_ - tableFrom_ + 1);
  s_.shapeTable.resize(std::min(rows * kPhases, s_.shapeTable.capacity()));
  const auto sample = [&](int64_t t) { return shape_.at(t); };
  for (int phase = 0; phase < kPhases; ++phase) {
    const FractionalDelay delay = FractionalDelay::of(static_cast<double>(phase) / kPhases);
    for (size_t row = 0; row * kPhases + static_cast<size_t>(phase) < s_.shapeTable.size(); ++row) {
      s_.shapeTable[row * kPhases + static_cast<size_t>(phase)] =
          delay.apply(sample, tableFrom_ + static_cast<int64_t>(row));
    }
  }
}

// The matched filter of the shape on the residual at whole lag d, and (when `quadrature` is
// given) that of its quadrature.
double Search::matchedAt(int64_t d, double* quadrature) const {
  const int64_t from = std::max<int64_t>(supportFrom_, limits_.firstLag - d);
  const int64_t to = std::min<int64_t>(supportTo_, last_ - d);
  if (from > to) {
    if (quadrature != nullptr) *quadrature = 0.0;
    return 0.0;
  }
  const double* r = &s_.residual[static_cast<size_t>(d + from - limits_.firstLag)];
  const double* m = &shape_.values[static_cast<size_t>(from + shape_.before)];
  const auto n = static_cast<size_t>(to - from + 1);
  double in = 0.0;
  for (size_t i = 0; i < n; ++i) in += r[i] * m[i];
  if (quadrature != nullptr) {
    const double* q = &shape_.quadrature[static_cast<size_t>(from + shape_.before)];
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum += r[i] * q[i];
    *quadrature = sum;
  }
  return in;
}

// The arrival whose scaled, delayed shape best matches the residual within `reach` lags of
// `guess`. The matched filter's carrier is nearly as high one half-period off its peak, but its
// envelope is not: the envelope's peak (parabola through the largest whole lag and its
// neighbours) picks the cycle, then the filter's own peak within a quarter period of it is found
// between the lags (its output is as band-limited as the signal, so its windowed-sinc
// interpolation is exact to far below the noise), golden-section searched.
FoundArrival Search::fit(double guess, int reach, double polarity, double within) {
  const auto centre = static_cast<int64_t>(std::llround(guess));
  const auto halfPeriod = static_cast<int64_t>(std::ceil(1.5 * period_));  // three cycles
  const int64_t from = centre - reach - halfPeriod - kInterpTaps - 1;
  const auto count = static_cast<size_t>(2 * (reach + halfPeriod + kInterpTaps + 1) + 1);
  // Filter outputs as they are needed: the envelope near the guess, the filter itself around
  // the envelope's peak. NaN marks one not computed yet.
  s_.matched.assign(std::min(count, s_.matched.capacity()), NAN);
  s_.quadrature.assign(s_.matched.size(), NAN);
  const auto slot = [&](int64_t d) -> int64_t {
    const int64_t k = d - from;
    return k < 0 || k >= static_cast<int64_t>(s_.matched.size()) ? -1 : k;
  };
  const auto matched = [&](int64_t d) {
    const int64_t k = slot(d);
    if (k < 0) return 0.0;
    double& v = s_.matched[static_cast<size_t>(k)];
    if (std::isnan(v)) v = matchedAt(d, nullptr);
    return v;
  };
  const auto envelope = [&](int64_t d) {
    const int64_t k = slot(d);
    if (k < 0) return 0.0;
    const auto i = static_cast<size_t>(k);
    if (std::isnan(s_.quadrature[i])) s_.matched[i] = matchedAt(d, &s_.quadrature[i]);
    return s_.matched[i] * s_.matched[i] + s_.quadrature[i] * s_.quadrature[i];
  };
  int64_t best = centre;
  for (int64_t d = centre - reach; d <= centre + reach; ++d) {
    if (envelope(d) > envelope(best)) best = d;
  }
  const double left = envelope(best - 1), middle = envelope(best), right = envelope(best + 1);
  const double curve = left - 2.0 * middle + right;
  const double peak = static_cast<double>(best) +
                      (curve < 0.0 ? std::clamp(0.5 * (left - right) / curve, -0.5, 0.5) : 0.0);
  // Value at position p = n - f with n whole, signed as the arrival must be.
  const auto at = [&](double p) {
    const double n = std::ceil(p);
    return FractionalDelay::of(n - p).apply(matched, static_cast<int64_t>(n));
  };
  const auto score = [&](double p) {
    const double v = at(p);
    return polarity == 0.0 ? std::abs(v) : polarity * v;
  };
  // The cycle is the envelope's: it is the same for every copy of the shape, whatever its phase,
  // so the carrier only refines the lag within half a period of the envelope's peak (a coarse
  // look over that period, then a golden-section search around the best of it). Choosing the
  // largest carrier peak of the cycles around it instead moves an arrival that is not quite a copy
  // of the shape (noise, a desk bounce, a bent model) by a whole cycle.
  double start = peak;
  double startScore = -INFINITY;
  for (int i = 0; i < kCoarseSteps; ++i) {
    const double p = peak + period_ * ((i + 0.5) / kCoarseSteps - 0.5);
    if (std::abs(p - guess) > within) continue;
    const double v = score(p);
    if (v > startScore) {
      startScore = v;
      start = p;
    }
  }
  if (!std::isfinite(startScore)) start = std::clamp(peak, guess - within, guess + within);
  double lo = std::max(start - period_ / kCoarseSteps, guess - within);
  double hi = std::min(start + period_ / kCoarseSteps, guess + within);
  double a = hi - kGolden * (hi - lo);
  double b = lo + kGolden * (hi - lo);
  double fa = score(a);
  double fb = score(b);
  for (int i = 0; i < kGoldenSteps; ++i) {
    if (fa > fb) {
      hi = b;
      b = a;
      fb = fa;
      a = hi - kGolden * (hi - lo);
      fa = score(a);
    } else {
      lo = a;
      a = b;
      fa = fb;
      b = lo + kGolden * (hi - lo);
      fb = score(b);
    }
  }
  const double bestLag = 0.5 * (lo + hi);
  const double value = at(bestLag);
  // A copy of the shape matches as well in phase as its envelope allows; anything else falls short.
  const double top = std::sqrt(std::max(middle, 0.0));
  const double confidence = top > 0.0 ? std::clamp(std::abs(value) / top, 0.0, 1.0) : 0.0;
  return FoundArrival{bestLag, energy_ > 0.0 ? value / energy_ : 0.0, false, confidence};
}

// Noise and clutter along the range, per block of one main lobe from the echoes' range on: each
// block's RMS, and its level: the RMS of the blocks on either side, leaving out the blocks next
// to it, never below the floor.
void Search::measureBlocks() {
  const int64_t block = lobe_;
  const auto blocks = std::min<int64_t>((last_ - blocksFrom_) / block + 1,
                                        static_cast<int64_t>(s_.blockRms.capacity()));
  if (changedFrom_ > changedTo_ || changedTo_ < blocksFrom_ || changedFrom_ > last_ ||
      blocks <= 0) {
    guardArrivals();
    return;
  }
  s_.blockRms.resize(static_cast<size_t>(blocks));
  s_.blockPeak.resize(static_cast<size_t>(blocks));
  s_.blockLevel.resize(static_cast<size_t>(blocks));
  // Only the blocks the residual changed in since the last look, and the levels they enter.
  const int64_t first = (std::max(changedFrom_, blocksFrom_) - blocksFrom_) / block;
  const int64_t last = (std::min(changedTo_, last_) - blocksFrom_) / block;
  changedFrom_ = INT64_MAX;
  changedTo_ = INT64_MIN;
  for (int64_t b = first; b <= last; ++b) {
    const int64_t from = blocksFrom_ + b * block;
    double sum = 0.0;
    double peak = 0.0;
    for (int64_t l = from; l < from + block; ++l) {
      sum += residual(l) * residual(l);
      peak = std::max(peak, std::abs(residual(l)));
    }
    s_.blockRms[static_cast<size_t>(b)] = std::sqrt(sum / static_cast<double>(block));
    s_.blockPeak[static_cast<size_t>(b)] = peak;
  }
  // The running sums change only from the first block measured again on.
  s_.blockPower.resize(static_cast<size_t>(blocks) + 1);
  s_.blockPower[0] = 0.0;
  for (auto b = static_cast<size_t>(first); b < static_cast<size_t>(blocks); ++b) {
    s_.blockPower[b + 1] = s_.blockPower[b] + s_.blockRms[b] * s_.blockRms[b];
  }
  s_.blockNear.resize(static_cast<size_t>(blocks));
  const int64_t nearTo = std::min(blocks - 1, last + kCfarBlocksEachSide);
  for (int64_t b = std::max<int64_t>(0, first - kCfarBlocksEachSide); b <= nearTo; ++b) {
    s_.blockNear[static_cast<size_t>(b)] = robustLevel(b, blocks);
  }
  // What the direct arrival's response leaves where the shape does not fit it exactly is no
  // part of the room.
  const int64_t roomFrom =
      (nearestLag(arrivals_[0].lag) + shape_.after() - blocksFrom_) / lobe_ + 1;
  const int64_t levelsTo = std::min(blocks - 1, last + kRoomBlocksEachSide);
  for (int64_t b = std::max<int64_t>(0, first - kRoomBlocksEachSide); b <= levelsTo; ++b) {
    s_.blockLevel[static_cast<size_t>(b)] =
        roomLevel(b, blocks, roomFrom, std::max(s_.blockNear[static_cast<size_t>(b)], floor_));
  }
  guardArrivals();
}

// The RMS of the residual over kRoomBlocksEachSide blocks on either side of block `b`, leaving
// out the block and those next to it and every block before `roomFrom`, from the running sums of
// the blocks' power; `atLeast` where that is lower.
double Search::roomLevel(int64_t b, int64_t blocks, int64_t roomFrom, double atLeast) const {
  const auto sum = [&](int64_t from, int64_t to) {  // blocks from .. to - 1, clipped
    from = std::clamp<int64_t>(from, 0, blocks);
    to = std::clamp<int64_t>(to, from, blocks);
    return std::pair{
        s_.blockPower[static_cast<size_t>(to)] - s_.blockPower[static_cast<size_t>(from)],
        to - from};
  };
  const auto [wide, wideCount] =
      sum(std::max(roomFrom, b - kRoomBlocksEachSide), b + kRoomBlocksEachSide + 1);
  const auto [own, ownCount] =
      sum(std::max(roomFrom, b - kCfarGuardBlocks), b + kCfarGuardBlocks + 1);
  // Compared as powers first: this runs for every block around each change, and the root is
  // taken only where the room's mean is the higher.
  const auto count = static_cast<double>(wideCount - ownCount);
  const double power = wide - own;
  return count > 0.0 && power > atLeast * atLeast * count ? std::sqrt(power / count) : atLeast;
}

// The RMS of the blocks on either side of block `b`, leaving out those next to it, told by their
// median: a few strong reflections among them (or what is left of the candidate's own lobes)
// raise their mean, not their median. A block's power is about exponentially distributed, whose
// median is ln 2 times its mean.
double Search::robustLevel(int64_t b, int64_t blocks) const {
  std::array<double, 2 * kCfarBlocksEachSide> around{};
  size_t n = 0;
  for (int side = -1; side <= 1; side += 2) {
    for (int k = kCfarGuardBlocks + 1; k <= kCfarBlocksEachSide; ++k) {
      const int64_t at = b + side * k;
      if (at < 0 || at >= blocks) continue;
      const double rms = s_.blockRms[static_cast<size_t>(at)];
      around[n++] = rms * rms;
    }
  }
  if (n == 0) return 0.0;
  const auto middle = around.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(around.begin(), middle, around.begin() + static_cast<std::ptrdiff_t>(n));
  return std::sqrt(*middle / std::numbers::ln2);
}

double Search::energyNear(int64_t lag) const {
  double sum = 0.0;
  for (int64_t l = lag - lobe_; l <= lag + lobe_; ++l) sum += residual(l) * residual(l);
  return sum;
}

// The level a lag is judged against: the noise and clutter of its block.
double Search::levelAt(int64_t lag) const {
  const int64_t b = (lag - blocksFrom_) / lobe_;
  return lag < blocksFrom_ || b >= static_cast<int64_t>(s_.blockLevel.size())
             ? floor_
             : s_.blockLevel[static_cast<size_t>(b)];
}

// Near every arrival found so far (the direct one included) a block's level is at least a share
// of that arrival's envelope over the block: no learned shape fits a real arrival exactly, and
// what it leaves is no echo.
void Search::guardArrivals() {
  const auto blocks = static_cast<int64_t>(s_.blockLevel.size());
  for (size_t k = 0; k < count_; ++k) {
    const double share = kMismatch / kCfarFactor * std::abs(arrivals_[k].amplitude);
    const int64_t at = nearestLag(arrivals_[k].lag);
    const int64_t first = std::max<int64_t>(0, (at - shape_.before - blocksFrom_) / lobe_);
    const int64_t last = std::min<int64_t>(blocks - 1, (at + shape_.after() - blocksFrom_) / lobe_);
    for (int64_t b = first; b <= last; ++b) {
      double peak = 0.0;
      for (int64_t l = blocksFrom_ + b * lobe_; l < blocksFrom_ + (b + 1) * lobe_; ++l) {
        const int64_t offset = l - at + shape_.before;
        if (offset >= 0 && offset < static_cast<int64_t>(s_.envelope.size())) {
          peak = std::max(peak, s_.envelope[static_cast<size_t>(offset)]);
        }
      }
      double& level = s_.blockLevel[static_cast<size_t>(b)];
      level = std::max(level, share * peak);
    }
  }
}

// The noise alone: the RMS of the lags before the direct arrival's response begins, where nothing
// of this ping has arrived yet; 0 when the recording holds too few of them.
double Search::noiseBeforeDirect() const {
  const int64_t to =
      static_cast<int64_t>(std::floor(arrivals_[0].lag)) - shape_.before - kInterpTaps;
  if (to - limits_.firstLag + 1 < kNoiseLags) return 0.0;
  double sum = 0.0;
  for (int64_t lag = limits_.firstLag; lag <= to; ++lag) sum += residual(lag) * residual(lag);
  return std::sqrt(sum / static_cast<double>(to - limits_.firstLag + 1));
}

// The noise: the RMS of the quietest blocks.
double Search::quietFloor() {
  measureBlocks();
  if (s_.blockRms.empty()) return 0.0;
  s_.blockLevel.assign(s_.blockRms.begin(), s_.blockRms.end());
  const auto at =
      s_.blockLevel.begin() +
      static_cast<std::ptrdiff_t>(kFloorQuantile * static_cast<double>(s_.blockLevel.size() - 1));
  std::nth_element(s_.blockLevel.begin(), at, s_.blockLevel.end());
  changedFrom_ = blocksFrom_;  // the levels are to be measured again, under the floor
  changedTo_ = last_;
  // A block of one main lobe holds about one independent value of the envelope, whose power is
  // exponentially distributed: its quantile q lies at -ln(1 - q) times the mean.
  return *at / std::sqrt(-std::log(1.0 - kFloorQuantile));
}

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
    if (j != k && std::abs(arrivals_[j].lag - arrivals_[k].lag) < lobe_ &&
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

bool Search::rejected(int64_t lag) const {
  for (int k = 0; k < rejectedCount_; ++k) {
    if (std::abs(lag - rejected_[static_cast<size_t>(k)]) <= lobe_) return true;
  }
  return false;
}

int64_t Search::strongestLag(int64_t from, int64_t to) const {
  int64_t best = -1;
  double bestValue = -1.0;
  for (int64_t lag = from; lag <= to; ++lag) {
    const double v = std::abs(residual(lag));
    if (v > bestValue) {
      bestValue = v;
      best = lag;
    }
  }
  return best;
}

// The lag that stands highest above the level around it, and how high.
std::pair<int64_t, double> Search::candidate() const {
  int64_t best = -1;
  double bestRatio = 0.0;
  // Block by block, each lag held against its block's level: one division per better lag, and
  // a block whose peak cannot beat the best so far is passed over whole.
  const auto measured = static_cast<int64_t>(s_.blockPeak.size());
  for (int64_t from = blocksFrom_; from <= last_; from += lobe_) {
    const double level = levelAt(from);
    if (level <= 0.0) continue;
    const int64_t b = (from - blocksFrom_) / lobe_;
    if (b < measured && s_.blockPeak[static_cast<size_t>(b)] <= bestRatio * level) continue;
    const int64_t to = std::min(last_, from + lobe_ - 1);
    for (int64_t lag = from; lag <= to; ++lag) {
      const double v = std::abs(residual(lag));
      if (v > bestRatio * level && !rejected(lag)) {  // the rejected ones are checked rarely
        bestRatio = v / level;
        best = lag;
      }
    }
  }
  return {best, bestRatio};
}

// What arrives within a centimetre or two of the direct arrival belongs to it: a bounce off the
// desk the device stands on, sound through its case. Each such part is fitted and subtracted (and
// never reported) while its lags still hold a fair share of the direct arrival.
void Search::fitDirectCluster(double peak) {
  for (int part = 1; part < kDirectParts && count_ < arrivals_.size() && limits_.directSpread > 0;
       ++part) {
    const auto centre = static_cast<int64_t>(std::llround(arrivals_[0].lag));
    const int64_t at = strongestLag(std::max(limits_.firstLag, centre - limits_.directSpread),
                                    std::min(last_, centre + limits_.directSpread));
    if (at < 0 ||
        std::abs(residual(at)) < kDirectPartShare * std::abs(arrivals_[0].amplitude) * peak) {
      return;
    }
    const FoundArrival found =
        fit(arrivals_[0].lag, limits_.directSpread, 0.0, limits_.directSpread);
    partOfDirect_[count_] = true;
    arrivals_[count_] = found;
    add(arrivals_[count_], -1.0);
    ++count_;
    refitNear(count_ - 1);
  }
}

// Arrivals close to each other bias each other's fits: each one near the arrival `index` is
// fitted again against the residual of all the others. An echo keeps the carrier cycle it was
// found on (see bestCycle): the envelope that would pick another is the one a neighbour bends.
void Search::refitNear(size_t index) {
  // Beyond a few main lobes the side lobes of one arrival barely move the fit of another.
  const double reachOfShape = kRefitLobes * lobe_;
  for (int pass = 0; pass < kRefitPasses; ++pass) {
    for (size_t k = 0; k < count_; ++k) {
      if (std::abs(arrivals_[k].lag - arrivals_[index].lag) > reachOfShape) continue;
      add(arrivals_[k], 1.0);
      arrivals_[k] =
          partOfDirect_[k] ? fit(arrivals_[0].lag, limits_.directSpread, 0.0, limits_.directSpread)
          : k == 0         ? fitDirectAgain()
                   : fit(arrivals_[k].lag, std::max(2, lobe_ / 2), echoSign(), 0.5 * period_);
      add(arrivals_[k], -1.0);
    }
  }
}

// What a found arrival and the strongest other one near it leave of the residual between `from`
// and `to`: how well the two explain it; infinity where the other is the stronger (a faint copy a
// cycle off the true arrival explains it as well as that arrival, beside it). The residual is as
// before afterwards.
double Search::leftWithNeighbour(const FoundArrival& found, int64_t from, int64_t to) {
  add(found, -1.0);
  const int64_t at = strongestLag(from, to);
  const FoundArrival other = fit(static_cast<double>(at), std::max(2, lobe_ / 2), echoSign());
  add(other, -1.0);
  double left = 0.0;
  for (int64_t l = from; l <= to; ++l) left += residual(l) * residual(l);
  add(other, 1.0);
  add(found, 1.0);
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
  if (std::abs(found.amplitude) * peakOf(shape_) * kCycleAmplitudeSpread <=
      std::max(kCfarFactor * levelAt(at), kNoiseFactor * noise_)) {
    return found;
  }
  const int64_t from = std::max(blocksFrom_, at - kCycleReachLobes * lobe_);
  const int64_t to = std::min(last_, at + kCycleReachLobes * lobe_);
  const double envelopes = leftWithNeighbour(found, from, to);
  if (!std::isfinite(envelopes)) return found;
  FoundArrival best = found;
  double bestLeft = kCycleGain * envelopes;
  for (int side = -1; side <= 1; side += 2) {
    const FoundArrival other =
        fit(found.lag + side * period_, 1, echoSign(), kCycleWithin * period_);
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
bool Search::stands(const FoundArrival& echo, double peak) {
  const int64_t at = std::llround(echo.lag);
  const double before = energyNear(at);
  add(echo, -1.0);
  measureBlocks();
  const double level = levelAt(at);
  const double left = energyNear(at);
  add(echo, 1.0);
  const double threshold = std::max(kCfarFactor * level, kNoiseFactor * noise_);
  return std::abs(echo.amplitude) * peak > threshold && left <= kUnexplained * before;
}

EchoSearchResult Search::run() {
  EchoSearchResult result;
  if (energy_ <= 0.0 || last_ < limits_.firstLag) return result;
  const double peak = peakOf(shape_);
  const int64_t directFrom = std::max(limits_.firstLag, limits_.directFrom);
  const int64_t directTo = std::min(last_, limits_.directTo);
  if (directFrom > directTo) return result;
  if (std::isfinite(limits_.directWithin)) {
    const int reach = static_cast<int>(std::ceil(limits_.directWithin));
    arrivals_[count_++] = fit(0.0, reach, 1.0, limits_.directWithin);
  } else {
    const int64_t directPeak = strongestLag(directFrom, directTo);
    arrivals_[count_++] = fit(static_cast<double>(directPeak), lobe_, 0.0);
  }
  result.direct = arrivals_[0];
  add(arrivals_[0], -1.0);
  fitDirectCluster(peak);

  blocksFrom_ = static_cast<int64_t>(std::ceil(arrivals_[0].lag)) + lobe_;
  if (blocksFrom_ >= last_) return result;
  floor_ = quietFloor();
  noise_ = noiseBeforeDirect();
  if (noise_ <= 0.0) noise_ = floor_;
  noise_ = std::max(noise_, limits_.leastNoise);
  if (std::abs(result.direct.amplitude) * peak < limits_.directOverNoise * noise_) return {};

  while (count_ < arrivals_.size() && reportable() < kMaxSearchEchoes &&
         rejectedCount_ < kMaxRejected) {
    measureBlocks();
    const auto [lag, ratio] = candidate();
    if (lag < 0 || ratio <= kCandidateFactor) break;
    const FoundArrival echo =
        bestCycle(fit(static_cast<double>(lag), std::max(2, lobe_ / 2), echoSign()));
    if (!stands(echo, peak)) {
      rejected_[static_cast<size_t>(rejectedCount_++)] = lag;
      continue;
    }
    add(echo, -1.0);
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
  result.mainLobe = lobe_;
  return result;
}

}  // namespace

void reserveEchoSearch(EchoSearchScratch& scratch, size_t signalLags, size_t shapeLags) {
  scratch.envelope.reserve(shapeLags);
  scratch.shapeTable.reserve((shapeLags + 2 * kInterpTaps + 4) * kPhases);
  scratch.residual.reserve(signalLags);
  scratch.matched.reserve(4 * static_cast<size_t>(kInterpTaps) + 4096);
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
