#include "app/commands.h"

#include <algorithm>
#include <array>

#include "app/app_steps.h"
#include "app/offset_search.h"
#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "display/echogram.h"
#include "display/reports.h"

namespace {

using CommandHandler = void (*)(App&);

struct CommandEntry {
  int id;
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
void exitProgram(App& app) {
  app.shell.closeMainWindow();
}

// Every identifier of the menu, the menu bar and the toolbar that has a handler. 243 ("Use
// recorded chirp") and everything else falls through to default processing.
constexpr std::array kCommandTable{
    CommandEntry{199, openFile},
    CommandEntry{201, startSonar},
    CommandEntry{202, saveFile},
    CommandEntry{204, playRecordBuffer},
    CommandEntry{207, singleChirpCommand},
    CommandEntry{212, runDialogOnly<DialogId::kAbout>},
    CommandEntry{213, analyzeAndRepaint},
    CommandEntry{214, repaintOnly},
    CommandEntry{220, runDialogOnly<DialogId::kOutSignal>},
    CommandEntry{221, runDialogOnly<DialogId::kAnalyze>},
    CommandEntry{225, repaintOnly},
    CommandEntry{226, stopSonar},
    CommandEntry{227, checkAudioSystem},
    CommandEntry{228, doNothing},
    CommandEntry{229, runDialogOnly<DialogId::kWaveFormat>},
    CommandEntry{233, checkRecording},
    CommandEntry{234, showHelp},
    CommandEntry{235, pauseSonar},
    CommandEntry{236, runDialogOnly<DialogId::kAnalyze>},
    CommandEntry{237, doNothing},
    CommandEntry{238, clearScreen},
    CommandEntry{239, linearMode},
    CommandEntry{240, angularMode},
    CommandEntry{241, searchOffsetHandler},
    CommandEntry{242, showInfo},
    CommandEntry{244, runDialogOnly<DialogId::kOffset>},
    CommandEntry{245, runDialogOnly<DialogId::kScale>},
    CommandEntry{246, showRuler},
    CommandEntry{247, replot},
    CommandEntry{248, checkPlay},
    CommandEntry{300, exitProgram},
};

void wipeHistoryAndSurface(App& app) {
  std::fill(app.program.history.values.begin(), app.program.history.values.end(), 0);
  app.surface.fillRect(PixelRect{0, 0, app.surface.clientWidth(), app.surface.clientHeight()},
                       Rgb{});
  app.replotOnSurface = false;
  app.shell.showSurfaceNow();
}

}  // namespace

bool dispatchCommand(App& app, int commandId) {
  const auto entry = std::find_if(kCommandTable.begin(), kCommandTable.end(),
                                  [commandId](const CommandEntry& e) { return e.id == commandId; });
  if (entry == kCommandTable.end()) return false;
  BusyScope scope(app);
  if (scope.entered()) entry->run(app);
  return true;
}

void clearScreen(App& app) {
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
  app.shell.showMessage(infoReportText(app.program.settings, app.program.scan), "Info",
                        MessageIcon::kNone, MessageOwner::kMainWindow);
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
