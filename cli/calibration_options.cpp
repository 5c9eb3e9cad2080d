#include "cli/calibration_options.h"

#include <charconv>
#include <cmath>

#include "app/calibration_file.h"
#include "app/distance_table.h"

bool readDecimal(const std::string& text, double& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && stop == end && std::isfinite(value);
}

std::string applyCalibrationOptions(CliRun& run) {
  const CliRequest& r = run.request;
  Calibration& c = run.program.settings.calibration;
  if (r.calibrationFile) {
    CalibrationRecord record;
    if (std::string problem = readCalibrationFile(*r.calibrationFile, record); !problem.empty()) {
      return "--calibration: " + problem;
    }
    c = record.calibration;
  }
  if (r.humidity && !r.temperature) return "--humidity needs --temperature";
  if (r.temperature) {
    double t = 0.0;
    if (!readDecimal(*r.temperature, t) || t < kMinAirTemperatureC || t > kMaxAirTemperatureC) {
      return "--temperature needs degrees Celsius from " + fixedPointText(kMinAirTemperatureC, 0) +
             " to " + fixedPointText(kMaxAirTemperatureC, 0) + ", got '" + *r.temperature + "'";
    }
    c.temperatureC = t;
    c.speedMps.reset();
    c.humidityPercent = kDefaultHumidityPercent;
  }
  if (r.humidity) {
    double h = 0.0;
    if (!readDecimal(*r.humidity, h) || h < 0.0 || h > 100.0) {
      return "--humidity needs a relative humidity from 0 to 100 %, got '" + *r.humidity + "'";
    }
    c.humidityPercent = h;
  }
  return {};
}

std::string runDeviceText(const CliRequest& r) {
  if (r.backend == "sim") {
    return "simulated room: " + (r.room ? *r.room : std::string("default"));
  }
  return "sound card: " + r.device.value_or("default");
}
