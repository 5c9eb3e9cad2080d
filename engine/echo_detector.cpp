#include "engine/echo_detector.h"

#include <memory>

EchoDistances detectEchoes(const SonarSettings& settings, uint32_t foundOffset) {
  const auto tracker = std::make_unique<EchoTracker>();
  observeMeasurement(settings, foundOffset, *tracker);
  return latestEchoes(*tracker);
}
