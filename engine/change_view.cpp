#include "engine/change_view.h"

#include <algorithm>
#include <cmath>

void restartChangeView(ChangeView& view) {
  view.still.fill(0.0);
  view.column.fill(0);
  view.started = false;
}

void observeChangeColumn(ChangeView& view, std::span<const int32_t> values, double seconds) {
  const double tau = std::clamp(view.timeConstantSeconds, kMinChangeSeconds, kMaxChangeSeconds);
  // A clock that stands still or runs back (a new back end) counts as one short step.
  const double dt = view.started && seconds > view.lastSeconds ? seconds - view.lastSeconds : 0.0;
  const double share =
      view.started ? 1.0 - std::exp(-std::max(dt, 1e-3) / tau) : 1.0 - std::exp(-0.1 / tau);
  view.started = true;
  view.lastSeconds = seconds;
  for (size_t i = 0; i < kEnvelopeBins; ++i) {
    const double v = i < values.size() ? static_cast<double>(values[i]) : 0.0;
    view.still[i] += share * (v - view.still[i]);
    view.column[i] = static_cast<int32_t>(std::min(std::abs(v - view.still[i]), 2.0e9));
  }
}
