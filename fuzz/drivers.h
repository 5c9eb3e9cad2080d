#pragma once
#include <cstdint>
#include <span>

// What each fuzz target does with one input. The libFuzzer executables call these, and so do the
// regression tests, which replay every stored input in the normal test suite. Each returns
// normally for any input; a fault shows as a sanitizer report or a crash.

// Any bytes as a sonar file and as a parameter file, each loaded into a freshly started program,
// followed by what the main window does with the loaded settings without a new plan: repaints,
// a replot, a manual step (Enter, Up or Down), a timed ping on the simulated room, the Info and
// Ruler reports and the analyze window at the ends of its sliders.
void runLoadFileInput(std::span<const uint8_t> bytes);

// Any bytes as the WAV file of `analyze`.
void runAnalyzeWavInput(std::span<const uint8_t> bytes);

// Any bytes as values for the settings, brought in the way a file, a dialog or `--set` brings
// them, then a buffer plan or none, and measurements on the simulated room.
void runSettingsInput(std::span<const uint8_t> bytes);

// Any bytes as a room description (`--room`, MERVANE_ROOM); a room that parses is measured once.
void runRoomInput(std::span<const uint8_t> bytes);

// Any bytes as the command line's words (NUL-separated), run in a scratch folder on the
// simulated room; paths, real devices and long runs are taken out.
void runCliOptionsInput(std::span<const uint8_t> bytes);

// Any bytes as the session.json of a recorded session (and as its ping list), replayed and
// analysed.
void runSessionJsonInput(std::span<const uint8_t> bytes);

// Drawing text needs a QGuiApplication; makes one on the offscreen platform unless the process
// has one already. Call before the first input.
void ensureFuzzGui();
