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
// Whether something (a modal dialog, a waiting step) keeps the timed pings from running.
enum class PingsHeld { kNo, kYes };
// The three above, joined: "Nearest echo 1.234 m | Running | 8.0 pings/s". A run whose pings are
// held reads "Paused", without a rate.
std::string runStatusText(const Program& program, double pingsPerSecond,
                          PingsHeld held = PingsHeld::kNo);
// What the number at the bottom right of the plot is: "Pointer row: 1.23 m".
std::string pointerReadingText(const Program& program);
