#include "app/distance_table.h"

#include <cmath>
#include <cstdint>

std::string fixedPointText(double value, int decimals) {
  uint64_t unit = 1;
  for (int i = 0; i < decimals; ++i) unit *= 10;
  const double scaled = std::round(std::fabs(value) * static_cast<double>(unit));
  if (!std::isfinite(scaled) || scaled > 9.0e15) return "nan";
  const auto units = static_cast<uint64_t>(scaled);
  std::string text = (value < 0.0 && units != 0) ? "-" : "";
  text += std::to_string(units / unit);
  if (decimals <= 0) return text;
  std::string fraction = std::to_string(units % unit);
  text += '.';
  text.append(static_cast<size_t>(decimals) - fraction.size(), '0');
  return text + fraction;
}

ColumnMeasurement columnMeasurement(const SonarSettings& s, uint32_t foundOffset,
                                    const EchoDistances& lags) {
  ColumnMeasurement m{true, foundOffset, {}, s.waveFormat.samplesPerSec};
  size_t n = 0;
  for (const double lag : lags) {
    if (!(lag > 0.0) || !std::isfinite(lag)) break;
    m.lags[n++] = lag;
  }
  return m;
}

double metresOfLag(const SonarSettings& s, const ColumnMeasurement& m, size_t echo) {
  if (m.samplesPerSec == 0) return 0.0;
  return m.lags[echo] / m.samplesPerSec * speedInUse(s) / 2.0 + s.calibration.offsetMetres;
}

std::string distanceTableCsv(const Program& program) {
  constexpr int kDecimals = 3;  // millimetres: finer than any echo the ping can tell apart
  std::string csv;
  // A table read with a calibration says so, ahead of the header; one without stays as it was.
  if (const SonarSettings& s = program.settings; calibrated(s.calibration)) {
    csv = "# speed of sound " + fixedPointText(speedInUse(s), 3) + " m/s, offset " +
          fixedPointText(s.calibration.offsetMetres, 4) + " m\n";
  }
  csv += "column,found_offset_bytes";
  for (size_t i = 1; i <= kMaxEchoes; ++i) csv += ",echo_" + std::to_string(i) + "_m";
  csv += '\n';
  for (uint32_t column = 0; column < program.measured.size(); ++column) {
    const ColumnMeasurement& m = program.measured[column];
    if (!m.stored) continue;
    csv += std::to_string(column) + ',' + std::to_string(m.foundOffset);
    for (size_t k = 0; k < m.lags.size() && m.lags[k] > 0.0; ++k) {
      csv += ',' + fixedPointText(metresOfLag(program.settings, m, k), kDecimals);
    }
    csv += '\n';
  }
  return csv;
}
