#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/correlation.h"
#include "engine/sonar_settings.h"

// The change view: each column shows how far every range bin stands from a running estimate of
// the still room, so that walls and furniture fade and what moves stands out. The estimate is an
// exponential mean per bin over time: a still echo falls to 1/e of its strength after
// `timeConstantSeconds` and to 5 % after three of them. It starts empty, so the room fades out
// rather than vanishing at the first ping. Only the drawing changes: the history keeps the raw
// columns. Allocates nothing.
//
// Live, the still room is estimated lag by lag on the analytic correlation (the sums plus j
// times their quadrature), not on the bins' strengths: a breathing chest moves its echo by
// millimetres, which turns the carrier's phase by tens of degrees but leaves its strength as it
// was. This needs the recording's lags to stay put from ping to ping: when the direct sound is
// found at another lag, the still room is learned afresh. A stored history has only strengths,
// so a replot compares those.

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

  // The live view's still room per lag after the direct sound, and its working buffers.
  ChangeView();
  std::vector<double> stillRe, stillIm;
  std::vector<double> raw, quadrature;
  uint32_t gridOffset = 0;  // the direct sound's lag the estimate was made on
  bool lagsStarted = false;
};

constexpr size_t kChangeLags = 16384;  // lags after the direct sound compared by phase

// Forgets the still room: the next column starts it again.
void restartChangeView(ChangeView& view);

// Learns one column of bin values (kEnvelopeBins or fewer; the rest read as 0) taken at
// `seconds` on the back end's clock, and leaves its change in view.column: |value - still|, the
// still room including this column.
void observeChangeColumn(ChangeView& view, std::span<const int32_t> values, double seconds);

// The same for the measurement the settings' buffers hold (its correlation sums, and the envelope
// in front of correlationBuffer for bins beyond kChangeLags), by phase. `direct` is the offset
// finder's result; without it the bins' strengths are compared.
void observeChangeMeasurement(ChangeView& view, const SonarSettings& settings, DirectArrival direct,
                              double seconds);
