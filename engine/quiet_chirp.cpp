#include "engine/quiet_chirp.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/numeric.h"

void applyRateOffsets(SonarSettings& s) {
  for (const RateOffsets& r : kRateOffsets) {
    if (r.rate != s.waveFormat.samplesPerSec) continue;
    s.offsetBytes = r.offsetBytes16;
    s.deltaOffsetBytes = r.deltaOffsetBytes;
    if (s.waveFormat.bitsPerSample == 8) s.offsetBytes /= 2;
  }
}

void setPlayedSweep(SonarSettings& s, double fromHz, double toHz) {
  double start = fromHz;
  double end = toHz;
  if (s.waveFormat.bitsPerSample == 8) {
    end = 0.5 * (toHz + fromHz);
  } else if (s.waveFormat.channels > 0) {
    const double perValue = 0.5 * s.waveFormat.channels;
    start = fromHz / perValue;
    end = toHz / perValue;
  }
  s.startFrequency = truncToUint32(std::round(start));
  s.endFrequency = truncToUint32(std::round(end));
}

void applyQuietChirp(SonarSettings& s) {
  WaveFormat f = s.waveFormat;
  const bool wide = f.samplesPerSec == 96000;
  f.formatTag = 1;
  f.samplesPerSec = wide ? 96000 : 48000;
  f.bitsPerSample = 16;
  if (f.channels != 1 && f.channels != 2) f.channels = 2;
  recomputeDerivedFormat(f);
  const bool changed =
      !(f.samplesPerSec == s.waveFormat.samplesPerSec &&
        f.bitsPerSample == s.waveFormat.bitsPerSample && f.channels == s.waveFormat.channels);
  s.waveFormat = f;
  if (changed) applyRateOffsets(s);
  setPlayedSweep(s, kQuietChirpFromHz, wide ? kQuietChirpWideToHz : kQuietChirpToHz);
  s.chirpTime = kQuietChirpTimeUs;
}

double arrivalGain(std::span<const int16_t> recording, std::span<const int16_t> chirp) {
  double energy = 0.0;
  for (const int16_t c : chirp) energy += static_cast<double>(c) * c;
  if (energy == 0.0 || recording.size() < chirp.size()) return 0.0;
  double best = 0.0;
  for (size_t lag = 0; lag + chirp.size() <= recording.size(); ++lag) {
    double sum = 0.0;
    for (size_t i = 0; i < chirp.size(); ++i) {
      sum += static_cast<double>(recording[lag + i]) * chirp[i];
    }
    best = std::max(best, std::abs(sum));
  }
  return best / energy;
}

// A recording 1 000 times (60 dB) weaker than the audible chirp's full scale counts as silence.
constexpr double kHeardGain = 1e-3;

bool QuietChirpReach::heard() const {
  return audibleGain >= kHeardGain;
}

double QuietChirpReach::levelDb() const {
  if (quietGain <= 0.0 || audibleGain <= 0.0) return -std::numeric_limits<double>::infinity();
  return 20.0 * std::log10(quietGain / audibleGain);
}
