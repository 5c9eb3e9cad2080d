#include "dialogs/offset_logic.h"

#include "dialogs/device_steps.h"

namespace {

constexpr uint32_t kMaxOffsetBytes = 32000;
constexpr uint32_t kMaxClockMultiplier = 100;
constexpr uint32_t kFallbackDeltaOffset = 1000;    // [bytes]
constexpr uint32_t kFallbackClockMultiplier = 10;  // [25 ms ticks]

}  // namespace

OffsetControls offsetControlsFor(const SonarSettings& s) {
  return {s.offsetBytes, s.deltaOffsetBytes, s.clockMultiplier};
}

void readOffsetControls(SonarSettings& s, const OffsetControls& c) {
  // The delta is checked against the recording the current plan makes, before OK re-plans.
  const uint32_t delta = c.deltaOffsetBytes;
  s.deltaOffsetBytes = (delta == 0 || delta > kMaxOffsetBytes || delta > s.inBufferBytes)
                           ? kFallbackDeltaOffset
                           : delta;
  const uint32_t offset = c.offsetBytes;
  s.offsetBytes = (offset == 0 || offset > kMaxOffsetBytes) ? kDefaultOffset : offset;
  const uint32_t clock = c.clockMultiplier;
  s.clockMultiplier =
      (clock == 0 || clock > kMaxClockMultiplier) ? kFallbackClockMultiplier : clock;
}

void commitOffset(Program& program, Shell& shell, const OffsetControls& controls) {
  readOffsetControls(program.settings, controls);
  replanOrReset(program, shell);
  reportWaveError(program, shell, openPlannedPair(program), kCaptionWaveOut);
}
