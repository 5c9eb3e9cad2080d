#pragma once
#include "app/application.h"

// The small commands of the main window; the table that maps identifiers to them and to the
// larger ones is in commands.cpp.

void clearScreen(App& app);
void linearMode(App& app);
void angularMode(App& app);
void showInfo(App& app);
void showRuler(App& app);
void replot(App& app);

// The audio commands (audio_checks.cpp).
void playRecordBuffer(App& app);
void checkAudioSystem(App& app);
void checkRecording(App& app);
void checkPlay(App& app);
