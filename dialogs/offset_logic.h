#pragma once
#include <cstdint>

#include "app/program.h"
#include "app/shell.h"

// The latency offset, its tolerance and the ping interval, as the offset dialog edits them.

struct OffsetControls {
  uint32_t offsetBytes = 0;
  uint32_t deltaOffsetBytes = 0;
  uint32_t clockMultiplier = 0;  // 25 ms ticks
};

OffsetControls offsetControlsFor(const SonarSettings& settings);

// Stores the three values; an entry outside its range is replaced silently: delta offset 1000
// (0, above 32000 or above the current inBufferBytes), offset 600 (0 or above 32000), clock
// interval 10 (0 or above 100).
void readOffsetControls(SonarSettings& settings, const OffsetControls& controls);

// OK: store, re-plan (defaults when that fails) and prepare the devices. No ping.
void commitOffset(Program& program, Shell& shell, const OffsetControls& controls);
