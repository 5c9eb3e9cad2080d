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

void replot(App& app) {
  drawEchogramFrame(app.surface, app.program.settings);
  replotHistory(app.surface, app.program.settings, app.program.history);
  app.replotOnSurface = true;
  app.shell.showSurfaceNow();
  app.shell.requestRepaint();
}
