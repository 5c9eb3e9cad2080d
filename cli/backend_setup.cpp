#include "cli/backend_setup.h"

#include <ostream>

#include "audio/measurement.h"
#include "audio/portaudio_backend.h"
#include "audio/sim_backend.h"

namespace {

std::unique_ptr<AudioBackend> makeSimBackend(CliRun& run, int& code) {
  SimRoom room = defaultSimRoom();
  if (run.request.room) {
    if (const std::string problem = parseSimRoom(*run.request.room, room); !problem.empty()) {
      run.err << "mervane-cli: " << run.request.roomOrigin << ": " << problem << "\n";
      code = kExitUsage;
      return nullptr;
    }
  }
  // The room's sound travels at the speed the echogram assumes unless the room says otherwise.
  if (!room.speedMps) room.speedMps = speedOfSound(run.program.settings.medium);
  return std::make_unique<SimBackend>(room);
}

// The back end the request names, or null with the reason on stderr and the exit code set.
std::unique_ptr<AudioBackend> makeBackend(CliRun& run, int& code) {
  if (run.request.backend == "sim") return makeSimBackend(run, code);
  auto backend = std::make_unique<PortAudioBackend>(run.request.device.value_or(""));
  if (!backend->deviceProblem().empty()) {
    run.err << "mervane-cli: --device: " << backend->deviceProblem() << "\n";
    code = kExitUsage;
    return nullptr;
  }
  return backend;
}

}  // namespace

int setUpAudio(CliRun& run) {
  if (!run.planOk) {
    run.err << "mervane-cli: the buffer plan failed: a record or chirp length is above "
            << kMaxPlanBytes << " bytes\n";
    return kExitFailed;
  }
  int code = kExitOk;
  run.program.backend = makeBackend(run, code);
  if (!run.program.backend) return code;
  Program& p = run.program;
  if (const WaveError e = openPairForPlan(p.settings, p.pair, *p.backend); e != kWaveOk) {
    run.err << "mervane-cli: " << p.backend->errorText(e) << "\n";
    return kExitFailed;
  }
  return kExitOk;
}
