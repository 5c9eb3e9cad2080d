#pragma once
#include <string>
#include <string_view>

#include "engine/calibration.h"

// A calibration with what it was made with, as the calibration file and the desktop's saved
// choice keep it: JSON {"version":1, "speedOfSound", "offsetMetres", "temperatureC",
// "humidityPercent", "device", "made"}, the temperature fields null when no temperature was
// given. The file's speed is the speed of air the calibration reads at; read back, it stands
// for itself (a later temperature replaces it).
struct CalibrationRecord {
  Calibration calibration;
  std::string device;  // the audio device or simulated room it was made with
  std::string made;    // ISO 8601 UTC time
};

constexpr double kMinCalibratedSpeedMps = 250.0;  // air from -100 to well over 100 degrees C
constexpr double kMaxCalibratedSpeedMps = 450.0;
constexpr double kMaxCalibrationOffsetM = 1.0;  // a device is centimetres, never a metre

std::string calibrationFileText(const CalibrationRecord& record);

// Reads the JSON text of a calibration file. Returns the reason it cannot be used (naming the
// member), empty on success; `record` is then the file's.
std::string parseCalibrationFile(std::string_view text, CalibrationRecord& record);

// Reads and parses the file at `path`; the reason names the file.
std::string readCalibrationFile(const std::string& path, CalibrationRecord& record);

// The current time in the file's form, e.g. "2026-12-09T03:10:00Z".
std::string calibrationTimeNow();
