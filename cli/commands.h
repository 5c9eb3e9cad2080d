#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "cli/cli.h"

enum class CommandAudio : uint8_t {
  kNone,     // runs on the settings alone
  kDevices,  // gets the back end and the device pair, opened for the planned buffers
};

// One entry per command of the command-line interface.
struct CliCommand {
  std::string_view name;
  int (*run)(CliRun& run);
  CommandAudio audio = CommandAudio::kNone;

  bool needsAudio() const { return audio == CommandAudio::kDevices; }
};

int runSettingsCommand(CliRun& run);
int runChirpCommand(CliRun& run);
int runPingCommand(CliRun& run);
int runAnalyzeCommand(CliRun& run);
// analyze DIR: the pings of a recorded session, printed as the ping command prints them.
int runAnalyzeSession(CliRun& run, const std::string& folder);
int runDevicesCommand(CliRun& run);
int runSweepCommand(CliRun& run);
int runSearchOffsetCommand(CliRun& run);
int runRenderCommand(CliRun& run);
int runCalibrateCommand(CliRun& run);
int runTrackCommand(CliRun& run);

const CliCommand* findCliCommand(std::string_view name);
