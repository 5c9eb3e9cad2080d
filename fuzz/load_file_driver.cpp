#include <algorithm>
#include <array>

#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "fuzz/drivers.h"
#include "fuzz/fuzz_support.h"

namespace {

// Everything the window may do next with the loaded settings; none of it plans the buffers anew.
// One manual step per load (each is a whole measurement); the input's length picks the key.
void useLoadedSettings(FuzzApp& f, VirtualKey key) {
  App& app = f.app;
  paintPlot(app);
  dispatchCommand(app, CommandId::kReplot);
  paintPlot(app);
  keyPressed(app, key);
  paintPlot(app);
  // A timed ping as the timer starts it, whatever interval the file asked for.
  dispatchCommand(app, CommandId::kStartSonar);
  timerTick(app);
  if (app.program.scan.scanState == kRunning) timedPing(app);
  paintPlot(app);
  dispatchCommand(app, CommandId::kInfo);
  dispatchCommand(app, CommandId::kRuler);
  drawAnalyzeAtExtremes(app.program.settings);
}

void loadAs(FileKind kind, const ScratchFile& file, VirtualKey key) {
  FuzzApp f;
  openChosenFile(f.app, FileChoice{file.path(), kind});
  useLoadedSettings(f, key);
}

}  // namespace

void runLoadFileInput(std::span<const uint8_t> bytes) {
  // Nothing past the sonar file's length is ever read.
  const ScratchFile file(".son", bytes.first(std::min(bytes.size(), kSonarFileBytes)));
  constexpr std::array kKeys{VirtualKey::kEnter, VirtualKey::kUp, VirtualKey::kDown};
  const VirtualKey key = kKeys[bytes.size() % kKeys.size()];
  loadAs(FileKind::kSonar, file, key);
  loadAs(FileKind::kParameters, file, key);
}
