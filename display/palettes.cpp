#include <array>

#include "display/echogram.h"
#include "engine/numeric.h"

namespace {

struct Step {
  int32_t below;  // level (or offset above the cut-off) up to which the colour holds
  Rgb colour;
};

constexpr std::array<Step, 12> kLinearSteps{{
    {4, {0, 0, 0}},
    {6, {0, 20, 0}},
    {8, {0, 40, 0}},
    {12, {0, 60, 0}},
    {24, {0, 80, 0}},
    {32, {0, 110, 10}},
    {42, {111, 255, 0}},
    {80, {150, 255, 0}},
    {120, {200, 255, 0}},
    {160, {255, 190, 0}},
    {200, {255, 100, 10}},
    {240, {255, 0, 0}},
}};

constexpr std::array<Step, 12> kHistorySteps{{
    {4, {0, 0, 0}},
    {6, {0, 30, 0}},
    {8, {0, 50, 0}},
    {12, {0, 80, 0}},
    {24, {0, 120, 0}},
    {32, {0, 140, 10}},
    {42, {140, 255, 0}},
    {80, {190, 255, 0}},
    {120, {255, 255, 0}},
    {160, {255, 170, 0}},
    {200, {255, 100, 10}},
    {240, {255, 0, 0}},
}};

constexpr Rgb kStrongest{150, 0, 100};

// The threshold is the 32-bit sum as the cut-off arithmetic has always formed it: it wraps.
double thresholdAbove(int32_t cutOff, int32_t offset) {
  return static_cast<double>(
      static_cast<int32_t>(static_cast<uint32_t>(cutOff) + static_cast<uint32_t>(offset)));
}

}  // namespace

Rgb linearPalette(int32_t level) {
  for (const Step& step : kLinearSteps) {
    if (level < step.below) return step.colour;
  }
  return kStrongest;
}

Rgb historyPalette(double v, int32_t cutOff) {
  for (const Step& step : kHistorySteps) {
    if (v < thresholdAbove(cutOff, step.below)) return step.colour;
  }
  return kStrongest;
}

Rgb angularPalette(double value) {
  const int32_t n = value < 255.0 ? truncToInt32(value) : 255;
  const uint32_t bits = static_cast<uint32_t>(n);
  return Rgb{static_cast<uint8_t>(255u - bits), 0, static_cast<uint8_t>(bits)};
}

Rgb historyKeyColour(int stripe) {
  if (stripe <= 1) return kStrongest;
  if (stripe > 12) return kHistorySteps[1].colour;
  return kHistorySteps[13 - stripe].colour;
}
