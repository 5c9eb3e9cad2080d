#include <algorithm>

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

std::string noDistancesText(const Program& p) {
  const bool any = std::any_of(p.measured.begin(), p.measured.end(),
                               [](const ColumnMeasurement& m) { return m.stored; });
  if (any) return {};
  if (!p.distancesMissing.empty()) {
    return "The echogram holds no distances to export: " + p.distancesMissing + ".";
  }
  return "There are no distances to export: no column has been measured since the echogram "
         "was last cleared or opened.";
}

void exportDistances(App& app) {
  // A table of its header alone would look like a sweep without echoes.
  if (const std::string none = noDistancesText(app.program); !none.empty()) {
    app.shell.showMessage(none, "Export distances", MessageIcon::kInformation,
                          MessageOwner::kMainWindow);
    return;
  }
  const std::optional<std::string> path = app.shell.chooseExportFile(ExportKind::kDistances);
  if (path) reportSaveProblem(app, saveTextChecked(*path, distanceTableCsv(app.program)));
}
