#include "app/app_steps.h"

#include <algorithm>

#include "audio/measurement.h"
#include "engine/correlation.h"

void runWarmUps(App& app, uint32_t count) {
  Program& p = app.program;
  for (uint32_t i = 0; i < count; ++i) {
    if (flushInput(*p.backend, p.pair, p.settings.waveFormat) != kWaveOk) return;
  }
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
  program.sweepUnsaved = false;
}
