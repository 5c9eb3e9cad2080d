#include "app/commands.h"

#include <algorithm>
#include <array>

#include "app/app_steps.h"
#include "app/offset_search.h"
#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "app/tracking.h"
#include "display/echogram.h"
#include "display/reports.h"

namespace {

using CommandHandler = void (*)(App&);

struct CommandEntry {
  CommandId id;
  CommandHandler run;
};

void repaintOnly(App& app) {
  app.shell.requestRepaint();
}
void doNothing(App&) {}

template <DialogId dialog>
void runDialogOnly(App& app) {
  app.shell.runDialog(dialog);
}

void analyzeAndRepaint(App& app) {
  app.shell.runDialog(DialogId::kAnalyze);
  app.shell.requestRepaint();
}

void searchOffsetHandler(App& app) {
  searchOffsetCommand(app);
}
void showHelp(App& app) {
  app.shell.showHelp();
}
void chooseAudioDevice(App& app) {
  app.shell.runDialog(DialogId::kAudioDevice);
}
// A new calibration moves every distance: the frame's scale is drawn anew over the history.
void chooseCalibration(App& app) {
  if (app.shell.runDialog(DialogId::kCalibration) == DialogResult::kOk) replot(app);
}
// Only the drawing changes: the columns to come show their change from the still room, which the
// scan cycle learns either way; the history keeps the raw columns.
void toggleChangeView(App& app) {
  app.program.changeView.on = !app.program.changeView.on;
  app.shell.requestRepaint();
}
void showTrackWindow(App& app) {
  app.shell.showTrackWindow();
}
void exitProgram(App& app) {
  if (!settleUnsavedSweep(app)) return;
  // No ping may start a new unsaved sweep between the answer and the window's end.
  app.program.scan.scanState = kIdle;
  app.shell.closeMainWindow();
}

// Every identifier of the menu, the menu bar and the toolbar that has a handler. "Use recorded
// chirp" and everything else falls through to default processing.
constexpr std::array kCommandTable{
    CommandEntry{CommandId::kOpen, openFile},
    CommandEntry{CommandId::kStartSonar, startSonar},
    CommandEntry{CommandId::kSave, saveFile},
    CommandEntry{CommandId::kPlayRecordBuffer, playRecordBuffer},
    CommandEntry{CommandId::kSingleChirp, singleChirpCommand},
    CommandEntry{CommandId::kAbout, runDialogOnly<DialogId::kAbout>},
    CommandEntry{CommandId::kAnalyzeAndRepaint, analyzeAndRepaint},
    CommandEntry{CommandId::kAutoCorrelate, repaintOnly},
    CommandEntry{CommandId::kSetOutSignal, runDialogOnly<DialogId::kOutSignal>},
    CommandEntry{CommandId::kAnalyzeWindow, runDialogOnly<DialogId::kAnalyze>},
    CommandEntry{CommandId::kPostProcessing, repaintOnly},
    CommandEntry{CommandId::kStopSonar, stopSonar},
    CommandEntry{CommandId::kCheckAudioSystem, checkAudioSystem},
    CommandEntry{CommandId::kUnlabelled, doNothing},
    CommandEntry{CommandId::kSetWaveFormat, runDialogOnly<DialogId::kWaveFormat>},
    CommandEntry{CommandId::kCheckRecording, checkRecording},
    CommandEntry{CommandId::kHelp, showHelp},
    CommandEntry{CommandId::kPauseSonar, pauseSonar},
    CommandEntry{CommandId::kAnalyzeWindowTool, runDialogOnly<DialogId::kAnalyze>},
    CommandEntry{CommandId::kEmptyTool, doNothing},
    CommandEntry{CommandId::kClearScreen, clearScreen},
    CommandEntry{CommandId::kLinearMode, linearMode},
    CommandEntry{CommandId::kAngularMode, angularMode},
    CommandEntry{CommandId::kSearchOffset, searchOffsetHandler},
    CommandEntry{CommandId::kInfo, showInfo},
    CommandEntry{CommandId::kSetOffset, runDialogOnly<DialogId::kOffset>},
    CommandEntry{CommandId::kSetScale, runDialogOnly<DialogId::kScale>},
    CommandEntry{CommandId::kRuler, showRuler},
    CommandEntry{CommandId::kReplot, replot},
    CommandEntry{CommandId::kCheckPlay, checkPlay},
    CommandEntry{CommandId::kExit, exitProgram},
    CommandEntry{CommandId::kExportPicture, exportPicture},
    CommandEntry{CommandId::kExportDistances, exportDistances},
    CommandEntry{CommandId::kAudioDevice, chooseAudioDevice},
    CommandEntry{CommandId::kCalibration, chooseCalibration},
    CommandEntry{CommandId::kChangeView, toggleChangeView},
    CommandEntry{CommandId::kTrackEcho, showTrackWindow},
    CommandEntry{CommandId::kExportTrack, exportTrack},
};

void wipeHistoryAndSurface(App& app) {
  std::fill(app.program.history.values.begin(), app.program.history.values.end(), 0);
  forgetMeasurements(app.program);
  app.surface.fillRect(PixelRect{0, 0, app.surface.clientWidth(), app.surface.clientHeight()},
                       Rgb{});
  app.replotOnSurface = false;
  app.shell.showSurfaceNow();
}

}  // namespace

