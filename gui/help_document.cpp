#include "gui/help_document.h"

#include "io/checked_save.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "gui/qt_text.h"
#include "resources/command_layout.h"

QString helpDocumentPath() {
  const QString found = findHelpDocument(QCoreApplication::applicationDirPath(),
                                         QString::fromUtf8(MERVANE_HELP_IN_SOURCE));
  return found.isEmpty() ? writeHelpDocument() : found;
}

QString installedHelpDocument(const QString& programDir) {
  // Relative to the executable, so an installed tree may be moved or unpacked anywhere.
  return QDir::cleanPath(QDir(programDir).filePath(QString::fromUtf8(MERVANE_HELP_FROM_PROGRAM)));
}

QString findHelpDocument(const QString& programDir, const QString& sourceTreeFile) {
  for (const QString& candidate : {installedHelpDocument(programDir), sourceTreeFile}) {
    if (!candidate.isEmpty() && QFileInfo(candidate).isFile()) return candidate;
  }
  return {};
}

QString writeHelpDocument(const QString& folder) {
  const QString dir =
      folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::CacheLocation) : folder;
  if (dir.isEmpty() || !QDir().mkpath(dir)) return {};

  QFile source(toQString(kHelpResourcePath));
  if (!source.open(QIODevice::ReadOnly)) return {};
  const QByteArray content = source.readAll();

  // The page's pictures go beside it first; a page without them still reads.
  for (const QString& name : QDir(QStringLiteral(":/help")).entryList(QDir::Files)) {
    if (name.endsWith(QStringLiteral(".html"))) continue;
    QFile picture(QStringLiteral(":/help/") + name);
    if (!picture.open(QIODevice::ReadOnly)) continue;
    const QByteArray bytes = picture.readAll();
    saveBytesChecked(QFile::encodeName(QDir(dir).filePath(name)).toStdString(),
                     std::span(reinterpret_cast<const uint8_t*>(bytes.constData()),
                               static_cast<size_t>(bytes.size())));
  }
  const QString path = QDir(dir).filePath(QStringLiteral("help.html"));
  // Through a temporary file, so a browser never sees a half-written page.
  const std::string saved =
      saveBytesChecked(QFile::encodeName(path).toStdString(),
                       std::span(reinterpret_cast<const uint8_t*>(content.constData()),
                                 static_cast<size_t>(content.size())));
  return saved.empty() ? path : QString();
}
