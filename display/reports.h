#pragma once
#include <array>
#include <string>

#include "engine/echo_distances.h"
#include "engine/scan_state.h"
#include "engine/sonar_settings.h"

// Text of the "Info" message box: the sweep's scan count and the average and deviation of its
// found offsets (32-bit integer statistics), with the main settings.
std::string infoReportText(const SonarSettings& settings, const ScanState& scan);

// The scale distances are read at, for Info and About: "Speed of sound 346.1 m/s\r\nOffset
// 0.035 m (calibrated)", or "(not calibrated)" at the medium's own speed.
std::string calibrationReportText(const SonarSettings& settings);

// Text of the "Ruler" message box: the seven obstruction distances in metres.
std::string obstructionReportText(const std::array<double, kMaxEchoes>& obstructions);
