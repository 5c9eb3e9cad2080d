#include "app/scan_cycle.h"

#include <algorithm>
#include <array>

#include "app/app_steps.h"
#include "app/distance_table.h"
#include "app/recording.h"
#include "app/sonar_files.h"
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

// The echo analysis of a completed measurement: the change view's still room and the echo
// tracker learn from it, and the echo distances of the latest few pings combined (what the Ruler
// shows) come back. It runs where the measurement ran, on the worker for the desktop window: the
// tracker shares its correlations with the correlation worker and may wait for it, which the
// window's thread must never do.
void observeEchoes(Program& p, DirectArrival arrival, MeasurementInFlight& found) {
  // The still room is learned whether or not the change view is shown, so that turning it on
  // shows the changes at once.
  const double seconds = static_cast<double>(p.backend ? p.backend->clockMs() : 0) / 1000.0;
  observeChangeMeasurement(p.changeView, p.settings, arrival, seconds);
  observeMeasurement(p.settings, arrival, p.echoTracker);
  found.echoes = averagedEchoes(p.echoTracker);
  found.echoLags = averagedEchoLags(p.echoTracker);
}

// What every completed measurement leaves besides its column: the history column, and the echo
// distances found for it.
void keepMeasurement(App& app, uint32_t column, DirectArrival arrival,
                     const MeasurementInFlight& found) {
  Program& p = app.program;
  storeEnvelope(p, column);
  p.obstructionList = found.echoes;
  // Tracking stays on the window's thread: the tracking window reads its points at any repaint.
  // It reads the change view's still room, which the worker updated for this measurement.
  const double seconds = static_cast<double>(p.backend ? p.backend->clockMs() : 0) / 1000.0;
  trackMeasurement(p.tracking, p.settings, arrival, seconds);
  // The column keeps what the Ruler read after it: the latest few pings combined.
  if (column > 0 && column < p.measured.size()) {
    p.measured[column] = columnMeasurement(p.settings, arrival.offset, found.echoLags);
    p.historyScale = measuredScaleOf(p.settings);
    p.distancesMissing.clear();
    p.sweepUnsaved = true;
  }
  app.replotOnSurface = false;
}

}  // namespace

void startApplication(App& app) {
  resetAndReport(app);
}

TickOutcome timerTick(App& app) {
  // A tick that falls into a ping is not counted: the next interval starts when the ping ends.
  if (app.measuring) return TickOutcome::kNoPing;
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
  return timedPing(app);
}

void skipIdleTicks(App& app) {
  ScanState& scan = app.program.scan;
  if (scan.scanState != kRunning) return;
  scan.tickCount = std::max(scan.tickCount, app.program.settings.clockMultiplier);
}

namespace {

// The worker's part: device waits and analysis, nothing the window reads.
void measureTimedPing(Program& p, MeasurementInFlight& ping) {
  MeasurementResult& r = ping.result;
  // The run pauses on a failed warm-up anyway: no ping after it, which on a device that never
  // finishes would keep the run waiting for nothing.
  r.warmUp = flushInput(*p.backend, p.pair, p.settings.waveFormat);
  if (r.warmUp == kWaveOk) {
    r = pingAndAnalyze(p.settings, p.pair, *p.backend, MeasureCaller::kTimedPing);
  }
  if (r.warmUp == kWaveOk && r.ping == kWaveOk) {
    observeEchoes(p, r.arrival, ping);
    // The recording's files are written with the device waits, off the window's thread.
    ping.recordingStopped = recordLatestPing(p);
  }
}

void finishTimedPing(App& app) {
  MeasurementInFlight& ping = app.inFlight;
  Program& p = app.program;
  ScanState& scan = p.scan;
  ping.finished = true;
  const MeasurementResult& r = ping.result;
  if (r.warmUp != kWaveOk || r.ping != kWaveOk) {
    // The recording is stale: pause rather than draw it, and say so once, not at every tick.
    scan.scanState = kIdle;
    restoreEnvelope(ping.previousEnvelope, p.settings.correlationBuffer);
    reportWaveError(app, r.warmUp != kWaveOk ? r.warmUp : r.ping, kCaptionWaveOut);
    return;
  }
  tellRecordingStopped(app, ping.recordingStopped);
  scan.scanColumn = ping.column;
  scan.latestScan = ping.column;
  scan.peakAmplitude = r.peakAmplitude;
  scan.scanOffsets.forScan(ping.column) = r.arrival.offset;
  keepMeasurement(app, ping.column, r.arrival, ping);
  app.shell.requestRepaint();
  if (scan.scanColumn > kLastTimedColumn - 1) {
    scan.scanState = kComplete;
    scan.tickCount = 0;
  }
}

void finishManualStep(App& app) {
  const MeasurementInFlight& step = app.inFlight;
  Program& p = app.program;
  ScanState& scan = p.scan;
  scan.peakAmplitude = step.result.peakAmplitude;
  if (step.result.arrival.offset > p.settings.offsetBytes + p.settings.deltaOffsetBytes) {
    scan.scanColumn = step.column - 1;
  }
  scan.scanOffsets.forScan(step.column) = step.result.arrival.offset;
  keepMeasurement(app, step.column, step.result.arrival, step);
}

// The rest of a manual step after its warm-up: each failure is told before the next part runs.
void measureManualStep(App& app) {
  Program& p = app.program;
  MeasurementInFlight& step = app.inFlight;
  reportWaveError(app, step.warmUp, kCaptionWarmUp);
  measureOffThread(
      app, [&p, &step] { step.result.ping = pingPair(*p.backend, p.pair); },
      [&app, &p, &step] {
        reportWaveError(app, step.result.ping, kCaptionManualPing);
        measureOffThread(
            app,
            [&p, &step] {
              // Only what the device delivered whole is kept; the files are written here, off
              // the window's thread.
              if (step.warmUp == kWaveOk && step.result.ping == kWaveOk) {
                step.recordingStopped = recordLatestPing(p);
              }
              const MeasurementResult r = analyzeRecording(p.settings, MeasureCaller::kManualStep);
              step.result.peakAmplitude = r.peakAmplitude;
              step.result.arrival = r.arrival;
              observeEchoes(p, r.arrival, step);
            },
            [&app, &step] {
              tellRecordingStopped(app, step.recordingStopped);
              finishManualStep(app);
            });
      });
}

// Whether Start begins a sweep from its first column rather than going on with the current one.
bool startBeginsSweep(const ScanState& scan) {
  return scan.scanState == kComplete || scan.scanColumn == kLastManualColumn ||
         scan.scanColumn == 0;
}

void finishStart(App& app) {
  ScanState& scan = app.program.scan;
  // A run's echo distances combine its own pings only.
  restartEchoAverage(app.program.echoTracker, kLatestAveragedPings);
  if (scan.scanColumn == kLastManualColumn) scan.scanColumn = 0;
  if (scan.scanState == kComplete) scan.scanColumn = 0;
  scan.scanState = kRunning;
  app.replotOnSurface = false;
  app.shell.requestRepaint();
}

}  // namespace

