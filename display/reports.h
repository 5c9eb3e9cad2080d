#pragma once
#include <array>
#include <string>

#include "engine/echo_distances.h"
#include "engine/scan_state.h"
#include "engine/sonar_settings.h"

// Text of the "Info" message box: the sweep's scan count and the average and deviation of its
// found offsets (32-bit integer statistics), with the main settings.
std::string infoReportText(const SonarSettings& settings, const ScanState& scan);

// Text of the "Ruler" message box: the seven obstruction distances in metres.
std::string obstructionReportText(const std::array<double, kMaxEchoes>& obstructions);
