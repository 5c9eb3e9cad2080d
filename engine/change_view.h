#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "engine/sonar_settings.h"

// The change view: each column shows how far every range bin stands from a running estimate of
// the still room, so that walls and furniture fade and what moves stands out. The estimate is an
// exponential mean per bin over time: a still echo falls to 1/e of its strength after
// `timeConstantSeconds` and to 5 % after three of them. It starts empty, so the room fades out
// rather than vanishing at the first ping. Only the drawing changes: the history keeps the raw
// columns. Allocates nothing.

constexpr double kDefaultChangeSeconds = 5.0;
constexpr double kMinChangeSeconds = 0.1;
constexpr double kMaxChangeSeconds = 3600.0;

struct ChangeView {
  bool on = false;  // draw the changes instead of the raw columns
  double timeConstantSeconds = kDefaultChangeSeconds;
  std::array<double, kEnvelopeBins> still{};    // the still room per bin
  std::array<int32_t, kEnvelopeBins> column{};  // the latest column's change
  bool started = false;
  double lastSeconds = 0.0;
};

// Forgets the still room: the next column starts it again.
void restartChangeView(ChangeView& view);

// Learns one column of bin values (kEnvelopeBins or fewer; the rest read as 0) taken at
// `seconds` on the back end's clock, and leaves its change in view.column: |value - still|, the
// still room including this column.
void observeChangeColumn(ChangeView& view, std::span<const int32_t> values, double seconds);
