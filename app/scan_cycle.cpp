#include "app/scan_cycle.h"

#include <algorithm>
#include <array>

#include "app/app_steps.h"
#include "audio/measurement.h"
#include "display/echogram.h"
#include "engine/correlation.h"
#include "engine/echo_tracker.h"

namespace {

constexpr std::string_view kCaptionWarmUp = "Warm up micr. Error!";
constexpr std::string_view kCaptionManualPing = "WaveOut Error!";

using Envelope = std::array<int32_t, kEnvelopeBins>;

Envelope copyEnvelope(const std::vector<int32_t>& buffer) {
  Envelope e{};
  std::copy_n(buffer.begin(), std::min<size_t>(e.size(), buffer.size()), e.begin());
  return e;
}

void restoreEnvelope(const Envelope& e, std::vector<int32_t>& buffer) {
  std::copy_n(e.begin(), std::min<size_t>(e.size(), buffer.size()), buffer.begin());
}

// What every completed measurement leaves besides its column: the history column, and the echo
// distances of the latest few pings combined (what the Ruler shows).
void keepMeasurement(App& app, uint32_t column, DirectArrival arrival) {
  Program& p = app.program;
  storeEnvelope(p, column);
  // The still room is learned whether or not the change view is shown, so that turning it on
  // shows the changes at once.
  observeChangeMeasurement(p.changeView, p.settings, arrival,
                           static_cast<double>(p.backend ? p.backend->clockMs() : 0) / 1000.0);
  observeMeasurement(p.settings, arrival, p.echoTracker);
  p.obstructionList = averagedEchoes(p.echoTracker);
  // The column keeps what the Ruler read after it: the latest few pings combined.
  if (column > 0 && column < p.measured.size()) {
    p.measured[column] = ColumnMeasurement{true, arrival.offset, p.obstructionList};
    p.sweepUnsaved = true;
  }
  app.replotOnSurface = false;
}

}  // namespace

void startApplication(App& app) {
  resetAndReport(app);
}

TickOutcome timerTick(App& app) {
  BusyScope scope(app);
  if (!scope.entered()) return TickOutcome::kNoPing;
  ScanState& scan = app.program.scan;
  if (scan.scanState != kRunning) return TickOutcome::kNoPing;
  // The tick that would count past the multiplier pings instead: the count never goes beyond
  // the multiplier, so no multiplier (a file or the command line may bring any) can wrap it.
  if (scan.tickCount < app.program.settings.clockMultiplier) {
    ++scan.tickCount;
    return TickOutcome::kNoPing;
  }
  return timedPing(app) ? TickOutcome::kPinged : TickOutcome::kPingFailed;
}

void skipIdleTicks(App& app) {
  ScanState& scan = app.program.scan;
  if (scan.scanState != kRunning) return;
  scan.tickCount = std::max(scan.tickCount, app.program.settings.clockMultiplier);
}

bool timedPing(App& app) {
  Program& p = app.program;
  ScanState& scan = p.scan;
  const uint32_t previousColumn = scan.scanColumn;
  const uint32_t previousLatest = scan.latestScan;
  // The failed-ping path puts the drawn envelope back; kept on the stack, the ping allocates
  // nothing.
  const Envelope previousEnvelope = copyEnvelope(p.settings.correlationBuffer);

  scan.scanColumn = std::min(scan.scanColumn + 1, kLastManualColumn);
  scan.latestScan = scan.scanColumn;
  scan.tickCount = 0;
  // The run pauses on a failed warm-up anyway: no ping after it, which on a device that never
  // finishes would keep the window waiting for nothing.
  MeasurementResult r;
  r.warmUp = flushInput(*p.backend, p.pair, p.settings.waveFormat);
  if (r.warmUp == kWaveOk) {
    r = pingAndAnalyze(p.settings, p.pair, *p.backend, MeasureCaller::kTimedPing);
  }
  if (r.warmUp != kWaveOk || r.ping != kWaveOk) {
    // The recording is stale: pause rather than draw it, and say so once, not at every tick.
    scan.scanColumn = previousColumn;
    scan.latestScan = previousLatest;
    scan.scanState = kIdle;
    restoreEnvelope(previousEnvelope, p.settings.correlationBuffer);
    reportWaveError(app, r.warmUp != kWaveOk ? r.warmUp : r.ping, kCaptionWaveOut);
    return false;
  }
  scan.peakAmplitude = r.peakAmplitude;
  scan.scanOffsets.forScan(scan.scanColumn) = r.arrival.offset;
  keepMeasurement(app, scan.scanColumn, r.arrival);
  app.shell.requestRepaint();
  if (scan.scanColumn > kLastTimedColumn - 1) {
    scan.scanState = kComplete;
    scan.tickCount = 0;
  }
  return true;
}

