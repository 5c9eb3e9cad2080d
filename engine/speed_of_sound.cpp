#include "engine/speed_of_sound.h"

#include <cmath>

namespace {

constexpr double kPressurePa = 101325.0;
constexpr double kCarbonDioxide = 400e-6;  // mole fraction of today's air
constexpr double kKelvin = 273.15;

// Mole fraction of water vapour in air of that temperature and relative humidity.
double waterVapourFraction(double temperatureC, double humidityPercent) {
  const double t = temperatureC + kKelvin;
  const double saturationPa =
      std::exp(1.2378847e-5 * t * t - 1.9121316e-2 * t + 33.93711047 - 6.3431645e3 / t);
  const double enhancement = 1.00062 + 3.14e-8 * kPressurePa + 5.6e-7 * temperatureC * temperatureC;
  return humidityPercent / 100.0 * enhancement * saturationPa / kPressurePa;
}

}  // namespace

double speedOfSoundInAir(double temperatureC, double humidityPercent) {
  const double t = temperatureC;
  const double t2 = t * t;
  const double xw = waterVapourFraction(temperatureC, humidityPercent);
  const double p = kPressurePa;
  const double xc = kCarbonDioxide;
  return 331.5024 + 0.603055 * t - 0.000528 * t2 +
         (51.471935 + 0.1495874 * t - 0.000782 * t2) * xw +
         (-1.82e-7 + 3.73e-8 * t - 2.93e-10 * t2) * p +
         (-85.20931 - 0.228525 * t + 5.91e-5 * t2) * xc - 2.835149 * xw * xw - 2.15e-13 * p * p +
         29.179762 * xc * xc + 0.000486 * xw * p * xc;
}

double speedOfSoundInWater(double temperatureC) {
  const double t = temperatureC;
  return 1402.385 + t * (5.038813 + t * (-5.799136e-2 +
                                         t * (3.287156e-4 + t * (-1.398845e-6 + t * 2.787860e-9))));
}