TickOutcome timedPing(App& app) {
  Program& p = app.program;
  MeasurementInFlight& ping = app.inFlight;
  ping = MeasurementInFlight{};
  ping.column = std::min(p.scan.scanColumn + 1, kLastManualColumn);
  ping.previousEnvelope = copyEnvelope(p.settings.correlationBuffer);
  p.scan.tickCount = 0;
  measureOffThread(
      app, [&p, &ping] { measureTimedPing(p, ping); }, [&app] { finishTimedPing(app); });
  if (!ping.finished) return TickOutcome::kPingStarted;
  const bool taken = ping.result.warmUp == kWaveOk && ping.result.ping == kWaveOk;
  return taken ? TickOutcome::kPinged : TickOutcome::kPingFailed;
}

bool beginNewSweep(App& app) {
  if (!settleUnsavedSweep(app)) return false;
  ScanHistory& history = app.program.history;
  // Column 0 is the file header; every measured column goes.
  std::fill(history.values.begin() + kHistoryRows, history.values.end(), 0);
  forgetMeasurements(app.program);
  return true;
}

void singleChirpStep(App& app) {
  Program& p = app.program;
  ScanState& scan = p.scan;
  // A pair that failed to open is opened now (the device may be back). If it still cannot be, the
  // step says so once and measures nothing, rather than failing its warm-up and ping as well.
  if ((p.pair.out == 0 || p.pair.in == 0) && !takeUpPair(app, kCaptionManualPing)) return;
  const bool wasComplete = scan.scanState == kComplete;
  // A column at or beyond the last one (brought by a file or the keys) starts over like the step
  // after a complete sweep, so scanOffsets is never indexed past its end.
  const bool startOver = wasComplete || scan.scanColumn >= kLastManualColumn;
  // Starting over is a new sweep: the previous one is settled first and leaves nothing behind.
  if (startOver && !beginNewSweep(app)) return;
  scan.scanState = kIdle;
  const uint32_t column = startOver ? 1 : scan.scanColumn + 1;
  scan.scanColumn = column;
  scan.latestScan = column;
  if (column > kLastManualColumn - 1) scan.scanState = kComplete;

  // Each failure is told as it happens, before the next step runs: the user sees the warm-up's
  // report before the chirp plays, and the ping's before its recording is analysed.
  MeasurementInFlight& step = app.inFlight;
  step = MeasurementInFlight{};
  step.column = column;
  measureOffThread(
      app, [&p, &step] { step.warmUp = flushInput(*p.backend, p.pair, p.settings.waveFormat); },
      [&app] { measureManualStep(app); });
}

void startSonar(App& app) {
  ScanState& scan = app.program.scan;
  // A new sweep leaves the previous one behind in the data too, once it is saved or given up.
  if (startBeginsSweep(scan) && !beginNewSweep(app)) return;
  // Every run starts on a pair taken up again, so a device that failed earlier and is back works
  // at once. One that is still gone is reported here, once, and the run does not start.
  if (!takeUpPair(app, kCaptionWaveOut)) {
    if (scan.scanState == kRunning) scan.scanState = kIdle;
    app.shell.requestRepaint();
    return;
  }
  Program& p = app.program;
  measureOffThread(
      app, [&p] { warmUpPair(p, kWarmUpsBeforeRun); }, [&app] { finishStart(app); });
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
  Program& p = app.program;
  measureOffThread(
      app, [&p] { warmUpPair(p, kWarmUpsBeforeRun); },
      [&app] {
        singleChirpStep(app);
        app.shell.requestRepaint();
      });
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
  // While a ping is on the worker its buffers are the worker's: the strip alone follows the
  // pointer, and the column comes when the ping ends.
  if (app.replotOnSurface || app.measuring) {
    drawStatusStrip(app.surface, p.settings, p.scan, p.scan.stylusPosition);
    return;
  }
  if (p.scan.scanColumn < 2) drawEchogramFrame(app.surface, p.settings);
  if (p.changeView.on) {
    drawScanColumn(app.surface, p.settings, p.scan, p.scan.stylusPosition, p.changeView.column);
  } else {
    drawScanColumn(app.surface, p.settings, p.scan, p.scan.stylusPosition);
  }
}