bool dispatchCommand(App& app, CommandId command) {
  const auto entry = std::find_if(kCommandTable.begin(), kCommandTable.end(),
                                  [command](const CommandEntry& e) { return e.id == command; });
  if (entry == kCommandTable.end()) return false;
  BusyScope scope(app);
  if (scope.entered()) entry->run(app);
  return true;
}

void clearScreen(App& app) {
  // Clearing throws the sweep away: asked first, as Exit and Open do; Cancel leaves the run as
  // it was.
  if (!settleUnsavedSweep(app)) return;
  app.program.scan.scanState = kIdle;
  wipeHistoryAndSurface(app);
}

void linearMode(App& app) {
  app.program.settings.displayMode = 0;
  app.program.scan.scanColumn = 0;
  app.program.scan.scanState = kIdle;
  wipeHistoryAndSurface(app);
  app.shell.requestRepaint();
}

void angularMode(App& app) {
  app.program.settings.displayMode = 1;
}

void showInfo(App& app) {
  const SonarSettings& s = app.program.settings;
  app.shell.showMessage(infoReportText(s, app.program.scan) + "\r\n" + calibrationReportText(s),
                        "Info", MessageIcon::kNone, MessageOwner::kMainWindow);
}

void showRuler(App& app) {
  app.shell.showMessage(obstructionReportText(app.program.obstructionList), "Ruler",
                        MessageIcon::kNone, MessageOwner::kMainWindow);
  app.shell.requestRepaint();
}

namespace {

bool sameScale(const MeasuredScale& m, const SonarSettings& s) {
  return m.recordTime == s.recordTime && m.chirpTime == s.chirpTime && m.tuneScale == s.tuneScale &&
         sameWaveFormat(m.waveFormat, s.waveFormat);
}

std::string scaleText(uint32_t recordTime, uint32_t chirpTime, uint32_t tuneScale,
                      const WaveFormat& f) {
  return "record time " + std::to_string(recordTime) + " ms, chirp time " +
         std::to_string(chirpTime) + " us, tune scale " + std::to_string(tuneScale) + ", " +
         std::to_string(f.samplesPerSec) + " Hz " + std::to_string(f.bitsPerSample) + "-bit " +
         std::to_string(f.channels) + "-channel";
}

// The frame's settings for columns measured at another scale: that scale, read at the speed in
// use (the frame reads nothing else, so no buffers are needed).
SonarSettings frameSettingsOf(const MeasuredScale& m, const SonarSettings& now) {
  SonarSettings frame;
  frame.recordTime = m.recordTime;
  frame.chirpTime = m.chirpTime;
  frame.tuneScale = m.tuneScale;
  frame.waveFormat = m.waveFormat;
  frame.medium = now.medium;
  frame.calibration = now.calibration;
  return frame;
}

}  // namespace

void replot(App& app) {
  const Program& p = app.program;
  // Stored columns are drawn against the distance scale they were measured with: against the
  // current one, an echo would be drawn at another distance than it was found.
  const MeasuredScale& measured = p.historyScale;
  const bool otherScale = measured.known && !sameScale(measured, p.settings);
  if (otherScale) {
    drawEchogramFrame(app.surface, frameSettingsOf(measured, p.settings));
  } else {
    drawEchogramFrame(app.surface, p.settings);
  }
  replotHistory(app.surface, app.program.settings, app.program.history);
  app.replotOnSurface = true;
  app.shell.showSurfaceNow();
  app.shell.requestRepaint();
  if (otherScale) {
    const SonarSettings& s = p.settings;
    app.shell.showMessage("The stored columns were measured with " +
                              scaleText(measured.recordTime, measured.chirpTime, measured.tuneScale,
                                        measured.waveFormat) +
                              ", and are drawn at that scale. The settings now are " +
                              scaleText(s.recordTime, s.chirpTime, s.tuneScale, s.waveFormat) + ".",
                          "Replot", MessageIcon::kInformation, MessageOwner::kMainWindow);
  }
}
