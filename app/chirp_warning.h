#pragma once
#include <cmath>
#include <string>
#include <string_view>

#include "app/shell.h"
#include "engine/chirp.h"
#include "engine/sonar_settings.h"

// A chirp that reaches half the sampling rate folds back into a different sweep: the program
// measures no echo distances from it, and says so wherever such a setting is made. Header-only,
// like the device reports, so that the dialogs' logic needs nothing of the application library.

inline constexpr std::string_view kCaptionFoldedChirp = "Chirp above Nyquist";

// The warning for the settings' chirp, or an empty text when it stays below the Nyquist
// frequency.
inline std::string foldedChirpWarning(const SonarSettings& s) {
  const ChirpSweep sweep = chirpSweep(s);
  if (!sweep.folds()) return {};
  const auto hertz = [](double v) { return std::to_string(std::lround(v)) + " Hz"; };
  return "The chirp sweeps from " + hertz(sweep.fromHz) + " to " + hertz(sweep.toHz) + ", but " +
         std::to_string(s.waveFormat.samplesPerSec) +
         " samples per second carry only frequencies below " + hertz(sweep.nyquistHz) +
         ": it folds back, and no echo distances are measured. Lower the chirp's frequencies "
         "or raise the sampling rate.";
}

// Shows that warning in a message box (without owner, like the device errors of the same
// dialogs) when there is one.
inline void warnIfChirpFolds(const SonarSettings& settings, Shell& shell) {
  const std::string warning = foldedChirpWarning(settings);
  if (warning.empty()) return;
  shell.showMessage(warning, kCaptionFoldedChirp, MessageIcon::kInformation,
                    MessageOwner::kNoOwner);
}
