#include "engine/calibration.h"

#include "engine/sonar_settings.h"

bool calibrated(const Calibration& c) {
  return c.speedMps.has_value() || c.temperatureC.has_value() || c.offsetMetres != 0.0;
}

double speedInUse(int8_t medium, const Calibration& c) {
  if (medium == kAir) {
    if (c.speedMps) return *c.speedMps;
    if (c.temperatureC) return speedOfSoundInAir(*c.temperatureC, c.humidityPercent);
  }
  if (medium == kWater && c.temperatureC) return speedOfSoundInWater(*c.temperatureC);
  return speedOfSound(medium);
}
