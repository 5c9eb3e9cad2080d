#pragma once
#include "app/application.h"

// The small commands of the main window; the table that maps identifiers to them and to the
// larger ones is in commands.cpp.

void clearScreen(App& app);  // 238
void linearMode(App& app);   // 239
void angularMode(App& app);  // 240
void showInfo(App& app);     // 242
void showRuler(App& app);    // 246
void replot(App& app);       // 247

// The audio commands (audio_checks.cpp).
void playRecordBuffer(App& app);  // 204
void checkAudioSystem(App& app);  // 227
void checkRecording(App& app);    // 233
void checkPlay(App& app);         // 248
