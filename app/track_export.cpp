#include "app/application.h"
#include "app/sonar_files.h"
#include "app/tracking.h"
#include "io/checked_save.h"

void exportTrack(App& app) {
  const std::optional<std::string> path = app.shell.chooseExportFile(ExportKind::kTrack);
  if (!path) return;
  const std::string problem =
      saveTextChecked(*path, trackTableCsv(app.program.tracking, app.program.settings));
  if (problem.empty()) return;
  app.shell.showMessage(fileMessage("Save failed!", problem), "", MessageIcon::kStop,
                        MessageOwner::kMainWindow);
}
