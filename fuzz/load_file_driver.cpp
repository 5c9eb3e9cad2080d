#include <algorithm>
#include <array>

#include "app/distance_block.h"
#include "app/distance_table.h"
#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "fuzz/drivers.h"
#include "fuzz/fuzz_support.h"

namespace {

// Everything the window may do next with the loaded settings; none of it plans the buffers anew.
// One manual step per load (each is a whole measurement); the input's length picks the key.
void useLoadedSettings(FuzzApp& f, VirtualKey key) {
  App& app = f.app;
  // The distances a block brought, read at the speed in use, before a ping replaces any.
  distanceTableCsv(app.program);
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
  // Nothing past the sonar file's history and largest distance block (and the one byte that
  // tells a block with more after it) is ever read.
  constexpr size_t kLongestRead = kSonarFileBytes + kMaxDistanceBlockBytes + 1;
  const ScratchFile file(".son", bytes.first(std::min(bytes.size(), kLongestRead)));
  constexpr std::array kKeys{VirtualKey::kEnter, VirtualKey::kUp, VirtualKey::kDown};
  const VirtualKey key = kKeys[bytes.size() % kKeys.size()];
  loadAs(FileKind::kSonar, file, key);
  loadAs(FileKind::kParameters, file, key);
}
