#pragma once
#include <array>
#include <cstdint>

#include "engine/sonar_settings.h"

constexpr size_t kMaxEchoes = 7;

// Distances [m] of up to seven echoes of the latest measurement, nearest first, measured from the
// direct arrival `foundOffset` (a lag index) on the raw correlation sums; unused entries are 0.0.
std::array<double, kMaxEchoes> detectEchoes(const SonarSettings& settings, uint32_t foundOffset);
