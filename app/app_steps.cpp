#include "app/app_steps.h"

#include <algorithm>

#include "audio/measurement.h"
#include "engine/correlation.h"

void runWarmUps(App& app, uint32_t count) {
  warmUpPair(app.program, count);
}

void warmUpPair(Program& p, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    if (flushInput(*p.backend, p.pair, p.settings.waveFormat) != kWaveOk) return;
  }
}

void measureOffThread(App& app, std::function<void()> waits, std::function<void()> done) {
  if (!app.offThread) {
    waits();
    done();
    return;
  }
  app.measuring = true;
  app.offThread(std::move(waits), [&app, done = std::move(done)] {
    // Cleared first: `done` may hand the next step of a chain to the worker.
    app.measuring = false;
    done();
  });
}

bool takeUpPair(App& app, std::string_view caption) {
  Program& p = app.program;
  const WaveError code = openPairForPlan(p.settings, p.pair, *p.backend);
  reportWaveError(app, code, caption);
  return code == kWaveOk;
}

bool resetAndReport(App& app) {
  Program& p = app.program;
  const WaveError code = resetToDefaults(p.settings, p.scan, p.pair, *p.backend);
  // The reset starts a fresh sweep at column 1; a replot shown before is no longer current.
  app.replotOnSurface = false;
  reportWaveError(app, code, kCaptionResetOpen);
  return code == kWaveOk;
}

void storeEnvelope(Program& program, uint32_t column) {
  if (column == 0 || column >= kHistoryColumns) return;
  const std::vector<int32_t>& envelope = program.settings.correlationBuffer;
  const size_t bins = std::min<size_t>(kEnvelopeBins, envelope.size());
  for (size_t row = 0; row < bins; ++row) {
    program.history.at(column, static_cast<uint32_t>(row)) = envelope[row];
  }
}

void forgetMeasurements(Program& program) {
  program.measured.fill(ColumnMeasurement{});
  program.distancesMissing.clear();
  program.historyScale = MeasuredScale{};
  program.sweepUnsaved = false;
}

MeasuredScale measuredScaleOf(const SonarSettings& s) {
  return MeasuredScale{true, s.recordTime, s.chirpTime, s.tuneScale, s.waveFormat};
}
