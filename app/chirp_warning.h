#pragma once
#include <string>
#include <string_view>

#include "app/shell.h"
#include "engine/sonar_settings.h"

// A chirp that reaches half the sampling rate folds back into a different sweep: the program
// measures no echo distances from it, and says so wherever such a setting is made.

inline constexpr std::string_view kCaptionFoldedChirp = "Chirp above Nyquist";

// The warning for the settings' chirp, or an empty text when it stays below the Nyquist
// frequency.
std::string foldedChirpWarning(const SonarSettings& settings);

// Shows that warning in a message box (without owner, like the device errors of the same
// dialogs) when there is one.
void warnIfChirpFolds(const SonarSettings& settings, Shell& shell);
