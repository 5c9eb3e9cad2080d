#pragma once
#include <string>

#include "app/application.h"
#include "audio/recorded_session.h"

// Recording the pings of a run into a session folder, for the scan cycle and the command line.

// What session.json says of the program's present settings and device (`source`: the device or
// the simulated room, as the user would name it).
SessionInfo sessionInfoFor(const Program& program, std::string source);

// The analysis settings in use, as a JSON object: a replay may change them, and each ping's line
// keeps the ones it was taken with.
std::string analysisSettingsJson(const SonarSettings& settings);

// Hands the measurement just taken (the pair's warm-up scratch and record header) to the
// program's recorder, if one runs. Returns the reason when the recording stopped at this ping,
// so it is told once; empty otherwise. Writes files: the scan cycle calls it with the device
// waits, on the front end's measuring thread, in the order the pings were taken.
std::string recordLatestPing(Program& program);

// A recording that stopped (`stopped` not empty) is told in a message box; the measurement goes
// on.
void tellRecordingStopped(App& app, const std::string& stopped);
