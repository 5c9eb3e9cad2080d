#include "cli/commands.h"

#include <array>

namespace {

constexpr std::array kCommands{
    CliCommand{"settings", runSettingsCommand},
    CliCommand{"chirp", runChirpCommand},
    CliCommand{"ping", runPingCommand, CommandAudio::kDevices},
    CliCommand{"analyze", runAnalyzeCommand},
    CliCommand{"devices", runDevicesCommand},
    CliCommand{"sweep", runSweepCommand, CommandAudio::kDevices},
    CliCommand{"search-offset", runSearchOffsetCommand, CommandAudio::kDevices},
    CliCommand{"render", runRenderCommand},
    CliCommand{"calibrate", runCalibrateCommand, CommandAudio::kDevices},
    CliCommand{"track", runTrackCommand, CommandAudio::kDevices},
};

}  // namespace

const CliCommand* findCliCommand(std::string_view name) {
  for (const CliCommand& c : kCommands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}
