#pragma once
#include <string>
#include <string_view>

#include "cli/cli.h"

// Recorded sessions on the command line: `--backend replay:DIR` plays one back, `--record DIR`
// (ping, sweep) records one.

constexpr std::string_view kReplayPrefix = "replay:";

bool isReplayBackend(std::string_view backend);
// The folder of `replay:DIR`.
std::string replayFolder(std::string_view backend);

// For a replay: reads and checks the session into run.replay and puts its capture settings into
// the program's (the session fixes them). kExitUsage with the reason for a session that cannot be
// replayed.
int loadReplaySession(CliRun& run);
// The session's calibration, unless --calibration or --temperature gave another.
void applySessionCalibration(CliRun& run);
// After the buffer plan: the session's recordings must be as long as the plan's record header.
int checkReplayPlan(CliRun& run);

// Starts recording into `folder` before the first ping: kExitUsage for a folder that is not
// empty or is the session being replayed, kExitFailed when it cannot be written or the disk cannot
// hold a minute of recording.
int startRecording(CliRun& run, const std::string& folder);
// Ends the recording (session.json written again) and says on stderr if it stopped early.
void finishRecording(CliRun& run);
