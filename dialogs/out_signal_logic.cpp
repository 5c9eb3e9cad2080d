#include "dialogs/out_signal_logic.h"

#include "app/chirp_warning.h"
#include "dialogs/device_steps.h"
#include "engine/numeric.h"
#include "engine/quiet_chirp.h"

OutSignalControls outSignalControlsFor(const SonarSettings& s) {
  OutSignalControls c;
  c.startFrequency = s.startFrequency;
  c.endFrequency = s.endFrequency;
  c.recordTime = s.recordTime;
  c.chirpTime = s.chirpTime;
  if (s.medium >= kAir && s.medium <= kGranite) c.mediumChecked[s.medium - kAir] = true;
  c.chirpRisingChecked = s.chirpShape == 0;
  c.chirpBothChecked = s.chirpShape == 1;
  return c;
}

OutSignalControls quietChirpControls(const SonarSettings& settings, OutSignalControls c) {
  SonarSettings preset;
  preset.waveFormat = settings.waveFormat;
  applyQuietChirp(preset);
  c.startFrequency = preset.startFrequency;
  c.endFrequency = preset.endFrequency;
  c.chirpTime = preset.chirpTime;
  c.quietPreset = true;
  return c;
}

void readOutSignalControls(SonarSettings& s, const OutSignalControls& c) {
  if (c.quietPreset) applyQuietChirp(s);
  for (int8_t m = kAir; m <= kGranite; ++m) {
    if (c.mediumChecked[m - kAir]) s.medium = m;
  }
  if (c.chirpBothChecked) s.chirpShape = 1;
  if (c.chirpRisingChecked) s.chirpShape = 0;
  s.startFrequency = c.startFrequency;
  s.endFrequency = c.endFrequency;
  s.recordTime = c.recordTime;
  s.chirpTime = c.chirpTime;
}

uint32_t maxDistanceShown(uint32_t recordTimeMs, uint32_t chirpTimeUs, int8_t medium) {
  double metresPerMs = 0.0;
  switch (medium) {
    case kAir:
      metresPerMs = 0.1718;
      break;
    case kWater:
      metresPerMs = 0.746;
      break;
    case kSteel:
      metresPerMs = 2.257;
      break;
    case kGranite:
      metresPerMs = 0.5;
      break;
    default:
      return 0;  // no factor: claiming any distance would be invented
  }
  const double distance =
      (static_cast<double>(recordTimeMs) - static_cast<double>(chirpTimeUs) * 0.001) * metresPerMs;
  return static_cast<uint32_t>(truncToInt32(distance));
}

void commitOutSignal(Program& program, Shell& shell, const OutSignalControls& controls) {
  readOutSignalControls(program.settings, controls);
  replanOrReset(program, shell);
  warnIfChirpFolds(program.settings, shell);
  openAndPing(program, shell, kCaptionWaveOut);
}

OutSignalFigures playOutSignal(Program& program, Shell& shell, const OutSignalControls& controls,
                               const std::function<void(const OutSignalFigures&)>& showFigures) {
  readOutSignalControls(program.settings, controls);
  replanOrReset(program, shell);
  warnIfChirpFolds(program.settings, shell);
  const SonarSettings& s = program.settings;
  const OutSignalFigures figures{
      s.inBufferBytes, s.outBufferBytes,
      maxDistanceShown(controls.recordTime, controls.chirpTime, s.medium)};
  if (showFigures) showFigures(figures);
  openAndPing(program, shell, kCaptionWaveOut);
  return figures;
}
