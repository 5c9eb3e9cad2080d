#pragma once
#include <cstdint>

#include "engine/correlation.h"
#include "engine/echo_tracker.h"
#include "engine/sonar_settings.h"

// Distances [m] of up to seven echoes of one measurement on its own, nearest first, measured
// from the direct arrival the offset finder reported; unused entries are 0.0. Learns the sound
// path from this one measurement, in a tracker of its own (which it allocates): for the analysis
// of a single recording. The program keeps one tracker over its pings instead (echo_tracker.h).
// Reports nothing when no direct arrival or no echo stands clearly above the noise and clutter
// of the recording, or when the chirp folds at the Nyquist frequency.
EchoDistances detectEchoes(const SonarSettings& settings, DirectArrival direct);
