#include "engine/sonar_settings.h"

void applyDefaultSettings(SonarSettings& s) {
  s.recordTime = 48;
  s.chirpTime = 2000;
  s.endFrequency = 12000;
  s.clockMultiplier = 4;
  s.medium = kAir;
  s.cutOff = 20;
  s.tuneScale = 2;
  s.startFrequency = 8000;
  s.amplification = 300;
  s.waveFormat = WaveFormat{};
  s.waveFormat.formatTag = 1;
  s.waveFormat.channels = 2;
  s.waveFormat.samplesPerSec = 44100;
  s.waveFormat.bitsPerSample = 16;
  s.waveFormat.blockAlign = 4;
  s.waveFormat.avgBytesPerSec = 176400;
  s.waveFormat.extraSize = 0;
  s.offsetBytes = kDefaultOffset;
  s.deltaOffsetBytes = 2000;
  s.gainTable.fill(1.0);
  s.gain = 0;
}

void rebuildGainTable(SonarSettings& s) {
  constexpr double kOneOver4390 = 2.2779043280182233e-4;
  for (size_t i = 0; i < kEnvelopeBins; ++i) {
    s.gainTable[i] = (static_cast<double>(i) * s.gain) * kOneOver4390;
  }
}

double speedOfSound(int8_t medium) {
  switch (medium) {
    case kAir:
      return 337.6;
    case kWater:
      return 1491.0;
    case kSteel:
      return 4513.0;
    case kGranite:
      return 500.0;
    default:
      return 30.818181818181817;
  }
}
