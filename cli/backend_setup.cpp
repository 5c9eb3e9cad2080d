#include "cli/backend_setup.h"

#include <ostream>

#include "audio/measurement.h"

namespace {

// The back end the request names, or null with the reason and exit code set.
std::unique_ptr<AudioBackend> makeBackend(CliRun& run, int& code) {
  run.err << "mervane-cli: the " << run.request.backend << " back end is not available yet\n";
  code = kExitFailed;
  return nullptr;
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
