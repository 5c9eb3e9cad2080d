#pragma once
#include <string>

#include "cli/cli.h"

// Applies --calibration, --temperature and --humidity to the run's settings: a file's
// calibration first, then the temperature, which replaces the file's speed (the offset stays:
// it belongs to the device, the speed to today's air). Returns the reason for a bad value or
// file (exit 2), empty otherwise. Without any of them the run reads uncalibrated.
std::string applyCalibrationOptions(CliRun& run);

// What the run measures with, for the calibration file: the simulated room's description or the
// sound card's name.
std::string runDeviceText(const CliRequest& request);

// A decimal number, locale-free, the whole text. False when it is not one or not finite.
bool readDecimal(const std::string& text, double& value);
