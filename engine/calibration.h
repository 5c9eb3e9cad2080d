#pragma once
#include <cstdint>
#include <optional>

#include "engine/speed_of_sound.h"

// How the program turns the time of an echo into metres: the speed of sound of today's air and
// the constant the device's own geometry adds. The default calibration is none: the medium's
// own speed (air 337.6 m/s) and no offset, so that every output reads as it always has.
//
// The speed belongs to air: a speed solved at two known distances, or else one from the
// temperature and humidity. Water follows the temperature alone; steel and granite keep their
// speeds. The offset is metres of path inside the device, the same in every medium.
struct Calibration {
  std::optional<double> speedMps;      // air, solved at two known distances [m/s]
  double offsetMetres = 0.0;           // added to every echo distance [m]
  std::optional<double> temperatureC;  // of the medium [degrees C]; none: its own speed
  double humidityPercent = kDefaultHumidityPercent;  // relative, of air [%]

  bool operator==(const Calibration&) const = default;
};

// Whether anything differs from the uncalibrated reading.
bool calibrated(const Calibration& calibration);

// Speed of sound [m/s] for a medium code under the calibration.
double speedInUse(int8_t medium, const Calibration& calibration);
