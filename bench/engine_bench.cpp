// Benchmarks of the signal engine: the correlation at the plans the program accepts, against the
// plain 64-bit definition, and the crossover between the direct and the FFT sums.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

#include "engine/buffer_plan.h"
#include "engine/correlation.h"
#include "engine/direct_kernels.h"
#include "engine/fft_correlation.h"
#include "engine/sonar_settings.h"

namespace {

struct PlanTimes {
  uint32_t recordTimeMs, chirpTimeUs, offsetBytes;
};

constexpr PlanTimes kDefault{48, 2000, 600};
constexpr PlanTimes kOffsetSearch{120, 2000, 10};
constexpr PlanTimes kLongChirp{900, 900000, 600};
constexpr PlanTimes kLargest{3600, 3686000, 600};

// A planned parameter set whose recording is full-scale pseudo-random noise, the same every run:
// the worst case for the sums' magnitudes and the same work as any real recording.
SonarSettings plannedWithNoise(const PlanTimes& p) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.recordTime = p.recordTimeMs;
  s.chirpTime = p.chirpTimeUs;
  s.offsetBytes = p.offsetBytes;
  if (!planBuffers(s)) return s;
  std::mt19937 random(12345);
  for (uint8_t& b : s.recordBuffer) b = static_cast<uint8_t>(random());
  return s;
}

uint32_t timedPingEnd(const SonarSettings& s) {
  return s.inBufferBytes + 1000;
}

// What a correlation ran on: the direct-sum kernel (0 portable, 1 AVX2, 2 AVX-512 VNNI; see
// MERVANE_KERNEL in the README), whether the FFT did the sums, whether a second thread shared them.
void countMethod(benchmark::State& state, const SonarSettings& s) {
  state.counters["kernel"] = static_cast<double>(directKernelLevel());
  state.counters["fft"] = s.correlationWorkspace ? 1 : 0;
  state.counters["worker"] = s.correlationWorker ? 1 : 0;
}

// The program's correlation; without `shared` on the calling thread alone, as on one processor.
void correlateFast(benchmark::State& state, PlanTimes p, bool shared) {
  SonarSettings s = plannedWithNoise(p);
  if (!shared) s.correlationWorker.reset();
  for (auto _ : state) benchmark::DoNotOptimize(correlateRecording(s, timedPingEnd(s)));
  countMethod(state, s);
  // How far the FFT's unrounded sums were from integers: exactness needs it below 1/2.
  if (s.correlationWorkspace) {
    state.counters["residual"] = lastRoundingResidual(*s.correlationWorkspace);
  }
}

void correlateReference(benchmark::State& state, PlanTimes p) {
  SonarSettings s = plannedWithNoise(p);
  for (auto _ : state) {
    benchmark::DoNotOptimize(correlateEchoReference(
        timedPingEnd(s), s.outBufferBytes, s.offsetBytes, s.recordSamples, s.chirpReference,
        s.recordBuffer, s.correlationBuffer, s.correlationSums, s.waveFormat, s.amplification));
  }
}

// A new plan: buffers, chirp synthesis and, for long chirps, the FFT plans and the template's
// spectrum. Runs when a dialog changes the signal, never during a ping.
void planBuffersFor(benchmark::State& state, PlanTimes p) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.recordTime = p.recordTimeMs;
  s.chirpTime = p.chirpTimeUs;
  s.offsetBytes = p.offsetBytes;
  for (auto _ : state) benchmark::DoNotOptimize(planBuffers(s));
}

void findDirectPathDefault(benchmark::State& state) {
  SonarSettings s = plannedWithNoise(kDefault);
  correlateRecording(s, timedPingEnd(s));
  for (auto _ : state) benchmark::DoNotOptimize(findDirectArrival(s));
}

// The same correlation summed directly (no workspace) and through a workspace forced at any
// template length: the two curves cross where planCorrelation switches. range(0) is the chirp
// time [us], range(1) the record time [ms].
void crossover(benchmark::State& state, bool viaFft) {
  SonarSettings s = plannedWithNoise(
      {static_cast<uint32_t>(state.range(1)), static_cast<uint32_t>(state.range(0)), 600});
  const std::span<const int32_t> templ = s.chirpReference;
  const auto taps = templ.subspan(4, s.outBufferBytes - 4);
  const uint64_t lags = timedPingEnd(s) / 2 + 1;
  const auto workspace = viaFft ? makeCorrelationWorkspace(taps, lags) : nullptr;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        correlateEcho(timedPingEnd(s), s.outBufferBytes, s.offsetBytes, s.recordSamples,
                      s.chirpReference, s.recordBuffer, s.correlationBuffer, s.correlationSums,
                      s.waveFormat, s.amplification, workspace.get(), s.correlationWorker.get()));
  }
  state.counters["taps"] = static_cast<double>(taps.size());
  state.counters["lags"] = static_cast<double>(lags - s.offsetBytes);
}

void crossoverArgs(benchmark::internal::Benchmark* b) {
  for (int recordMs : {48, 900}) {
    for (int chirpUs : {3000, 5000, 6000, 7000, 9000, 12000, 24000}) b->Args({chirpUs, recordMs});
  }
}

// Wall time decides (the user waits for it); the CPU time is that of the whole process, both
// threads, so that the price of the second one shows.
benchmark::internal::Benchmark* wallAndCpu(benchmark::internal::Benchmark* b,
                                           benchmark::TimeUnit unit) {
  return b->Unit(unit)->UseRealTime()->MeasureProcessCPUTime();
}

const bool registered = [] {
  using benchmark::RegisterBenchmark;
  const auto ms = benchmark::kMillisecond;
  const auto us = benchmark::kMicrosecond;
  for (bool shared : {true, false}) {
    const std::string name = shared ? "correlateEcho/" : "correlateEchoOneThread/";
    wallAndCpu(RegisterBenchmark((name + "default").c_str(), correlateFast, kDefault, shared), us);
    wallAndCpu(
        RegisterBenchmark((name + "offsetSearch").c_str(), correlateFast, kOffsetSearch, shared),
        us);
    wallAndCpu(RegisterBenchmark((name + "longChirp").c_str(), correlateFast, kLongChirp, shared),
               ms);
    wallAndCpu(RegisterBenchmark((name + "largest").c_str(), correlateFast, kLargest, shared), ms);
  }
  wallAndCpu(RegisterBenchmark("correlateReference/default", correlateReference, kDefault), us);
  wallAndCpu(
      RegisterBenchmark("correlateReference/offsetSearch", correlateReference, kOffsetSearch), us);
  wallAndCpu(RegisterBenchmark("planBuffers/default", planBuffersFor, kDefault), us);
  wallAndCpu(RegisterBenchmark("planBuffers/largest", planBuffersFor, kLargest), ms);
  wallAndCpu(RegisterBenchmark("findDirectPath/default", findDirectPathDefault), us);
  wallAndCpu(RegisterBenchmark("correlateCrossover/direct", crossover, false), us)
      ->Apply(crossoverArgs);
  wallAndCpu(RegisterBenchmark("correlateCrossover/fft", crossover, true), us)
      ->Apply(crossoverArgs);
  return true;
}();

}  // namespace
