#pragma once
#include <array>
#include <cstdint>

#include "engine/correlation.h"
#include "engine/sonar_settings.h"

constexpr size_t kMaxEchoes = 7;  // echo distances one measurement reports: the obstruction list

// Distances [m] of up to seven echoes of the latest measurement, nearest first, measured from the
// direct arrival near the offset finder's lag on the raw correlation sums; unused entries are
// 0.0. Reports nothing when the offset finder found no direct arrival or no echo stands clearly
// above the noise of the recording. Reads only; allocates nothing.
std::array<double, kMaxEchoes> detectEchoes(const SonarSettings& settings, DirectArrival direct);

// Seconds of one step of the correlation index: one sample of one channel.
double secondsPerLag(const WaveFormat& format);
