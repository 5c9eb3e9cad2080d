#pragma once
#include "app/application.h"

// The measuring loop of the main window: timed pings while Running, manual steps from the keys
// and the "Single chirp" command, and the Start, Pause and Stop commands.

constexpr int kKeyEnter = 13;
constexpr int kKeyUp = 38;
constexpr int kKeyDown = 40;

// One measurement at the next column. A failing warm-up or play-and-record step pauses the run
// and is reported once; the column stays where it was, so nothing stale is drawn as a new scan.
void timedPing(App& app);
// One measurement at the next column; ends a timed run. Holds the column back when the found
// offset lies beyond offsetBytes + deltaOffsetBytes, so the next step measures it again.
void singleChirpStep(App& app);

void startSonar(App& app);          // 201
void pauseSonar(App& app);          // 235
void stopSonar(App& app);           // 226
void singleChirpCommand(App& app);  // 207
