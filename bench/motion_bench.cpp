// Benchmarks of what moves: a ping in rooms with moving reflectors (against the same rooms still,
// in audio_bench.cpp: the difference is their rendering), and the per-ping cost of the change
// view and of tracking one echo on a recorded measurement.
#include <benchmark/benchmark.h>

#include <string_view>

#include "audio/measurement.h"
#include "audio/sim_backend.h"
#include "engine/change_view.h"
#include "engine/target_tracker.h"

namespace {

struct MovingRoom {
  explicit MovingRoom(std::string_view text) : backend(roomOf(text)) {
    resetToDefaults(settings, scan, pair, backend);
  }
  ~MovingRoom() { closePair(backend, pair); }
  static SimRoom roomOf(std::string_view text) {
    SimRoom room;
    parseSimRoom(text, room);
    room.speedMps = speedOfSound(kAir);
    return room;
  }
  MeasurementResult ping() {
    return runMeasurement(settings, pair, backend, MeasureCaller::kTimedPing);
  }
  double seconds() const { return static_cast<double>(backend.nowTicks()) / kSimTicksPerSecond; }

  SonarSettings settings;
  ScanState scan;
  WavePair pair;
  SimBackend backend;
};

void pingMoving(benchmark::State& state, std::string_view room) {
  MovingRoom r(room);
  for (auto _ : state) benchmark::DoNotOptimize(r.ping().arrival);
}

void changeView(benchmark::State& state) {
  MovingRoom r("person=1.2,echo=0.8:0.2");
  ChangeView view;
  MeasurementResult m;
  for (int i = 0; i < 4; ++i) {
    m = r.ping();
    observeChangeMeasurement(view, r.settings, m.arrival, r.seconds());
  }
  double t = r.seconds();
  for (auto _ : state) {
    t += 0.15;
    observeChangeMeasurement(view, r.settings, m.arrival, t);
    benchmark::DoNotOptimize(view.column[100]);
  }
}

void tracker(benchmark::State& state) {
  MovingRoom r("echo=1.00:0.2:move=0.003@0.25,noise=46");
  TargetTracker track;
  startTrack(track, 1.0);
  MeasurementResult m;
  for (int i = 0; i < 4; ++i) {
    m = r.ping();
    trackPing(track, trackInputOf(r.settings, m.arrival, r.seconds()));
  }
  double t = r.seconds();
  for (auto _ : state) {
    t += 0.15;
    benchmark::DoNotOptimize(trackPing(track, trackInputOf(r.settings, m.arrival, t)).distanceM);
  }
}

const bool registered = [] {
  const auto us = benchmark::kMicrosecond;
  benchmark::RegisterBenchmark("motion/plainRoomSwinging", pingMoving,
                               "echo=1.00:0.2:move=0.003@0.25")
      ->Unit(us);
  benchmark::RegisterBenchmark("motion/deskPerson", pingMoving, "preset=desk,person=1.2")->Unit(us);
  benchmark::RegisterBenchmark("motion/changeView", changeView)->Unit(us);
  benchmark::RegisterBenchmark("motion/tracker", tracker)->Unit(us);
  return true;
}();

}  // namespace
