// Benchmarks of the echogram drawing: one live column with its status strip, and the replot of a
// full stored history (what a loaded sonar file or a mode switch costs).
#include <benchmark/benchmark.h>

#include <random>

#include "display/echogram.h"
#include "engine/buffer_plan.h"

namespace {

SonarSettings plannedDefaults() {
  SonarSettings s;
  applyDefaultSettings(s);
  planBuffers(s);
  return s;
}

void drawScanColumnDefault(benchmark::State& state) {
  SonarSettings s = plannedDefaults();
  std::minstd_rand random(1);
  for (size_t i = 0; i < kEnvelopeBins; ++i)
    s.correlationBuffer[i] = static_cast<int32_t>(random() % 301);
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  drawEchogramFrame(surface, s);
  ScanState scan;
  scan.peakAmplitude = 95000000;
  uint32_t column = 0;
  for (auto _ : state) {
    column = column % kLastTimedColumn + 1;
    scan.scanColumn = scan.latestScan = column;
    scan.scanOffsets.forScan(column) = 640;
    drawScanColumn(surface, s, scan, {200, 110});
  }
}

void replotHistoryFull(benchmark::State& state) {
  SonarSettings s = plannedDefaults();
  ScanHistory history;
  std::minstd_rand random(2);
  for (int32_t& v : history.values) v = static_cast<int32_t>(random() % 301);
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  drawEchogramFrame(surface, s);
  for (auto _ : state) replotHistory(surface, s, history);
}

const bool registered = [] {
  benchmark::RegisterBenchmark("drawScanColumn", drawScanColumnDefault)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("replotHistory", replotHistoryFull)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
