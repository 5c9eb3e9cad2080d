#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "engine/sonar_settings.h"

// The quiet chirp preset, and the latency offsets each rate brings with it.

// The offsets a rate brings: offset at 16 bits (halved at 8 bits) and the delta offset. From
// 11025 Hz on the offset is 3.4 ms of the plan's bytes and the delta 5.7 ms, rounded for the two
// later rates.
struct RateOffsets {
  uint32_t rate = 0;
  uint32_t offsetBytes16 = 0;
  uint32_t deltaOffsetBytes = 0;
};
inline constexpr std::array<RateOffsets, 6> kRateOffsets = {{
    {8000, 75, 125},
    {11025, 150, 250},
    {22050, 300, 500},
    {44100, 600, 1000},
    {48000, 650, 1100},
    {96000, 1300, 2200},
}};

// Sets offsetBytes and deltaOffsetBytes for the format's rate and sample size; a rate outside the
// table keeps them.
void applyRateOffsets(SonarSettings& settings);

// The quiet chirp: 18 to 23 kHz at 48 kHz, 18 to 28 kHz at 96 kHz, 3 ms, faded in and out. Above
// what most adults hear and still inside what many laptops play and record; children and young
// adults may hear it. Its cost: shorter reach (small loudspeakers are weak up there, and air damps
// it more) and a longer chirp than the default's 2 ms, whose direct sound covers 0.5 m of range.
inline constexpr double kQuietChirpFromHz = 18000.0;
inline constexpr double kQuietChirpToHz = 23000.0;      // at 48 kHz
inline constexpr double kQuietChirpWideToHz = 28000.0;  // at 96 kHz
inline constexpr uint32_t kQuietChirpTimeUs = 3000;
// The audible chirp it is compared with: the default one.
inline constexpr double kAudibleChirpFromHz = 8000.0;
inline constexpr double kAudibleChirpToHz = 12000.0;
inline constexpr uint32_t kAudibleChirpTimeUs = 2000;

// The preset: 16 bits at 48 kHz, or at 96 kHz when the format runs there already (channels are
// kept; a count other than 1 or 2 becomes 2), with the rate's offsets when the format changes,
// and the chirp's frequency fields set so that the played chirp sweeps the quiet band. The record
// time and everything else stay.
void applyQuietChirp(SonarSettings& settings);

// Sets startFrequency and endFrequency so that the played chirp sweeps fromHz to toHz in the
// settings' format (the synthesis plays 16-bit mono at half its frequencies, and 8 bits from the
// start to twice the end less the start).
void setPlayedSweep(SonarSettings& settings, double fromHz, double toHz);

// How strongly a recording holds the played chirp: the largest cross-correlation of the two
// sample sequences over every lag, divided by the chirp's energy. A copy of the chirp scaled by g
// gives g; noise alone next to nothing. Both in the same interleaving (16-bit values, or 8-bit
// ones moved to 16-bit scale). For the audio check, not for a ping: it allocates nothing but
// takes recording x chirp multiplications.
double arrivalGain(std::span<const int16_t> recording, std::span<const int16_t> chirp);

// The level of the quiet chirp's direct sound against the audible chirp's, through the same
// loudspeaker and microphone [dB], and whether that is enough to range with: within
// kQuietChirpCarriedDb of the audible chirp.
inline constexpr double kQuietChirpCarriedDb = -20.0;
struct QuietChirpReach {
  double audibleGain = 0.0;
  double quietGain = 0.0;
  double levelDb() const;  // quiet against audible; -inf when the quiet chirp was not heard
  bool heard() const;      // the audible chirp reached the microphone at all
  bool carried() const { return heard() && levelDb() >= kQuietChirpCarriedDb; }
};
