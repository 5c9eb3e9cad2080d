#include "gui/help_document.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include "gui/qt_text.h"
#include "resources/command_layout.h"

QString writeHelpDocument(const QString& folder) {
  const QString dir =
      folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::CacheLocation) : folder;
  if (dir.isEmpty() || !QDir().mkpath(dir)) return {};

  QFile source(toQString(kHelpResourcePath));
  if (!source.open(QIODevice::ReadOnly)) return {};
  const QByteArray content = source.readAll();

  const QString path = QDir(dir).filePath(QStringLiteral("help.html"));
  // Through a temporary file, so a browser never sees a half-written page.
  QSaveFile target(path);
  if (!target.open(QIODevice::WriteOnly) || target.write(content) != content.size() ||
      !target.commit()) {
    return {};
  }
  return path;
}
