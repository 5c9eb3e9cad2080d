#pragma once
#include <cstdint>
#include <functional>
#include <string_view>

#include "app/application.h"
#include "app/device_report.h"
#include "audio/audio_backend.h"

// Small steps shared by the scan cycle, the commands, the checks and the offset search.

// Warm-up recordings run before a Start, a "Single chirp" and the offset search.
constexpr uint32_t kWarmUpsBeforeRun = 8;

// Marks the app busy for the lifetime of the scope. A scope opened while the app is already busy
// has not entered: its caller drops the event it was about to handle.
class BusyScope {
 public:
  explicit BusyScope(App& app) : app_(app), entered_(!app.busy) { app_.busy = true; }
  ~BusyScope() {
    if (entered_) app_.busy = false;
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
  bool entered() const { return entered_; }

 private:
  App& app_;
  bool entered_;
};

inline void reportWaveError(App& app, WaveError code, std::string_view caption) {
  reportWaveError(app.program, app.shell, code, caption);
}

// Warm-up recordings whose results are not examined. A failing one ends the series: the device
// would fail the rest the same way, and a device that never finishes would block the window for
// each of them.
void runWarmUps(App& app, uint32_t count);

// Runs `waits` (device waits and analysis only: no shell, no scan state) through the front end's
// worker, then `done` on the window's thread; both at once when the front end has no worker.
void measureOffThread(App& app, std::function<void()> waits, std::function<void()> done);

// Warm-up recordings only, for a worker: touches nothing but the device pair and the back end.
void warmUpPair(Program& program, uint32_t count);

// Takes the device pair up for the planned buffers: opens whichever device is not open (one that
// failed to open before may be back) and prepares both headers again (a failed ping may have
// left them released). A failure is reported under `caption`; returns whether the pair is ready.
bool takeUpPair(App& app, std::string_view caption);

// The reset to defaults with its device failure reported under "WaveOut 1 Error init". Returns
// whether the device pair opened.
bool resetAndReport(App& app);

// Keeps the envelope of the latest measurement (the front of correlationBuffer) as the stored
// history column, so Save and Replot see what was measured. Column 0 holds the file header and is
// never written.
void storeEnvelope(Program& program, uint32_t column);

// The history was emptied or replaced by a file: no column holds a measurement of this run, and
// nothing is left to lose.
void forgetMeasurements(Program& program);

// The settings that give the stored columns their distance scale.
MeasuredScale measuredScaleOf(const SonarSettings& settings);
