// Benchmarks of one measurement on the simulated room at the defaults: warm-up, ping, correlation
// and offset finder as the timed ping runs them, the analysis half alone, and the echo distances.
#include <benchmark/benchmark.h>

#include "audio/measurement.h"
#include "audio/sim_backend.h"
#include "engine/echo_detector.h"

namespace {

struct SimulatedProgram {
  SonarSettings settings;
  ScanState scan;
  WavePair pair;
  SimBackend backend{[] {
    SimRoom room = defaultSimRoom();
    room.speedMps = speedOfSound(kAir);
    return room;
  }()};

  SimulatedProgram() { resetToDefaults(settings, scan, pair, backend); }
  ~SimulatedProgram() { closePair(backend, pair); }
};

void simulatedRoom(benchmark::State& state) {
  SimulatedProgram p;
  for (auto _ : state) {
    const MeasurementResult r =
        runMeasurement(p.settings, p.pair, p.backend, MeasureCaller::kTimedPing);
    benchmark::DoNotOptimize(r.arrival);
  }
}

// The correlation and the offset finder on the room's last recording: what a measurement costs
// beyond producing its sound.
void analysisOnly(benchmark::State& state) {
  SimulatedProgram p;
  runMeasurement(p.settings, p.pair, p.backend, MeasureCaller::kTimedPing);
  for (auto _ : state) {
    benchmark::DoNotOptimize(analyzeRecording(p.settings, MeasureCaller::kTimedPing).arrival);
  }
}

// The echo distances of the room's last recording (two reflectors), as every ping takes them.
void echoDistances(benchmark::State& state) {
  SimulatedProgram p;
  const MeasurementResult r =
      runMeasurement(p.settings, p.pair, p.backend, MeasureCaller::kTimedPing);
  for (auto _ : state) benchmark::DoNotOptimize(detectEchoes(p.settings, r.arrival));
}

const bool registered = [] {
  benchmark::RegisterBenchmark("measurement/simulatedRoom", simulatedRoom)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("measurement/analysis", analysisOnly)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("detectEchoes/defaultRoom", echoDistances)
      ->Unit(benchmark::kMicrosecond);
  return true;
}();

}  // namespace
