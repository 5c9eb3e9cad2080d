// Benchmarks of one measurement on the simulated room at the defaults: warm-up, ping, correlation
// and offset finder as the timed ping runs them, the analysis half alone, and the echo distances;
// the same in a realistic room (the desk preset: a laptop facing a wall).
#include <benchmark/benchmark.h>

#include <string_view>

#include "audio/measurement.h"
#include "audio/sim_backend.h"
#include "engine/echo_tracker.h"

namespace {

SimRoom roomOf(std::string_view text) {
  SimRoom room = defaultSimRoom();
  if (!text.empty() && !parseSimRoom(text, room).empty()) room = defaultSimRoom();
  room.speedMps = speedOfSound(kAir);
  return room;
}

struct SimulatedProgram {
  explicit SimulatedProgram(std::string_view room = {}) : backend(roomOf(room)) {
    resetToDefaults(settings, scan, pair, backend);
  }
  ~SimulatedProgram() { closePair(backend, pair); }

  SonarSettings settings;
  ScanState scan;
  WavePair pair;
  SimBackend backend;
  EchoTracker tracker;
};

constexpr std::string_view kDesk = "preset=desk";

void simulatedRoom(benchmark::State& state, std::string_view room) {
  SimulatedProgram p(room);
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

// The echo distances of the room's last recording as every timed ping takes them: the tracker
// takes the measurement in (correlates each channel, learns the path, adds it to the average) and
// the Ruler's distances of the latest pings are found. The path has learned from a few pings.
void echoDistances(benchmark::State& state, std::string_view room) {
  SimulatedProgram p(room);
  MeasurementResult r;
  for (int ping = 0; ping < 8; ++ping) {
    r = runMeasurement(p.settings, p.pair, p.backend, MeasureCaller::kTimedPing);
    observeMeasurement(p.settings, r.arrival, p.tracker);
    averagedEchoes(p.tracker);
  }
  for (auto _ : state) {
    observeMeasurement(p.settings, r.arrival, p.tracker);
    benchmark::DoNotOptimize(averagedEchoes(p.tracker));
  }
}

const bool registered = [] {
  const auto us = benchmark::kMicrosecond;
  benchmark::RegisterBenchmark("measurement/simulatedRoom", simulatedRoom, "")->Unit(us);
  benchmark::RegisterBenchmark("measurement/realisticRoom", simulatedRoom, kDesk)->Unit(us);
  benchmark::RegisterBenchmark("measurement/analysis", analysisOnly)->Unit(us);
  benchmark::RegisterBenchmark("detectEchoes/defaultRoom", echoDistances, "")->Unit(us);
  benchmark::RegisterBenchmark("detectEchoes/realisticRoom", echoDistances, kDesk)->Unit(us);
  return true;
}();

}  // namespace
