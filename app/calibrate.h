#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "app/program.h"
#include "engine/calibration_solve.h"

constexpr uint32_t kDefaultCalibrationPings = 4;
constexpr uint32_t kMaxCalibrationPings = 100;

struct KnownDistances {
  double distanceM = 0.0;                 // from the device to a wall in front of it
  std::optional<double> secondDistanceM;  // a second wall or object in view: solves the speed
  uint32_t pings = kDefaultCalibrationPings;
};

struct CalibrationOutcome {
  WaveError error = kWaveOk;  // a failed warm-up or ping: nothing was solved
  CalibrationSolution solution;
  Calibration calibration;  // the program's calibration with the solution in it, when solved

  bool solved() const { return error == kWaveOk && solution.solved(); }
};

// Pings the device at known distances, with the program's air (temperature and humidity) but no
// other calibration applied, and solves the offset (and with two distances the speed). The
// program's own calibration is left as it was: the caller decides whether to keep the result.
// Works in air only, where the offset and speed belong.
CalibrationOutcome calibrateAtKnownDistance(Program& program, const KnownDistances& known);

// The same in the parts a front end with a measuring thread needs:
// why these settings and distances cannot be calibrated (empty when they can);
std::string calibrationRefusal(const SonarSettings& settings, const KnownDistances& known);
// the calibration the pings run with: the air of `c`, no offset, no solved speed;
Calibration calibrationAir(const Calibration& c);
// and the pings and the solution, with the settings' calibration set to calibrationAir of the
// one in use (it touches the device pair, the back end, the working buffers and the tracker).
CalibrationOutcome pingAtKnownDistance(Program& program, const KnownDistances& known);
