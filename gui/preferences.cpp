#include "gui/preferences.h"

#include <QSettings>

namespace {

const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kFolderKey = QStringLiteral("files/lastFolder");
const QString kRecentKey = QStringLiteral("files/recent");
const QString kRecentKindsKey = QStringLiteral("files/recentKinds");
const QString kParametersValue = QStringLiteral("parameters");
const QString kSonarValue = QStringLiteral("sonar");
const QString kAudioKindKey = QStringLiteral("audio/kind");
const QString kAudioInputKey = QStringLiteral("audio/input");
const QString kAudioOutputKey = QStringLiteral("audio/output");
const QString kAudioRoomKey = QStringLiteral("audio/room");
const QString kSoundCardValue = QStringLiteral("soundCard");
const QString kRoomValue = QStringLiteral("simulatedRoom");
const QString kAudioSessionKey = QStringLiteral("audio/session");
const QString kSessionValue = QStringLiteral("recordedSession");

AudioKind kindOf(const QString& value) {
  if (value == kRoomValue) return AudioKind::kSimulatedRoom;
  if (value == kSessionValue) return AudioKind::kRecordedSession;
  return AudioKind::kSoundCard;
}

QString valueOf(AudioKind kind) {
  switch (kind) {
    case AudioKind::kSimulatedRoom:
      return kRoomValue;
    case AudioKind::kRecordedSession:
      return kSessionValue;
    case AudioKind::kSoundCard:
      break;
  }
  return kSoundCardValue;
}

}  // namespace

QByteArray windowGeometry(QSettings& settings) {
  return settings.value(kGeometryKey).toByteArray();
}

void setWindowGeometry(QSettings& settings, const QByteArray& geometry) {
  settings.setValue(kGeometryKey, geometry);
}

QString lastFolder(QSettings& settings) {
  return settings.value(kFolderKey).toString();
}

void setLastFolder(QSettings& settings, const QString& folder) {
  settings.setValue(kFolderKey, folder);
}

QStringList recentFiles(QSettings& settings) {
  QStringList files = settings.value(kRecentKey).toStringList();
  files.removeAll(QString());
  files.removeDuplicates();
  return files.mid(0, kRecentFileCount);
}

namespace {

// Kinds of the listed files only, so the map never outgrows the list.
void keepKindsOf(QSettings& settings, const QStringList& files, QVariantMap kinds) {
  for (const QString& path : kinds.keys()) {
    if (!files.contains(path)) kinds.remove(path);
  }
  settings.setValue(kRecentKindsKey, kinds);
}

}  // namespace

void addRecentFile(QSettings& settings, const QString& path, FileKind kind) {
  QStringList files = recentFiles(settings);
  files.removeAll(path);
  files.prepend(path);
  files = files.mid(0, kRecentFileCount);
  settings.setValue(kRecentKey, files);
  QVariantMap kinds = settings.value(kRecentKindsKey).toMap();
  kinds.insert(path, kind == FileKind::kParameters ? kParametersValue : kSonarValue);
  keepKindsOf(settings, files, kinds);
}

void removeRecentFile(QSettings& settings, const QString& path) {
  QStringList files = recentFiles(settings);
  files.removeAll(path);
  settings.setValue(kRecentKey, files);
  keepKindsOf(settings, files, settings.value(kRecentKindsKey).toMap());
}

FileKind recentFileKind(QSettings& settings, const QString& path) {
  const QString kind = settings.value(kRecentKindsKey).toMap().value(path).toString();
  if (kind == kParametersValue) return FileKind::kParameters;
  if (kind == kSonarValue) return FileKind::kSonar;
  return path.endsWith(QStringLiteral(".par"), Qt::CaseInsensitive) ? FileKind::kParameters
                                                                    : FileKind::kSonar;
}

std::optional<AudioSetup> rememberedAudio(QSettings& settings) {
  const QString kind = settings.value(kAudioKindKey).toString();
  if (kind != kSoundCardValue && kind != kRoomValue && kind != kSessionValue) return std::nullopt;
  AudioSetup setup;
  setup.kind = kindOf(kind);
  setup.inputDevice = settings.value(kAudioInputKey).toString().toStdString();
  setup.outputDevice = settings.value(kAudioOutputKey).toString().toStdString();
  setup.room = settings.value(kAudioRoomKey).toString().toStdString();
  setup.session = settings.value(kAudioSessionKey).toString().toStdString();
  return setup;
}

void rememberAudio(QSettings& settings, const AudioSetup& setup) {
  settings.setValue(kAudioKindKey, valueOf(setup.kind));
  settings.setValue(kAudioInputKey, QString::fromStdString(setup.inputDevice));
  settings.setValue(kAudioOutputKey, QString::fromStdString(setup.outputDevice));
  settings.setValue(kAudioRoomKey, QString::fromStdString(setup.room));
  settings.setValue(kAudioSessionKey, QString::fromStdString(setup.session));
}

namespace {

// One entry per device under "calibration/"; the device's text, which may hold any character,
// becomes a key of letters and digits.
QString calibrationKey(const std::string& device) {
  return QStringLiteral("calibration/") +
         QString::fromLatin1(QByteArray::fromStdString(device).toHex());
}

}  // namespace

std::optional<CalibrationRecord> rememberedCalibration(QSettings& settings,
                                                       const std::string& device) {
  const QString text = settings.value(calibrationKey(device)).toString();
  if (text.isEmpty()) return std::nullopt;
  CalibrationRecord record;
  if (!parseCalibrationFile(text.toStdString(), record).empty()) return std::nullopt;
  return record;
}

void rememberCalibration(QSettings& settings, const std::string& device,
                         const std::optional<CalibrationRecord>& record) {
  if (!record) {
    settings.remove(calibrationKey(device));
    return;
  }
  settings.setValue(calibrationKey(device), QString::fromStdString(calibrationFileText(*record)));
}
