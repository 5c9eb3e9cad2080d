#include "cli/ping_report.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

#include "cli/json.h"
#include "engine/correlation.h"
#include "engine/echo_detector.h"

PingReport reportMeasurement(Program& program, const MeasurementResult& result) {
  SonarSettings& s = program.settings;
  program.scan.peakAmplitude = result.peakAmplitude;
  const auto echoes = detectEchoes(s, result.arrival);
  std::copy_n(echoes.begin(), std::min(echoes.size(), program.obstructionList.size()),
              program.obstructionList.begin());

  PingReport report;
  report.foundOffset = result.arrival.offset;
  report.peakAmplitude = result.peakAmplitude;
  const size_t bins = std::min<size_t>(kEnvelopeBins, s.correlationBuffer.size());
  report.envelope.assign(s.correlationBuffer.begin(), s.correlationBuffer.begin() + bins);
  for (const double d : program.obstructionList) {
    if (d > 0.0) report.obstructions.push_back(d);
  }
  std::sort(report.obstructions.begin(), report.obstructions.end());
  return report;
}

void writePingJson(JsonWriter& json, const PingReport& report) {
  json.number("foundOffset", report.foundOffset);
  json.number("peakAmplitude", report.peakAmplitude);
  json.numbers("envelope", std::span<const int32_t>(report.envelope));
  json.beginArray("obstructions");
  for (const double d : report.obstructions) json.real({}, d, 3);
  json.endArray();
}

std::string pingSummary(const PingReport& report) {
  std::ostringstream line;
  line << "offset " << report.foundOffset << " peak " << report.peakAmplitude << " echoes";
  if (report.obstructions.empty()) line << " none";
  line << std::fixed << std::setprecision(2);
  for (const double d : report.obstructions) line << " " << d << " m";
  return line.str();
}
