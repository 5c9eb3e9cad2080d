#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "app/calibration_file.h"
#include "app/shell.h"
#include "gui/audio_choice.h"

class QSettings;

// What the desktop program remembers between starts, in the user's QSettings (organisation and
// application "Mervane"): the window's geometry, the folder of the last file dialog, the recent
// files and the audio setup. Tests point QSettings at a folder of their own.

inline constexpr int kRecentFileCount = 6;

QByteArray windowGeometry(QSettings& settings);
void setWindowGeometry(QSettings& settings, const QByteArray& geometry);

QString lastFolder(QSettings& settings);  // empty when none was remembered
void setLastFolder(QSettings& settings, const QString& folder);

// Newest first, at most kRecentFileCount, each path once. Each is remembered with the kind it
// was opened or saved as (the filter picked, whatever its name says), and reopens as that kind.
QStringList recentFiles(QSettings& settings);
void addRecentFile(QSettings& settings, const QString& path, FileKind kind);
void removeRecentFile(QSettings& settings, const QString& path);
// The kind a recent file was last opened or saved as; for an entry remembered without one (by
// an earlier version), the kind its name ends in.
FileKind recentFileKind(QSettings& settings, const QString& path);

std::optional<AudioSetup> rememberedAudio(QSettings& settings);
void rememberAudio(QSettings& settings, const AudioSetup& setup);

// The calibration made with a device (calibrationDeviceText), kept beside the audio choice in
// the calibration file's JSON; none when that device was never calibrated or its entry does not
// read. Remembering none forgets the device's calibration.
std::optional<CalibrationRecord> rememberedCalibration(QSettings& settings,
                                                       const std::string& device);
void rememberCalibration(QSettings& settings, const std::string& device,
                         const std::optional<CalibrationRecord>& record);
