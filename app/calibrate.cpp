#include "app/calibrate.h"

#include <vector>

#include "audio/measurement.h"
#include "engine/echo_tracker.h"

namespace {

// As many as a run starts with: the first recordings of a stream carry its start-up.
constexpr int kWarmUps = 8;

// Puts the program's calibration back whichever way the pings end.
class CalibrationSwap {
 public:
  CalibrationSwap(SonarSettings& s, const Calibration& during) : s_(s), kept_(s.calibration) {
    s_.calibration = during;
  }
  ~CalibrationSwap() { s_.calibration = kept_; }
  CalibrationSwap(const CalibrationSwap&) = delete;
  CalibrationSwap& operator=(const CalibrationSwap&) = delete;

 private:
  SonarSettings& s_;
  Calibration kept_;
};

}  // namespace

Calibration calibrationAir(const Calibration& c) {
  Calibration air;
  air.temperatureC = c.temperatureC;
  air.humidityPercent = c.humidityPercent;
  return air;
}

std::string calibrationRefusal(const SonarSettings& s, const KnownDistances& known) {
  if (s.medium != kAir)
    return "calibration at a known distance works in air: choose the medium Air";
  if (known.pings < 1 || known.pings > kMaxCalibrationPings) {
    return "take 1 to " + std::to_string(kMaxCalibrationPings) + " pings";
  }
  return {};
}

CalibrationOutcome pingAtKnownDistance(Program& p, const KnownDistances& known) {
  CalibrationOutcome out;
  const Calibration air = p.settings.calibration;
  std::vector<EchoDistances> readings;
  for (int i = 0; i < kWarmUps; ++i) {
    out.error = flushInput(*p.backend, p.pair, p.settings.waveFormat);
    if (out.error != kWaveOk) return out;
  }
  restartEchoAverage(p.echoTracker, 0);
  for (uint32_t n = 0; n < known.pings; ++n) {
    const MeasurementResult r =
        runMeasurement(p.settings, p.pair, *p.backend, MeasureCaller::kTimedPing);
    out.error = r.warmUp != kWaveOk ? r.warmUp : r.ping;
    if (out.error != kWaveOk) return out;
    observeMeasurement(p.settings, r.arrival, p.echoTracker);
    readings.push_back(latestEchoes(p.echoTracker));
  }
  out.solution =
      solveCalibration(readings, speedInUse(kAir, air), known.distanceM, known.secondDistanceM);
  if (!out.solution.solved()) return out;
  out.calibration = air;
  out.calibration.offsetMetres = out.solution.offsetMetres;
  out.calibration.speedMps = out.solution.speedMps;
  return out;
}

CalibrationOutcome calibrateAtKnownDistance(Program& p, const KnownDistances& known) {
  CalibrationOutcome out;
  out.solution.problem = calibrationRefusal(p.settings, known);
  if (!out.solution.problem.empty()) return out;
  const CalibrationSwap swap(p.settings, calibrationAir(p.settings.calibration));
  return pingAtKnownDistance(p, known);
}
