#pragma once
#include <string>

#include "app/program.h"

// The texts of the desktop's status bar, made here so they read the same wherever they are
// shown and can be checked without a window. Numbers never follow the locale.

// "Running", "Paused" or "Sweep complete".
std::string runStateText(const ScanState& scan);
// "Nearest echo 1.234 m", or "No echo" when the latest ping found none.
std::string nearestEchoText(const Program& program);
// "8.0 pings/s" for a measured rate above zero, else empty.
std::string pingRateText(double pingsPerSecond);
// The three above, joined: "Nearest echo 1.234 m | Running | 8.0 pings/s".
std::string runStatusText(const Program& program, double pingsPerSecond);
// What the number at the bottom right of the plot is: "Pointer row: 1.23 m".
std::string pointerReadingText(const Program& program);
