#pragma once
#include <cstdint>
#include <string>

#include "engine/sonar_settings.h"

// Cut-off, amplification, tune scale and the range gain, as the scale dialog edits them. The
// dialog neither re-plans nor redraws: the values apply to what is drawn next.

struct ScaleControls {
  uint32_t cutOff = 0;
  uint32_t amplification = 0;
  uint32_t tuneScale = 0;
  uint32_t gain = 0;
  bool gainChecked = false;  // "Gain on/off"
};

// Opening shows every value as an unsigned number (a negative setting appears wrapped).
ScaleControls scaleControlsFor(const SonarSettings& settings);

// Done: stores the four values with their silent replacements (cut-off 4 outside 1..255,
// amplification 1 outside 0..10000, tune scale 150 outside 1..10000, gain 0 outside 1..1000;
// the signed fields judge the number read as a signed 32-bit value), the switch, and a fresh
// gain ramp whether or not the gain is switched on.
void commitScale(SonarSettings& settings, const ScaleControls& controls);

// Why Done cannot store what the controls say, in words with what would be taken; empty when it
// can. Every file the program writes must open again: a gain above 255 would come back as its
// low byte, and a tune scale that stretches the recording past what the buffers take (with the
// record time and format now) would make Open refuse the file. Settings that were beyond the
// buffers before the dialog (only the command line sets them) are not the dialog's to refuse.
std::string scaleProblem(const SonarSettings& settings, const ScaleControls& controls);
