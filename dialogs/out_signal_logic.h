#pragma once
#include <array>
#include <cstdint>
#include <functional>

#include "app/program.h"
#include "app/shell.h"

// The chirp, the recording time and the medium, as the out-signal dialog edits them.

// The controls of the dialog as read (or as opening fills them).
struct OutSignalControls {
  std::array<bool, 4> mediumChecked{};  // "Air", "Water", "Steel", "Granite"
  bool chirpBothChecked = false;        // "Chirp <>"
  bool chirpRisingChecked = false;      // "Chirp <"
  uint32_t startFrequency = 0;          // [Hz]
  uint32_t endFrequency = 0;            // [Hz]
  uint32_t recordTime = 0;              // [ms]
  uint32_t chirpTime = 0;               // [us]
  // "Quiet chirp" was pressed: committing also switches the format as the preset does (the
  // numbers above, as edited since, still win).
  bool quietPreset = false;
};

// "Quiet chirp": the controls with the preset's frequencies and chirp time for the format it
// switches to (applyQuietChirp), marked to switch the format on Play or Done.
OutSignalControls quietChirpControls(const SonarSettings& settings, OutSignalControls controls);

// What Play shows in its display-only fields.
struct OutSignalFigures {
  uint32_t inBufferBytes = 0;
  uint32_t outBufferBytes = 0;
  uint32_t maxDistance = 0;  // [m], as the field shows it: a negative distance appears wrapped
};

// Opening: the four numbers, the medium's button and the shape's button. A medium no button
// stands for (only a file brings one) leaves the medium buttons unchecked.
OutSignalControls outSignalControlsFor(const SonarSettings& settings);

// Stores what the controls say (after the quiet chirp's format and offsets when it was chosen).
// An unchecked group keeps its setting; the numbers are stored
// as read, without range checks (the buffer plan is the only limit).
void readOutSignalControls(SonarSettings& settings, const OutSignalControls& controls);

// The greatest distance one recording covers, (R - C / 1000) * k with the medium's own factor,
// truncated to a signed 32-bit number and shown unsigned. A medium outside 1..4 shows 0.
uint32_t maxDistanceShown(uint32_t recordTimeMs, uint32_t chirpTimeUs, int8_t medium);

// Done: store, re-plan (defaults when that fails), warn of a chirp that folds at the Nyquist
// frequency, prepare the devices and ping once.
void commitOutSignal(Program& program, Shell& shell, const OutSignalControls& controls);

// Play: store, re-plan and warn as Done does, hand the derived figures to showFigures (the distance
// comes from the times as entered, with the medium the plan left), then prepare and ping. The
// dialog stays open; what Play stored stays stored even if the dialog is cancelled afterwards.
OutSignalFigures playOutSignal(Program& program, Shell& shell, const OutSignalControls& controls,
                               const std::function<void(const OutSignalFigures&)>& showFigures);
