#include "dialogs/wave_format_logic.h"

#include "app/chirp_warning.h"
#include "dialogs/device_steps.h"

WaveFormatControls waveFormatControlsFor(const WaveFormat& format) {
  WaveFormatControls c;
  c.stereoChecked = format.channels == 2;
  c.sixteenBitChecked = format.bitsPerSample == 16;
  for (size_t i = 0; i < kDialogRates.size(); ++i) {
    c.rateChecked[i] = format.samplesPerSec == kDialogRates[i];
  }
  return c;
}

void readWaveFormatControls(SonarSettings& s, const WaveFormatControls& c) {
  WaveFormat& f = s.waveFormat;
  f.channels = c.stereoChecked ? 2 : 1;
  f.bitsPerSample = c.sixteenBitChecked ? 16 : 8;
  for (size_t i = 0; i < kDialogRates.size(); ++i) {
    if (c.rateChecked[i]) f.samplesPerSec = kDialogRates[i];
  }
  applyRateOffsets(s);
  recomputeDerivedFormat(f);
}

void commitWaveFormat(Program& program, Shell& shell, const WaveFormatControls& controls) {
  readWaveFormatControls(program.settings, controls);
  replanOrReset(program, shell);
  warnIfChirpFolds(program.settings, shell);
  // openPair compares the format with the one the devices run and reopens them when it
  // differs, so the recording always comes in the format the buffers were planned for.
  openAndPing(program, shell, kCaptionWaveFormatPing);
}
