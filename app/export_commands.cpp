#include "app/distance_table.h"
#include "app/sonar_files.h"
#include "io/checked_save.h"

namespace {

// "Save failed!" with the reason the save gave (a full disk, a folder that is gone, a target
// that is not a regular file); nothing is told when the save went through.
void reportSaveProblem(App& app, const std::string& problem) {
  if (problem.empty()) return;
  app.shell.showMessage(fileMessage("Save failed!", problem), "", MessageIcon::kStop,
                        MessageOwner::kMainWindow);
}

}  // namespace

void exportPicture(App& app) {
  const std::optional<std::string> path = app.shell.chooseExportFile(ExportKind::kPicture);
  if (path) reportSaveProblem(app, app.surface.savePng(*path));
}

void exportDistances(App& app) {
  const std::optional<std::string> path = app.shell.chooseExportFile(ExportKind::kDistances);
  if (path) reportSaveProblem(app, saveTextChecked(*path, distanceTableCsv(app.program)));
}
