#include "dialogs/device_steps.h"

#include "audio/measurement.h"
#include "engine/buffer_plan.h"

bool replanOrReset(Program& program, Shell& shell) {
  if (planBuffers(program.settings)) return true;
  const WaveError code =
      resetToDefaults(program.settings, program.scan, program.pair, *program.backend);
  reportWaveError(program, shell, code, kCaptionResetOpen);
  return false;
}

WaveError openPlannedPair(Program& program) {
  return openPairForPlan(program.settings, program.pair, *program.backend);
}

void openAndPing(Program& program, Shell& shell, std::string_view pingCaption) {
  reportWaveError(program, shell, openPlannedPair(program), kCaptionWaveOut);
  reportWaveError(program, shell, pingPair(*program.backend, program.pair), pingCaption);
}
