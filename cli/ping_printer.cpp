#include "cli/ping_printer.h"

#include <ostream>
#include <vector>

#include "cli/json.h"
#include "engine/echo_tracker.h"

PingPrinter::PingPrinter(CliRun& run) : run_(run) {
  if (!run_.request.json) return;
  // The calibration opens the document, so the pings that follow are read by it.
  JsonWriter json;
  json.beginObject();
  writeCalibrationJson(json, run_.program.settings);
  std::string opening = json.text();
  opening += opening.size() > 1 ? ",\"pings\":[\n" : "\"pings\":[\n";
  run_.out << opening << std::flush;
}

PingPrinter::~PingPrinter() {
  if (run_.request.json) run_.out << "]" << closing_ << "}\n" << std::flush;
}

bool PingPrinter::print(uint32_t n, const PingReport& report) {
  if (run_.request.json) {
    JsonWriter json;
    json.beginObject();
    writePingJson(json, report);
    json.endObject();
    run_.out << (n > 1 ? "," : "") << json.text() << "\n";
  } else {
    run_.out << "ping " << n << ": " << pingSummary(report) << "\n";
  }
  return static_cast<bool>(run_.out.flush());
}

bool PingPrinter::printAverage(uint32_t pings) {
  const std::vector<double> echoes = foundDistances(averagedEchoes(run_.program.echoTracker));
  if (!run_.request.json) {
    PingReport report;
    report.obstructions = echoes;
    run_.out << "average of " << pings << " pings: " << echoSummary(report) << "\n";
    return static_cast<bool>(run_.out.flush());
  }
  JsonWriter json;
  json.beginObject();
  json.number("pings", pings);
  json.beginArray("obstructions");
  for (const double d : echoes) json.real({}, d, 3);
  json.endArray();
  json.endObject();
  closing_.assign(",\"average\":").append(json.text());  // closes the streamed document
  return true;
}
