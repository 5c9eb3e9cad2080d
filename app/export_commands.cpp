#include <QSaveFile>

#include "app/distance_table.h"
#include "app/sonar_files.h"

namespace {

void reportSaveFailure(App& app) {
  app.shell.showMessage("Save failed!", "", MessageIcon::kStop, MessageOwner::kMainWindow);
}

}  // namespace

bool saveTextFile(const std::string& path, std::string_view text) {
  QSaveFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) return false;
  const auto size = static_cast<qint64>(text.size());
  if (file.write(text.data(), size) != size) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

void exportPicture(App& app) {
  const std::optional<std::string> path = app.shell.chooseExportFile(ExportKind::kPicture);
  if (path && !app.surface.savePng(*path)) reportSaveFailure(app);
}

void exportDistances(App& app) {
  const std::optional<std::string> path = app.shell.chooseExportFile(ExportKind::kDistances);
  if (path && !saveTextFile(*path, distanceTableCsv(app.program))) reportSaveFailure(app);
}
