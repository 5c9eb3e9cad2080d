#pragma once
#include <string_view>

#include "app/device_report.h"
#include "app/program.h"
#include "app/shell.h"

// The steps the settings dialogs share when they commit: re-plan the buffers (falling back to
// the defaults), prepare the device pair for the new buffers, and ping once. Device failures are
// reported with the back end's text under the caption of the step and the sequence goes on.
// The program's back end must exist.

inline constexpr std::string_view kCaptionWaveFormatPing = "WaveOut Error1";

// planBuffers; when the settings cannot be planned, the reset to defaults takes their place (it
// reports its own device failure under "WaveOut 1 Error init"). Returns whether the plan held.
bool replanOrReset(Program& program, Shell& shell);

// openPair for the current plan: the play buffer with outBufferBytes, the record buffer with
// inBufferBytes + kRecordExtraBytes. Devices running another format are reopened by openPair.
WaveError openPlannedPair(Program& program);

// Open-and-prepare (failure under "WaveOut Error"), then one ping even after a failed open
// (failure under pingCaption).
void openAndPing(Program& program, Shell& shell, std::string_view pingCaption);
