#pragma once
#include <string>

#include "app/program.h"
#include "app/shell.h"
#include "engine/quiet_chirp.h"

// Part of the audio check when the settings' chirp is a quiet one: whether the loudspeaker and
// microphone carry it. One ping with the audible default chirp and one with the quiet chirp, in
// the current format; their direct sounds are compared. The chirp settings are restored
// afterwards (the buffers are left planned for the quiet chirp).
inline constexpr std::string_view kCaptionQuietChirp = "Quiet chirp";

QuietChirpReach measureQuietChirpReach(Program& program, Shell& shell);

// What the check tells the user about it.
std::string quietChirpVerdict(const SonarSettings& settings, const QuietChirpReach& reach);
