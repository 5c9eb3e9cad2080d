#include "dialogs/scale_logic.h"

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
