#pragma once
#include "app/application.h"

// The measuring loop of the main window: timed pings while Running, manual steps from the keys
// and the "Single chirp" command, and the Start, Pause and Stop commands.

// One measurement at the next column. A failing warm-up or play-and-record step pauses the run
// and is reported once; the column stays where it was, so nothing stale is drawn as a new scan.
// With a worker (App::offThread) the measurement ends later, on the window's thread.
TickOutcome timedPing(App& app);
// One measurement at the next column; ends a timed run. Holds the column back when the found
// offset lies beyond offsetBytes + deltaOffsetBytes, so the next step measures it again.
void singleChirpStep(App& app);

// Settles an unsaved sweep (asks as Open does) and empties the history and the distances for a
// new one. Returns false when the user kept the old sweep (Cancel).
bool beginNewSweep(App& app);

void startSonar(App& app);
void pauseSonar(App& app);
void stopSonar(App& app);
void singleChirpCommand(App& app);
