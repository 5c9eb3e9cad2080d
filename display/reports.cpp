#include "display/reports.h"

#include <algorithm>
#include <cmath>

#include "display/text_format.h"
#include "engine/numeric.h"

namespace {

// The statistics are 32-bit and wrap, as the report has always computed them.
int32_t wrappingAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

struct OffsetStatistics {
  int32_t average = 0;
  int32_t deviation = 0;
};

// Population deviation around the truncated average; each square is formed in single precision.
// With no scans both are 0.
OffsetStatistics offsetStatistics(const ScanOffsets& offsets, uint32_t scans) {
  if (scans == 0) return {};
  const auto n = static_cast<int32_t>(scans);
  int32_t sum = 0;
  for (uint32_t k = 1; k <= scans; ++k)
    sum = wrappingAdd(sum, static_cast<int32_t>(offsets.forScan(k)));
  const int32_t average = sum / n;
  int32_t total = 0;
  for (uint32_t k = 1; k <= scans; ++k) {
    const auto d = static_cast<int32_t>(offsets.forScan(k) - static_cast<uint32_t>(average));
    const float df = static_cast<float>(d);
    total = wrappingAdd(total, truncToInt32(df * df));
  }
  const int32_t variance = total / n;
  const double root = std::sqrt(static_cast<double>(static_cast<uint32_t>(variance)));
  return {average, truncToInt32(root)};
}

}  // namespace

std::string infoReportText(const SonarSettings& s, const ScanState& scan) {
  // Only a file can bring a column beyond the table; the statistics cover the table.
  const uint32_t scans = std::min(scan.scanColumn, kScanColumns);
  const OffsetStatistics stats = offsetStatistics(scan.scanOffsets, scans);
  return formatText(
      "Nr. scans %d\r\nSet offset %d B\r\nLast offset %d B\r\nAve. offset %d B\r\nDev. of offset "
      "%d B\r\nBuffer in %d B\r\nBuffer out %d B\r\nTime in %d ms\r\nTime out %d um\r\nStart "
      "freq. %d Hz\r\nEnd freq. %d Hz",
      static_cast<int32_t>(scans), static_cast<int32_t>(s.offsetBytes),
      static_cast<int32_t>(scan.scanOffsets.forScan(scans)), stats.average, stats.deviation,
      static_cast<int32_t>(s.inBufferBytes), static_cast<int32_t>(s.outBufferBytes),
      static_cast<int32_t>(s.recordTime), static_cast<int32_t>(s.chirpTime),
      static_cast<int32_t>(s.startFrequency), static_cast<int32_t>(s.endFrequency));
}

std::string calibrationReportText(const SonarSettings& s) {
  return formatText("Speed of sound %.1f m/s\r\nOffset %.3f m (%s)", speedInUse(s),
                    s.calibration.offsetMetres,
                    calibrated(s.calibration) ? "calibrated" : "not calibrated");
}

std::string obstructionReportText(const std::array<double, kMaxEchoes>& obstructions) {
  std::string text;
  for (size_t i = 0; i < obstructions.size(); ++i) {
    text += formatText("Obstruction #%d %3.2f[m]\r\n", static_cast<int>(i + 1), obstructions[i]);
  }
  return text;
}
