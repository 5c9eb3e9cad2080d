#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/correlation.h"
#include "engine/sonar_settings.h"

// The change view: each column shows how far every range bin stands from a running estimate of
// the still room, so that walls and furniture fade and what moves stands out. The estimate is the
// mean of the columns of the last `timeConstantSeconds`, each weighted by the time it stands for,
// so that a still echo is gone from the picture once one time constant has passed (an
// exponential mean would keep 37 % of it then, more than a breathing echo's change at its least).
// The time before the first column counts as an empty room: the room fades out over the time
// constant rather than vanishing at the first ping. Only the drawing changes: the history keeps
// the raw columns. Allocates nothing after it is made.
//
// The last time constant is kept as kChangeBlocks blocks of summed columns plus the one being
// filled, and the oldest block counts in proportion to its share still inside the time constant:
// exact for a still room, and memory that does not grow with the time constant or the ping rate.
// The price of forgetting that fast: a motion whose period is twice the time constant or less is
// partly taken into the still room too (a breath takes about 4 s; the default is 5 s).
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

constexpr size_t kChangeLags = 16384;  // lags after the direct sound compared by phase
constexpr size_t kChangeBlocks = 8;    // blocks of the time constant
// One block's values: the bins' strengths, then the lags' real and imaginary parts.
constexpr size_t kChangeWidth = kEnvelopeBins + 2 * kChangeLags;

struct ChangeView {
  ChangeView();

  bool on = false;  // draw the changes instead of the raw columns
  double timeConstantSeconds = kDefaultChangeSeconds;
  std::array<int32_t, kEnvelopeBins> column{};  // the latest column's change

  // The view's own clock: the back end's, with pauses cut to what the blocks can hold.
  bool started = false;
  double lastSeconds = 0.0;
  double clock = 0.0;
  double blockSeconds = 0.0;  // the time constant the blocks were made for, over kChangeBlocks
  int64_t newestBlock = 0;    // the block index the clock is in
  double oldestShare = 0.0;   // of the oldest block, still inside the time constant
  // kChangeBlocks + 1 blocks of time-weighted sums, a ring indexed by block index, and their sum.
  std::vector<double> blocks, total;

  // The live view's working buffers.
  std::vector<double> raw, quadrature;
  uint32_t gridOffset = 0;  // the direct sound's lag the estimate was made on
  bool lagsStarted = false;
};

// Forgets the still room: the next column starts it again.
void restartChangeView(ChangeView& view);

// Learns one column of bin values (kEnvelopeBins or fewer; the rest read as 0) taken at
// `seconds` on the back end's clock, and leaves its change in view.column: |value - still|, the
// still room including this column. A new time constant starts the still room again.
void observeChangeColumn(ChangeView& view, std::span<const int32_t> values, double seconds);

// The same for the measurement the settings' buffers hold (its correlation sums, and the envelope
// in front of correlationBuffer for bins beyond kChangeLags), by phase. `direct` is the offset
// finder's result; without it the bins' strengths are compared.
void observeChangeMeasurement(ChangeView& view, const SonarSettings& settings, DirectArrival direct,
                              double seconds);
