#include "app/status_text.h"

#include "app/distance_table.h"
#include "display/echogram.h"

std::string runStateText(const ScanState& scan) {
  switch (scan.scanState) {
    case kRunning:
      return "Running";
    case kComplete:
      return "Sweep complete";
    default:
      return "Paused";
  }
}

std::string nearestEchoText(const Program& program) {
  const double nearest = program.obstructionList.front();
  if (nearest <= 0.0) return "No echo";
  return "Nearest echo " + fixedPointText(nearest, 3) + " m";
}

std::string pingRateText(double pingsPerSecond) {
  if (!(pingsPerSecond > 0.0)) return {};
  return fixedPointText(pingsPerSecond, 1) + " pings/s";
}

std::string runStatusText(const Program& program, double pingsPerSecond, PingsHeld held) {
  if (held == PingsHeld::kYes && program.scan.scanState == kRunning) {
    return nearestEchoText(program) + " | Paused";
  }
  std::string text = nearestEchoText(program) + " | " + runStateText(program.scan);
  if (const std::string rate = pingRateText(pingsPerSecond); !rate.empty()) text += " | " + rate;
  return text;
}

std::string pointerReadingText(const Program& program) {
  const double metres = stylusReadingMetres(program.settings, program.scan.stylusPosition);
  return "Pointer row: " + fixedPointText(metres, 2) + " m";
}
