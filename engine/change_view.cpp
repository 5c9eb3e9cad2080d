#include "engine/change_view.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/sound_path.h"

namespace {

constexpr int kMargin = 40;  // lags the quadrature reads beyond those it gives (31 taps)

// The share of the new column in the still room's estimate.
double learningShare(ChangeView& view, double seconds) {
  const double tau = std::clamp(view.timeConstantSeconds, kMinChangeSeconds, kMaxChangeSeconds);
  // A clock that stands still or runs back (a new back end) counts as one short step.
  const double dt = view.started && seconds > view.lastSeconds ? seconds - view.lastSeconds : 0.0;
  const double share =
      view.started ? 1.0 - std::exp(-std::max(dt, 1e-3) / tau) : 1.0 - std::exp(-0.1 / tau);
  view.started = true;
  view.lastSeconds = seconds;
  return share;
}

void learnStrengths(ChangeView& view, std::span<const int32_t> values, double share) {
  for (size_t i = 0; i < kEnvelopeBins; ++i) {
    const double v = i < values.size() ? static_cast<double>(values[i]) : 0.0;
    view.still[i] += share * (v - view.still[i]);
    view.column[i] = static_cast<int32_t>(std::min(std::abs(v - view.still[i]), 2.0e9));
  }
}

}  // namespace

ChangeView::ChangeView()
    : stillRe(kChangeLags, 0.0),
      stillIm(kChangeLags, 0.0),
      raw(kChangeLags + 2 * kMargin, 0.0),
      quadrature(kChangeLags, 0.0) {}

void restartChangeView(ChangeView& view) {
  view.still.fill(0.0);
  view.column.fill(0);
  view.started = false;
  view.lagsStarted = false;
}

void observeChangeColumn(ChangeView& view, std::span<const int32_t> values, double seconds) {
  learnStrengths(view, values, learningShare(view, seconds));
}

void observeChangeMeasurement(ChangeView& view, const SonarSettings& s, DirectArrival direct,
                              double seconds) {
  const size_t bins = std::min<size_t>(kEnvelopeBins, s.correlationBuffer.size());
  const double share = learningShare(view, seconds);
  // Bins beyond the lags compared by phase keep the strengths' change.
  learnStrengths(view, std::span<const int32_t>(s.correlationBuffer.data(), bins), share);
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
    std::fill(view.stillRe.begin(), view.stillRe.end(), 0.0);
    std::fill(view.stillIm.begin(), view.stillIm.end(), 0.0);
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
  for (size_t k = 0; k < bins; ++k) {
    const uint64_t from = k * width;
    const uint64_t to = from + width + 1;
    if (to > lagCount) break;
    double most = 0.0;
    for (uint64_t i = from; i < to; ++i) {
      // Neighbouring bins share their edge lag: it learns once.
      const double re = view.raw[i + kMargin], im = view.quadrature[i];
      if (i + 1 < to || k + 1 == bins) {
        view.stillRe[i] += share * (re - view.stillRe[i]);
        view.stillIm[i] += share * (im - view.stillIm[i]);
      }
      most = std::max(most, std::hypot(re - view.stillRe[i], im - view.stillIm[i]));
    }
    view.column[k] = static_cast<int32_t>(std::min(most * scale, 2.0e9));
  }
}
