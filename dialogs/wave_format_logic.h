#pragma once
#include <array>
#include <cstdint>

#include "app/program.h"
#include "app/shell.h"
#include "engine/quiet_chirp.h"
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

WaveFormatControls waveFormatControlsFor(const WaveFormat& format);

// Stores channels, bits and rate, the rate's offsets (every OK replaces the offsets, even with
// the format unchanged), block align and byte rate. An unchecked rate group keeps the rate; a
// rate outside the table keeps the offsets.
void readWaveFormatControls(SonarSettings& settings, const WaveFormatControls& controls);

// OK: store, re-plan (defaults when that fails), warn of a chirp that folds at the Nyquist
// frequency, reopen the devices in the planned format and ping once (ping failure under
// "WaveOut Error1").
void commitWaveFormat(Program& program, Shell& shell, const WaveFormatControls& controls);
