#include "engine/echo_threshold.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "engine/fractional_delay.h"

namespace {

constexpr int64_t kNoiseLags = 32;       // lags before the direct arrival that tell the noise
constexpr double kFloorQuantile = 0.25;  // the quietest blocks tell the noise
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

}  // namespace

void ClutterLevels::start(int64_t blocksFrom, std::span<const FoundArrival> arrivals) {
  blocksFrom_ = blocksFrom;
  floor_ = quietFloor(arrivals);
  noise_ = noiseBeforeDirect(arrivals[0]);
  if (noise_ <= 0.0) noise_ = floor_;
  noise_ = std::max(noise_, limits_.leastNoise);
}

// Each block's RMS and peak, and its level: the RMS of the blocks on either side, leaving out the
// blocks next to it, never below the floor.
void ClutterLevels::measure(std::span<const FoundArrival> arrivals) {
  const int64_t block = model_.lobe();
  const int64_t lastLag = model_.lastLag();
  const auto blocks = std::min<int64_t>((lastLag - blocksFrom_) / block + 1,
                                        static_cast<int64_t>(s_.blockRms.capacity()));
  const auto [changedFrom, changedTo] = model_.changed();
  if (changedFrom > changedTo || changedTo < blocksFrom_ || changedFrom > lastLag || blocks <= 0) {
    guardArrivals(arrivals);
    return;
  }
  s_.blockRms.resize(static_cast<size_t>(blocks));
  s_.blockPeak.resize(static_cast<size_t>(blocks));
  s_.blockLevel.resize(static_cast<size_t>(blocks));
  // Only the blocks the residual changed in since the last look, and the levels they enter.
  const int64_t first = (std::max(changedFrom, blocksFrom_) - blocksFrom_) / block;
  const int64_t last = (std::min(changedTo, lastLag) - blocksFrom_) / block;
  model_.clearChanged();
  for (int64_t b = first; b <= last; ++b) {
    const int64_t from = blocksFrom_ + b * block;
    double sum = 0.0;
    double peak = 0.0;
    for (int64_t l = from; l < from + block; ++l) {
      const double r = model_.residual(l);
      sum += r * r;
      peak = std::max(peak, std::abs(r));
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
      (nearestLag(arrivals[0].lag) + model_.shape().after() - blocksFrom_) / block + 1;
  const int64_t levelsTo = std::min(blocks - 1, last + kRoomBlocksEachSide);
  for (int64_t b = std::max<int64_t>(0, first - kRoomBlocksEachSide); b <= levelsTo; ++b) {
    s_.blockLevel[static_cast<size_t>(b)] =
        roomLevel(b, blocks, roomFrom, std::max(s_.blockNear[static_cast<size_t>(b)], floor_));
  }
  guardArrivals(arrivals);
}

// The RMS of the residual over kRoomBlocksEachSide blocks on either side of block `b`, leaving
// out the block and those next to it and every block before `roomFrom`, from the running sums of
// the blocks' power; `atLeast` where that is lower.
double ClutterLevels::roomLevel(int64_t b, int64_t blocks, int64_t roomFrom, double atLeast) const {
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
double ClutterLevels::robustLevel(int64_t b, int64_t blocks) const {
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

double ClutterLevels::levelAt(int64_t lag) const {
  const int64_t b = (lag - blocksFrom_) / model_.lobe();
  return lag < blocksFrom_ || b >= static_cast<int64_t>(s_.blockLevel.size())
             ? floor_
             : s_.blockLevel[static_cast<size_t>(b)];
}

// No learned shape fits a real arrival exactly, and what it leaves is no echo.
void ClutterLevels::guardArrivals(std::span<const FoundArrival> arrivals) {
  const auto blocks = static_cast<int64_t>(s_.blockLevel.size());
  const int64_t lobe = model_.lobe();
  const ArrivalShape& shape = model_.shape();
  for (const FoundArrival& a : arrivals) {
    const double share = kMismatch / kCfarFactor * std::abs(a.amplitude);
    const int64_t at = nearestLag(a.lag);
    const int64_t first = std::max<int64_t>(0, (at - shape.before - blocksFrom_) / lobe);
    const int64_t last = std::min<int64_t>(blocks - 1, (at + shape.after() - blocksFrom_) / lobe);
    for (int64_t b = first; b <= last; ++b) {
      double peak = 0.0;
      for (int64_t l = blocksFrom_ + b * lobe; l < blocksFrom_ + (b + 1) * lobe; ++l) {
        peak = std::max(peak, model_.envelopeAt(l - at + shape.before));
      }
      double& level = s_.blockLevel[static_cast<size_t>(b)];
      level = std::max(level, share * peak);
    }
  }
}

// The noise alone: the RMS of the lags before the direct arrival's response begins, where nothing
// of this ping has arrived yet; 0 when the recording holds too few of them.
double ClutterLevels::noiseBeforeDirect(const FoundArrival& direct) const {
  const int64_t firstLag = model_.firstLag();
  const int64_t to =
      static_cast<int64_t>(std::floor(direct.lag)) - model_.shape().before - kInterpTaps;
  if (to - firstLag + 1 < kNoiseLags) return 0.0;
  return std::sqrt(model_.energyBetween(firstLag, to) / static_cast<double>(to - firstLag + 1));
}

// The noise: the RMS of the quietest blocks.
double ClutterLevels::quietFloor(std::span<const FoundArrival> arrivals) {
  measure(arrivals);
  if (s_.blockRms.empty()) return 0.0;
  s_.blockLevel.assign(s_.blockRms.begin(), s_.blockRms.end());
  const auto at =
      s_.blockLevel.begin() +
      static_cast<std::ptrdiff_t>(kFloorQuantile * static_cast<double>(s_.blockLevel.size() - 1));
  std::nth_element(s_.blockLevel.begin(), at, s_.blockLevel.end());
  // The levels are to be measured again, under the floor.
  model_.markChanged(blocksFrom_, model_.lastLag());
  // A block of one main lobe holds about one independent value of the envelope, whose power is
  // exponentially distributed: its quantile q lies at -ln(1 - q) times the mean.
  return *at / std::sqrt(-std::log(1.0 - kFloorQuantile));
}

std::pair<int64_t, double> ClutterLevels::candidate(std::span<const int64_t> rejected) const {
  const int64_t lobe = model_.lobe();
  const auto passedOver = [&](int64_t lag) {
    return std::any_of(rejected.begin(), rejected.end(),
                       [&](int64_t r) { return std::abs(lag - r) <= lobe; });
  };
  int64_t best = -1;
  double bestRatio = 0.0;
  // Block by block, each lag held against its block's level: one division per better lag, and
  // a block whose peak cannot beat the best so far is passed over whole.
  const auto measured = static_cast<int64_t>(s_.blockPeak.size());
  const int64_t lastLag = model_.lastLag();
  for (int64_t from = blocksFrom_; from <= lastLag; from += lobe) {
    const double level = levelAt(from);
    if (level <= 0.0) continue;
    const int64_t b = (from - blocksFrom_) / lobe;
    if (b < measured && s_.blockPeak[static_cast<size_t>(b)] <= bestRatio * level) continue;
    const int64_t to = std::min(lastLag, from + lobe - 1);
    for (int64_t lag = from; lag <= to; ++lag) {
      const double v = std::abs(model_.residual(lag));
      if (v > bestRatio * level && !passedOver(lag)) {  // the rejected ones are checked rarely
        bestRatio = v / level;
        best = lag;
      }
    }
  }
  return {best, bestRatio};
}
