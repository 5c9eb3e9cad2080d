#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/program.h"
#include "audio/measurement.h"

class JsonWriter;

// A run of pings starts with this many warm-up recordings, as a scan does.
constexpr int kStartWarmUps = 8;

// What the command line shows of one measurement.
struct PingReport {
  uint32_t foundOffset = 0;
  uint32_t peakAmplitude = 0;
  std::vector<int32_t> envelope;     // the echo bins at the front of correlationBuffer
  std::vector<double> obstructions;  // metres, nearest first, only the ones found
};

// Finds the echoes of the measurement just analysed (on its own, while the program's tracker
// learns from it and adds it to its average) into program.obstructionList and gathers the report
// from the program's buffers.
PingReport reportMeasurement(Program& program, const MeasurementResult& result);

// The distances that hold an echo, nearest first.
std::vector<double> foundDistances(const EchoDistances& distances);

// "speedOfSound" and "offsetMetres" into the document's top-level object when the settings read
// with a calibration; nothing without one, so uncalibrated documents stay as they were.
void writeCalibrationJson(JsonWriter& json, const SonarSettings& settings);

// The report's keys into an object that the caller has begun.
void writePingJson(JsonWriter& json, const PingReport& report);
// "offset 652 peak 123456 echoes 0.80 m 1.90 m" (or "echoes none").
std::string pingSummary(const PingReport& report);
// "echoes 0.80 m 1.90 m" (or "echoes none").
std::string echoSummary(const PingReport& report);
