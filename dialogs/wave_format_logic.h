#pragma once
#include <array>
#include <cstdint>

#include "app/program.h"
#include "app/shell.h"
#include "engine/wave_format.h"

// Channels, sample width and rate, as the wave-format dialog edits them. The latency offsets
// follow the rate.

// The rate buttons, in their order: every supported rate.
inline constexpr auto kDialogRates = kSupportedRates;

struct WaveFormatControls {
  bool stereoChecked = false;                           // "Stereo/mono": checked is stereo
  bool sixteenBitChecked = false;                       // "8/16 bits": checked is 16 bits
  std::array<bool, kDialogRates.size()> rateChecked{};  // in the order of kDialogRates
};

// The offsets a rate brings: offset at 16 bits (halved at 8 bits) and the delta offset. From
// 11025 Hz on the offset is 3.4 ms of the plan's bytes and the delta 5.7 ms, rounded for the two
// later rates.
struct RateOffsets {
  uint32_t rate = 0;
  uint32_t offsetBytes16 = 0;
  uint32_t deltaOffsetBytes = 0;
};
inline constexpr std::array<RateOffsets, kDialogRates.size()> kRateOffsets = {{
    {8000, 75, 125},
    {11025, 150, 250},
    {22050, 300, 500},
    {44100, 600, 1000},
    {48000, 650, 1100},
    {96000, 1300, 2200},
}};

WaveFormatControls waveFormatControlsFor(const WaveFormat& format);

// Stores channels, bits and rate, the rate's offsets (every OK replaces the offsets, even with
// the format unchanged), block align and byte rate. An unchecked rate group keeps the rate; a
// rate outside the table keeps the offsets.
void readWaveFormatControls(SonarSettings& settings, const WaveFormatControls& controls);

// OK: store, re-plan (defaults when that fails), warn of a chirp that folds at the Nyquist
// frequency, reopen the devices in the planned format and ping once (ping failure under
// "WaveOut Error1").
void commitWaveFormat(Program& program, Shell& shell, const WaveFormatControls& controls);
