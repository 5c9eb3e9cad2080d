#pragma once
#include <optional>
#include <span>
#include <string>

#include "engine/calibration.h"
#include "engine/echo_distances.h"

// What a calibration at known distances found, or why it was refused.
struct CalibrationSolution {
  std::string problem;  // empty when solved
  double offsetMetres = 0.0;
  std::optional<double> speedMps;  // solved only with a second distance
  double residualMetres = 0.0;     // RMS of the calibrated pings' readings minus the distances
  double readingMetres = 0.0;      // mean uncalibrated reading of the first distance
  double secondReadingMetres = 0.0;

  bool solved() const { return problem.empty(); }
};

constexpr double kCalibrationWindow = 0.10;         // an echo counts within 10 % of the distance
constexpr double kCalibrationMaxSpreadM = 0.005;    // pings may disagree by at most 5 mm
constexpr double kMinCalibrationSeparationM = 0.1;  // between the two known distances

// Solves the offset, and with `secondDistanceM` the speed too, from the echo distances of a few
// pings read at `speedMps` without an offset. Refuses, with the reason, when a ping has no echo
// within 10 % of a distance or the pings' readings of it spread over more than 5 mm.
CalibrationSolution solveCalibration(std::span<const EchoDistances> pings, double speedMps,
                                     double distanceM, std::optional<double> secondDistanceM);
