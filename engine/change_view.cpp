#include "engine/change_view.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/sound_path.h"

namespace {

constexpr int kMargin = 40;  // lags the quadrature reads beyond those it gives (31 taps)
constexpr size_t kRing = kChangeBlocks + 1;
constexpr size_t kRe = kEnvelopeBins;  // where the lags' real parts start in a block
constexpr size_t kIm = kEnvelopeBins + kChangeLags;
// What the first column stands for: the time before it counts as an empty room.
constexpr double kFirstStepSeconds = 0.1;

double* blockAt(ChangeView& view, int64_t index) {
  const auto ring = static_cast<int64_t>(kRing);
  const auto slot = static_cast<size_t>(((index % ring) + ring) % ring);
  return view.blocks.data() + slot * kChangeWidth;
}

void forgetValues(ChangeView& view, size_t from, size_t to) {
  for (size_t b = 0; b < kRing; ++b) {
    auto first = view.blocks.begin() + static_cast<std::ptrdiff_t>(b * kChangeWidth);
    std::fill(first + static_cast<std::ptrdiff_t>(from), first + static_cast<std::ptrdiff_t>(to),
              0.0);
  }
  std::fill(view.total.begin() + static_cast<std::ptrdiff_t>(from),
            view.total.begin() + static_cast<std::ptrdiff_t>(to), 0.0);
}

// The total afresh from the blocks, so that no rounding piles up from block to block.
void sumBlocks(ChangeView& view) {
  std::copy_n(view.blocks.begin(), kChangeWidth, view.total.begin());
  for (size_t b = 1; b < kRing; ++b) {
    const double* block = view.blocks.data() + b * kChangeWidth;
    for (size_t i = 0; i < kChangeWidth; ++i) view.total[i] += block[i];
  }
}

// Moves the view's clock to `seconds` and returns the time the new column stands for.
double advanceClock(ChangeView& view, double seconds) {
  const double tau = std::clamp(view.timeConstantSeconds, kMinChangeSeconds, kMaxChangeSeconds);
  const double blockSeconds = tau / static_cast<double>(kChangeBlocks);
  double step = std::min(kFirstStepSeconds, tau);
  if (!view.started || blockSeconds != view.blockSeconds) {
    forgetValues(view, 0, kChangeWidth);
    view.blockSeconds = blockSeconds;
    view.clock = 0.0;
    view.newestBlock = 0;
    view.started = true;
  } else {
    // A clock that stands still or runs back (a new back end) counts as one short step; after a
    // pause longer than the time constant nothing of the room before it is left.
    step = seconds > view.lastSeconds ? seconds - view.lastSeconds : 1e-3;
    step = std::min(step, tau + blockSeconds);
  }
  view.lastSeconds = seconds;
  view.clock += step;
  const auto now = static_cast<int64_t>(std::floor(view.clock / blockSeconds));
  if (now != view.newestBlock) {
    // Each block entered takes the place of one that left the time constant.
    for (int64_t b = view.newestBlock + 1;
         b <= now && b <= view.newestBlock + static_cast<int64_t>(kRing); ++b) {
      std::fill_n(blockAt(view, b), kChangeWidth, 0.0);
    }
    view.newestBlock = now;
    sumBlocks(view);
  }
  view.oldestShare = std::clamp(
      (static_cast<double>(now + 1) * blockSeconds - view.clock) / blockSeconds, 0.0, 1.0);
  return std::min(step, tau);
}

// Adds a column that stands for the last `weight` seconds of the clock to values from .. to - 1,
// split over the blocks that time falls in.
template <typename Value>
void addColumn(ChangeView& view, double weight, size_t from, size_t to, Value value) {
  double end = view.clock, left = weight;
  for (int64_t b = view.newestBlock;
       left > 0.0 && b > view.newestBlock - static_cast<int64_t>(kRing); --b) {
    const double begin = static_cast<double>(b) * view.blockSeconds;
    const double part = std::min(left, end - begin);
    if (part > 0.0) {
      double* block = blockAt(view, b);
      for (size_t i = from; i < to; ++i) {
        const double v = part * value(i);
        block[i] += v;
        view.total[i] += v;
      }
    }
    left -= part;
    end = begin;
  }
}

// The still room, value by value: the mean over the last time constant.
struct StillRoom {
  explicit StillRoom(ChangeView& view)
      : total(view.total.data()),
        oldest(blockAt(view, view.newestBlock - static_cast<int64_t>(kChangeBlocks))),
        leftOut(1.0 - view.oldestShare),
        perSecond(1.0 / (view.blockSeconds * static_cast<double>(kChangeBlocks))) {}
  double operator()(size_t i) const { return (total[i] - leftOut * oldest[i]) * perSecond; }

