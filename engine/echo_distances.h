#pragma once
#include <array>
#include <cstddef>

// What a measurement reports of its echoes, for every reader of the distances (the program, the
// reports, the files) without the detector behind them.
constexpr size_t kMaxEchoes = 7;

using EchoDistances = std::array<double, kMaxEchoes>;  // metres, nearest first, 0.0 = none
