#include "app/chirp_warning.h"

#include <cmath>

#include "engine/chirp.h"

namespace {

std::string hertz(double value) {
  return std::to_string(std::lround(value)) + " Hz";
}

}  // namespace

std::string foldedChirpWarning(const SonarSettings& s) {
  const ChirpSweep sweep = chirpSweep(s);
  if (!sweep.folds()) return {};
  return "The chirp sweeps from " + hertz(sweep.fromHz) + " to " + hertz(sweep.toHz) + ", but " +
         std::to_string(s.waveFormat.samplesPerSec) +
         " samples per second carry only frequencies below " + hertz(sweep.nyquistHz) +
         ": it folds back, and no echo distances are measured. Lower the chirp's frequencies "
         "or raise the sampling rate.";
}

void warnIfChirpFolds(const SonarSettings& settings, Shell& shell) {
  const std::string warning = foldedChirpWarning(settings);
  if (warning.empty()) return;
  shell.showMessage(warning, kCaptionFoldedChirp, MessageIcon::kInformation,
                    MessageOwner::kNoOwner);
}
