#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "app/application.h"

// The "Search offset" command: reset to defaults, ten pings with a short chirp, the average of
// the found offsets of the last nine stored as offsetBytes (reduced by a tenth when the echo was
// strong enough).

constexpr uint32_t kOffsetSearchRuns = 10;
constexpr uint32_t kOffsetSearchRecordTimeMs = 120;
constexpr uint32_t kOffsetSearchChirpTimeUs = 2000;
constexpr uint32_t kOffsetSearchStartOffsetBytes = 10;
constexpr uint32_t kOffsetSearchDeltaOffsetBytes = 2000;
constexpr uint32_t kStrongAmplitude = 1000000;

using OffsetRuns = std::array<uint32_t, kOffsetSearchRuns>;

// The first run settles the devices and is dropped; the other nine are averaged (unsigned 32-bit
// sum, integer division).
uint32_t averageOffsetRuns(const OffsetRuns& foundOffsets);

// What the command makes of the searched offset and the last run's amplitude.
struct OffsetSearchOutcome {
  uint32_t result = 0;  // the averaged offset [bytes]
  uint32_t peakAmplitude = 0;
  bool strong = false;        // the amplitude reached kStrongAmplitude
  uint32_t storedOffset = 0;  // offsetBytes afterwards: reduced by a tenth when strong
  std::string message;        // the text shown under "Search offset"
  bool deviceFailed = false;  // a device failure ended the search (it was reported as it came)
};
OffsetSearchOutcome judgeOffsetSearch(uint32_t result, uint32_t peakAmplitude);

// The measurement part: leaves the result in offsetBytes and returns it. The first device
// failure is reported under "WaveOut Error" (or the reset's own caption) and ends the search with
// offsetBytes as it was before: nothing is returned.
std::optional<uint32_t> searchOffset(App& app);

// The whole "Search offset" command, messages included.
OffsetSearchOutcome searchOffsetCommand(App& app);