void singleChirpStep(App& app) {
  Program& p = app.program;
  ScanState& scan = p.scan;
  // A pair that failed to open is opened now (the device may be back). If it still cannot be, the
  // step says so once and measures nothing, rather than failing its warm-up and ping as well.
  if ((p.pair.out == 0 || p.pair.in == 0) && !takeUpPair(app, kCaptionManualPing)) return;
  const bool wasComplete = scan.scanState == kComplete;
  scan.scanState = kIdle;
  // A column at or beyond the last one (brought by a file or the keys) starts over like the step
  // after a complete sweep, so scanOffsets is never indexed past its end.
  const bool startOver = wasComplete || scan.scanColumn >= kLastManualColumn;
  const uint32_t column = startOver ? 1 : scan.scanColumn + 1;
  scan.scanColumn = column;
  scan.latestScan = column;
  if (column > kLastManualColumn - 1) scan.scanState = kComplete;

  // Each failure is told as it happens, before the next step runs: the user sees the warm-up's
  // report before the chirp plays, and the ping's before its recording is analysed.
  reportWaveError(app, flushInput(*p.backend, p.pair, p.settings.waveFormat), kCaptionWarmUp);
  reportWaveError(app, pingPair(*p.backend, p.pair), kCaptionManualPing);
  const MeasurementResult r = analyzeRecording(p.settings, MeasureCaller::kManualStep);
  scan.peakAmplitude = r.peakAmplitude;
  if (r.arrival.offset > p.settings.offsetBytes + p.settings.deltaOffsetBytes) {
    scan.scanColumn = column - 1;
  }
  scan.scanOffsets.forScan(column) = r.arrival.offset;
  keepMeasurement(app, column, r.arrival);
}

void startSonar(App& app) {
  ScanState& scan = app.program.scan;
  // Every run starts on a pair taken up again, so a device that failed earlier and is back works
  // at once. One that is still gone is reported here, once, and the run does not start.
  if (!takeUpPair(app, kCaptionWaveOut)) {
    if (scan.scanState == kRunning) scan.scanState = kIdle;
    app.shell.requestRepaint();
    return;
  }
  runWarmUps(app, kWarmUpsBeforeRun);
  // A run's echo distances combine its own pings only.
  restartEchoAverage(app.program.echoTracker, kLatestAveragedPings);
  if (scan.scanColumn == kLastManualColumn) scan.scanColumn = 0;
  if (scan.scanState == kComplete) scan.scanColumn = 0;
  scan.scanState = kRunning;
  app.replotOnSurface = false;
  app.shell.requestRepaint();
}

void pauseSonar(App& app) {
  app.program.scan.scanState = kIdle;
  app.shell.requestRepaint();
}

void stopSonar(App& app) {
  app.program.scan.scanState = kIdle;
  app.program.scan.scanColumn = 0;
  app.replotOnSurface = false;
  app.shell.requestRepaint();
}

void singleChirpCommand(App& app) {
  runWarmUps(app, kWarmUpsBeforeRun);
  singleChirpStep(app);
  app.shell.requestRepaint();
}

void keyPressed(App& app, VirtualKey key) {
  BusyScope scope(app);
  if (!scope.entered()) return;
  ScanState& scan = app.program.scan;
  if (key == VirtualKey::kEnter) {
    singleChirpStep(app);
  } else if (key == VirtualKey::kDown) {
    // Held at 1 (also from column 0, where unsigned arithmetic would wrap); the step then
    // advances it again, so the same column is measured anew.
    scan.scanColumn = scan.scanColumn <= 1 ? 1 : scan.scanColumn - 1;
    singleChirpStep(app);
  } else if (key == VirtualKey::kUp) {
    scan.scanColumn = scan.scanColumn + 1 == 0 ? 1 : scan.scanColumn + 1;
    singleChirpStep(app);
  }
  app.shell.requestRepaint();
}

void stylusMoved(App& app, int x, int y) {
  app.program.scan.stylusPosition = StylusPosition{x, y};
  app.shell.requestRepaint();
}

void paintPlot(App& app) {
  const Program& p = app.program;
  // A replot stays whole until the scan cycle measures again: drawing the current column over it
  // would put the latest correlation (after a dialog's new plan, an empty one) over that
  // column's stored history. Otherwise columns 0 and 1 start a fresh frame, and the current
  // column and status strip go on top.
  if (app.replotOnSurface) return;
  if (p.scan.scanColumn < 2) drawEchogramFrame(app.surface, p.settings);
  if (p.changeView.on) {
    drawScanColumn(app.surface, p.settings, p.scan, p.scan.stylusPosition, p.changeView.column);
  } else {
    drawScanColumn(app.surface, p.settings, p.scan, p.scan.stylusPosition);
  }
}
