#pragma once
#include "cli/cli.h"

// For a command that needs audio: creates the back end the request names (--backend, --room,
// --device) into run.program.backend and opens and prepares the device pair for the planned
// buffers. Returns kExitOk, kExitUsage for a bad room or device, or kExitFailed for a failed
// plan or a device that does not open (with the device's error text on stderr).
int setUpAudio(CliRun& run);
