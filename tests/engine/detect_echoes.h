#pragma once
// One recording analysed on its own, as a test asks it: a tracker of its own learns the path from
// this measurement alone. The program keeps one tracker over its pings instead.
#include <memory>

#include "engine/correlation.h"
#include "engine/echo_tracker.h"
#include "engine/sonar_settings.h"

// Distances [m] of up to seven echoes of the measurement the settings' buffers hold, nearest
// first, measured from the direct arrival the offset finder reported; unused entries are 0.0.
inline EchoDistances detectEchoes(const SonarSettings& settings, DirectArrival direct) {
  const auto tracker = std::make_unique<EchoTracker>();
  observeMeasurement(settings, direct, *tracker);
  return latestEchoes(*tracker);
}
