#include <algorithm>

#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "fuzz/drivers.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int kCommandStart = 201;
constexpr int kCommandInfo = 242;
constexpr int kCommandRuler = 246;
constexpr int kCommandReplot = 247;

// The repaint the front end runs after each request.
void repaint(FuzzApp& f) {
  paintPlot(f.app);
}

// Everything the window may do next with the loaded settings; none of it plans the buffers anew.
void useLoadedSettings(FuzzApp& f) {
  App& app = f.app;
  repaint(f);
  dispatchCommand(app, kCommandReplot);
  repaint(f);
  for (int key : {kKeyEnter, kKeyUp, kKeyDown}) {
    keyPressed(app, key);
    repaint(f);
  }
  // A timed ping as the timer starts it, whatever interval the file asked for.
  dispatchCommand(app, kCommandStart);
  timerTick(app);
  if (app.program.scan.scanState == kRunning) timedPing(app);
  repaint(f);
  dispatchCommand(app, kCommandInfo);
  dispatchCommand(app, kCommandRuler);
  drawAnalyzeAtExtremes(app.program.settings);
}

void loadAs(FileKind kind, const ScratchFile& file) {
  FuzzApp f;
  openChosenFile(f.app, FileChoice{file.path(), kind});
  useLoadedSettings(f);
}

}  // namespace

void runLoadFileInput(std::span<const uint8_t> bytes) {
  // Nothing past the sonar file's length is ever read.
  const ScratchFile file(".son", bytes.first(std::min(bytes.size(), kSonarFileBytes)));
  loadAs(FileKind::kSonar, file);
  loadAs(FileKind::kParameters, file);
}
