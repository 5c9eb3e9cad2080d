#include "engine/calibration_solve.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace {

// Locale-free, so that a reason reads the same in the window and on the command line.
std::string fixed(double value, int decimals) {
  char text[64];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(text, end) : std::string("?");
}

std::string millimetres(double metres) {
  return fixed(metres * 1000.0, 1) + " mm";
}

// The reading of one known distance in every ping: the echo nearest to it.
struct Readings {
  std::vector<double> metres;
  std::string problem;
};

Readings readDistance(std::span<const EchoDistances> pings, double distanceM) {
  Readings r;
  for (size_t i = 0; i < pings.size(); ++i) {
    double best = 0.0;
    for (const double d : pings[i]) {
      if (d > 0.0 && (best == 0.0 || std::abs(d - distanceM) < std::abs(best - distanceM))) {
        best = d;
      }
    }
    if (best == 0.0 || std::abs(best - distanceM) > kCalibrationWindow * distanceM) {
      r.problem =
          "no echo within 10 % of " + fixed(distanceM, 3) + " m in ping " + std::to_string(i + 1) +
          (best == 0.0 ? " (it found none)" : " (the nearest is at " + fixed(best, 3) + " m)");
      return r;
    }
    r.metres.push_back(best);
  }
  const auto [low, high] = std::minmax_element(r.metres.begin(), r.metres.end());
  if (*high - *low > kCalibrationMaxSpreadM + 1e-9) {  // 5 mm itself passes
    r.problem = "the pings disagree on the echo near " + fixed(distanceM, 3) + " m by " +
                millimetres(*high - *low) + ", more than " + millimetres(kCalibrationMaxSpreadM) +
                ": keep the device and the wall still and the room quiet";
  }
  return r;
}

double mean(const std::vector<double>& values) {
  double sum = 0.0;
  for (const double v : values) sum += v;
  return sum / static_cast<double>(values.size());
}

}  // namespace

CalibrationSolution solveCalibration(std::span<const EchoDistances> pings, double speedMps,
                                     double distanceM, std::optional<double> secondDistanceM) {
  CalibrationSolution s;
  if (pings.empty()) {
    s.problem = "no pings to calibrate with";
    return s;
  }
  if (!(distanceM > 0.0) || (secondDistanceM && !(*secondDistanceM > 0.0))) {
    s.problem = "a known distance must be above 0 m";
    return s;
  }
  if (secondDistanceM && std::abs(*secondDistanceM - distanceM) < kMinCalibrationSeparationM) {
    s.problem = "the two known distances must be at least " + fixed(kMinCalibrationSeparationM, 2) +
                " m apart";
    return s;
  }
  const Readings first = readDistance(pings, distanceM);
  if (!first.problem.empty()) {
    s.problem = first.problem;
    return s;
  }
  s.readingMetres = mean(first.metres);
  // The readings scale with the speed: a reading r at speedMps is r * v / speedMps at v.
  double scale = 1.0;
  Readings second;
  if (secondDistanceM) {
    second = readDistance(pings, *secondDistanceM);
    if (!second.problem.empty()) {
      s.problem = second.problem;
      return s;
    }
    s.secondReadingMetres = mean(second.metres);
    scale = (*secondDistanceM - distanceM) / (s.secondReadingMetres - s.readingMetres);
    // Air between -40 and 60 degrees C is 306 to 366 m/s; anything far off is two wrong echoes.
    if (!(scale > 0.8 && scale < 1.25)) {
      s.problem = "the echoes near " + fixed(distanceM, 3) + " m and " +
                  fixed(*secondDistanceM, 3) + " m give a speed of sound of " +
                  fixed(speedMps * scale, 1) + " m/s, far from the " + fixed(speedMps, 1) +
                  " m/s expected";
      return s;
    }
    s.speedMps = speedMps * scale;
  }
  s.offsetMetres = distanceM - scale * s.readingMetres;
  double squares = 0.0;
  size_t count = 0;
  for (const double r : first.metres) {
    squares += std::pow(scale * r + s.offsetMetres - distanceM, 2);
    ++count;
  }
  for (const double r : second.metres) {
    squares += std::pow(scale * r + s.offsetMetres - *secondDistanceM, 2);
    ++count;
  }
  s.residualMetres = std::sqrt(squares / static_cast<double>(count));
  return s;
}