  const double* total;
  const double* oldest;
  double leftOut, perSecond;
};

void learnStrengths(ChangeView& view, std::span<const int32_t> values, double weight) {
  auto value = [&](size_t i) { return i < values.size() ? static_cast<double>(values[i]) : 0.0; };
  addColumn(view, weight, 0, kEnvelopeBins, value);
  const StillRoom still(view);
  for (size_t i = 0; i < kEnvelopeBins; ++i) {
    view.column[i] = static_cast<int32_t>(std::min(std::abs(value(i) - still(i)), 2.0e9));
  }
}

}  // namespace

ChangeView::ChangeView()
    : blocks(kRing * kChangeWidth, 0.0),
      total(kChangeWidth, 0.0),
      raw(kChangeLags + 2 * kMargin, 0.0),
      quadrature(kChangeLags, 0.0) {}

void restartChangeView(ChangeView& view) {
  view.column.fill(0);
  view.started = false;
  view.lagsStarted = false;
}

void observeChangeColumn(ChangeView& view, std::span<const int32_t> values, double seconds) {
  learnStrengths(view, values, advanceClock(view, seconds));
}

void observeChangeMeasurement(ChangeView& view, const SonarSettings& s, DirectArrival direct,
                              double seconds) {
  const size_t bins = std::min<size_t>(kEnvelopeBins, s.correlationBuffer.size());
  const double weight = advanceClock(view, seconds);
  // Bins beyond the lags compared by phase keep the strengths' change.
  learnStrengths(view, std::span<const int32_t>(s.correlationBuffer.data(), bins), weight);
  // The bins as the offset finder made them: `width` + 1 lags each from the direct sound on.
  const bool wide = isSixteenBit(s.waveFormat);
  const int64_t start = wide ? s.offsetBytes / 2 : s.offsetBytes;
  const int64_t last = wide ? (static_cast<int64_t>(s.inBufferBytes) - s.outBufferBytes) / 2
                            : static_cast<int64_t>(s.inBufferBytes);
  const auto sums = std::span<const int64_t>(s.correlationSums);
  if (!direct.found || last < start || sums.empty()) return;
  const auto width = static_cast<uint64_t>(static_cast<double>(last - start) *
                                           (1.0 / static_cast<double>(kEnvelopeBins)));
  const auto lagCount =
      static_cast<size_t>(std::min<uint64_t>(kChangeLags, kEnvelopeBins * width + 1));
  if (!view.lagsStarted || view.gridOffset != direct.offset) {
    forgetValues(view, kRe, kChangeWidth);
    view.gridOffset = direct.offset;
    view.lagsStarted = true;
  }
  // The bins' scale: the correlation's best lag reads as the amplification.
  const auto sumsEnd = static_cast<int64_t>(sums.size());
  uint64_t peak = 1;
  for (int64_t l = std::max<int64_t>(start, 0); l <= last && l < sumsEnd; ++l) {
    peak =
        std::max<uint64_t>(peak, static_cast<uint64_t>(std::llabs(sums[static_cast<size_t>(l)])));
  }
  const double scale = static_cast<double>(s.amplification) / static_cast<double>(peak);
  const size_t total = lagCount + 2 * kMargin;
  for (size_t i = 0; i < total; ++i) {
    const int64_t lag = static_cast<int64_t>(direct.offset) - kMargin + static_cast<int64_t>(i);
    view.raw[i] = lag >= start && lag >= 0 && lag < sumsEnd
                      ? static_cast<double>(sums[static_cast<size_t>(lag)])
                      : 0.0;
  }
  quadratureOf(std::span<const double>(view.raw.data(), total),
               std::span<double>(view.quadrature.data(), lagCount), -kMargin);
  addColumn(view, weight, kRe, kRe + lagCount,
            [&](size_t i) { return view.raw[i - kRe + kMargin]; });
  addColumn(view, weight, kIm, kIm + lagCount, [&](size_t i) { return view.quadrature[i - kIm]; });
  const StillRoom still(view);
  for (size_t k = 0; k < bins; ++k) {
    const uint64_t from = k * width;
    const uint64_t to = from + width + 1;
    if (to > lagCount) break;
    double most = 0.0;
    for (uint64_t i = from; i < to; ++i) {
      const double re = view.raw[i + kMargin] - still(kRe + i);
      const double im = view.quadrature[i] - still(kIm + i);
      most = std::max(most, re * re + im * im);
    }
    view.column[k] = static_cast<int32_t>(std::min(std::sqrt(most) * scale, 2.0e9));
  }
}
