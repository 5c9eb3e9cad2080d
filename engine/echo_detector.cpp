#include "engine/echo_detector.h"

#include <memory>

EchoDistances detectEchoes(const SonarSettings& settings, DirectArrival direct) {
  const auto tracker = std::make_unique<EchoTracker>();
  observeMeasurement(settings, direct, *tracker);
  return latestEchoes(*tracker);
}
