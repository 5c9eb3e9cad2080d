#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>

#include "engine/wave_format.h"

// A chirp that sweeps only at or above this frequency [Hz] is a quiet one: most adults do not hear
// it. It fades in and out over the played samples (a Hann window), in the play buffer and in the
// reference alike, so that neither end clicks; every other chirp is synthesised as it always was.
inline constexpr double kQuietChirpLowestHz = 16000.0;

// Both synthesise the chirp twice: the byte image the output device plays (buffer) and the signed
// template the correlation uses (reference, length + 4 computed entries). Writes beyond either
// span are dropped, so a length left over from an earlier plan cannot overrun the buffers.
void makeChirp16(double startHz, double endHz, std::span<uint8_t> buffer, uint32_t length,
                 std::span<int32_t> reference, const WaveFormat& format);
void makeChirp8(double startHz, double endHz, std::span<uint8_t> buffer, uint32_t length,
                std::span<int32_t> reference, const WaveFormat& format);

struct SonarSettings;

// The frequencies the played chirp sweeps through [Hz], as the synthesis makes them for the
// settings' format: from start to end at 16 bits in stereo (channels / 2 times both at 16 bits
// in general, so half of them in mono); from start to 2 x end - start at 8 bits.
struct ChirpSweep {
  double fromHz = 0.0;
  double toHz = 0.0;
  double nyquistHz = 0.0;  // half the sampling rate

  // Whether any of it lies at or above the Nyquist frequency, where it folds back into a
  // different chirp than the one the correlation looks for.
  bool folds() const { return std::max(std::abs(fromHz), std::abs(toHz)) >= nyquistHz; }
  // Whether all of it lies at or above kQuietChirpLowestHz.
  bool quiet() const;
};
ChirpSweep chirpSweep(const SonarSettings& settings);
