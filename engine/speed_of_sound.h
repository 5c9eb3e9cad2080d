#pragma once

// The speed of sound of the air or water the device measures in, from what a user can read off
// a thermometer and a hygrometer.

constexpr double kDefaultHumidityPercent = 50.0;  // relative humidity when none is given [%]
// The ranges the formulas below are fitted over; readers of user input refuse values outside.
constexpr double kMinAirTemperatureC = -40.0;
constexpr double kMaxAirTemperatureC = 60.0;
constexpr double kMinWaterTemperatureC = 0.0;
constexpr double kMaxWaterTemperatureC = 95.0;

// Air at sea-level pressure (101.325 kPa) with 400 ppm CO2, temperature [degrees C] and relative
// humidity [%, 0..100] [m/s]. Cramer (1993), J. Acoust. Soc. Am. 93, 2510, with the saturation
// vapour pressure and enhancement factor of Davis (1992, CIPM-81/91). Cramer fits 0..30 degrees C
// to 300 ppm; outside it the formula still follows the ideal gas within a few tenths of a m/s
// down to -40 and up to 60 degrees C.
double speedOfSoundInAir(double temperatureC, double humidityPercent);

// Pure water at atmospheric pressure, temperature [degrees C, 0..95] [m/s]. Marczak (1997),
// J. Acoust. Soc. Am. 102, 2776: a fifth-order fit to the measurements of the time.
double speedOfSoundInWater(double temperatureC);
