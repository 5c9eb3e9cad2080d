#include "cli/ping_report.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

#include "cli/json.h"
#include "engine/correlation.h"
#include "engine/echo_tracker.h"

PingReport reportMeasurement(Program& program, const MeasurementResult& result) {
  SonarSettings& s = program.settings;
  program.scan.peakAmplitude = result.peakAmplitude;
  // Silence teaches the tracker nothing and counts in no average.
  if (!result.silent) {
    observeMeasurement(s, result.arrival, program.echoTracker);
    program.obstructionList = latestEchoes(program.echoTracker);
  }

  PingReport report;
  report.foundOffset = result.arrival.offset;
  report.peakAmplitude = result.peakAmplitude;
  const size_t bins = std::min<size_t>(kEnvelopeBins, s.correlationBuffer.size());
  report.envelope.assign(s.correlationBuffer.begin(), s.correlationBuffer.begin() + bins);
  if (!result.silent) report.obstructions = foundDistances(program.obstructionList);
  return report;
}

std::vector<double> foundDistances(const EchoDistances& distances) {
  std::vector<double> found;
  for (const double d : distances) {
    if (d > 0.0) found.push_back(d);
  }
  std::sort(found.begin(), found.end());
  return found;
}

void writeCalibrationJson(JsonWriter& json, const SonarSettings& s) {
  if (!calibrated(s.calibration)) return;
  json.real("speedOfSound", speedInUse(s), 3);
  json.real("offsetMetres", s.calibration.offsetMetres, 4);
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
  line << "offset " << report.foundOffset << " peak " << report.peakAmplitude << " "
       << echoSummary(report);
  return line.str();
}

std::string echoSummary(const PingReport& report) {
  std::ostringstream line;
  line << "echoes";
  if (report.obstructions.empty()) line << " none";
  line << std::fixed << std::setprecision(2);
  for (const double d : report.obstructions) line << " " << d << " m";
  return line.str();
}
