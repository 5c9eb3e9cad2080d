#include "dialogs/scale_logic.h"

#include "app/header_ranges.h"
#include "engine/buffer_plan.h"

namespace {

constexpr uint32_t kLargestTuneScale = 10000;

// Whether the plan takes the settings with another tune scale, nothing else changed.
bool fitsWithTuneScale(const SonarSettings& s, uint32_t tuneScale) {
  SonarSettings trial;
  trial.recordTime = s.recordTime;
  trial.chirpTime = s.chirpTime;
  trial.offsetBytes = s.offsetBytes;
  trial.waveFormat = s.waveFormat;
  trial.tuneScale = tuneScale;
  return plannedLengths(trial).fit();
}

// The largest tune scale the buffers take with these settings, or 0 when none does.
uint32_t largestFittingTuneScale(const SonarSettings& s) {
  uint32_t low = 0, high = kLargestTuneScale;
  while (low < high) {
    const uint32_t mid = (low + high + 1) / 2;
    if (fitsWithTuneScale(s, mid)) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  return low;
}

}  // namespace

ScaleControls scaleControlsFor(const SonarSettings& s) {
  ScaleControls c;
  c.cutOff = static_cast<uint32_t>(s.cutOff);
  c.amplification = static_cast<uint32_t>(s.amplification);
  c.tuneScale = s.tuneScale;
  c.gain = static_cast<uint32_t>(s.gain);
  c.gainChecked = s.gainEnabled == 1;
  return c;
}

void commitScale(SonarSettings& s, const ScaleControls& c) {
  const auto asSigned = [](uint32_t v) { return static_cast<int32_t>(v); };
  const int32_t cutOff = asSigned(c.cutOff);
  s.cutOff = (cutOff > 255 || cutOff < 1) ? 4 : cutOff;
  const int32_t amplification = asSigned(c.amplification);
  s.amplification = (amplification > 10000 || amplification < 0) ? 1 : amplification;
  s.tuneScale = (c.tuneScale > 10000 || c.tuneScale == 0) ? 150 : c.tuneScale;
  const int32_t gain = asSigned(c.gain);
  s.gain = (gain > 1000 || gain < 1) ? 0 : gain;
  s.gainEnabled = 0;
  s.gainTable.fill(0.0);
  s.gainEnabled = c.gainChecked ? 1 : 0;
  rebuildGainTable(s);
}

std::string scaleProblem(const SonarSettings& settings, const ScaleControls& controls) {
  SonarSettings stored;
  commitScale(stored, controls);
  for (const HeaderRange& range : headerRanges()) {
    if (range.field == "gain" && stored.gain > range.max) {
      return std::string(range.what) + " is " + std::to_string(stored.gain) +
             ", but a file keeps " + acceptedValues(range) + " (0 for none)";
    }
  }
  if (fitsWithTuneScale(settings, stored.tuneScale) ||
      !fitsWithTuneScale(settings, settings.tuneScale)) {
    return {};
  }
  return "a tune scale of " + std::to_string(stored.tuneScale) + " with the record time of " +
         std::to_string(settings.recordTime) +
         " ms makes the recording longer than the buffers take; with this record time and "
         "format the tune scale can be 1 to " +
         std::to_string(largestFittingTuneScale(settings)) + " (a shorter record time allows more)";
}
