#include <charconv>
#include <ostream>
#include <string>

#include "audio/measurement.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/ping_report.h"

namespace {

// A scan is started with this many warm-up recordings before its first ping.
constexpr int kStartWarmUps = 8;
constexpr uint32_t kMaxPingCount = 100000;

bool readCount(const std::string& text, uint32_t& count) {
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, count);
  return ec == std::errc() && stop == end && count >= 1 && count <= kMaxPingCount;
}

int deviceFailure(CliRun& run, const char* step, uint32_t ping, WaveError code) {
  run.err << "mervane-cli: " << step;
  if (ping > 0) run.err << " of ping " << ping;
  run.err << " failed: " << run.program.backend->errorText(code) << "\n";
  return kExitFailed;
}

void printAverage(CliRun& run, JsonWriter* json, uint32_t pings) {
  const std::vector<double> echoes = foundDistances(averagedEchoes(run.program.echoTracker));
  if (json != nullptr) {
    json->beginObject("average");
    json->number("pings", pings);
    json->beginArray("obstructions");
    for (const double d : echoes) json->real({}, d, 3);
    json->endArray();
    json->endObject();
    return;
  }
  PingReport report;
  report.obstructions = echoes;
  run.out << "average of " << pings << " pings: " << echoSummary(report) << "\n";
}

}  // namespace

int runPingCommand(CliRun& run) {
  uint32_t count = 1;
  bool average = false;
  const auto& args = run.request.args;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--count" && i + 1 < args.size() && readCount(args[i + 1], count)) {
      ++i;
    } else if (args[i] == "--average") {
      average = true;
    } else {
      run.err << "mervane-cli: ping takes only --count N (1 to " << kMaxPingCount
              << ") and --average, got '" << args[i] << "'\n";
      return kExitUsage;
    }
  }
  Program& p = run.program;
  // --average combines every ping of this command, each with the same weight.
  restartEchoAverage(p.echoTracker, 0);
  for (int i = 0; i < kStartWarmUps; ++i) {
    if (const WaveError e = flushInput(*p.backend, p.pair, p.settings.waveFormat); e != kWaveOk) {
      return deviceFailure(run, "the warm-up", 0, e);
    }
  }
  std::vector<PingReport> reports;
  for (uint32_t n = 1; n <= count; ++n) {
    const MeasurementResult r =
        runMeasurement(p.settings, p.pair, *p.backend, MeasureCaller::kTimedPing);
    if (r.warmUp != kWaveOk) return deviceFailure(run, "the warm-up", n, r.warmUp);
    if (r.ping != kWaveOk) return deviceFailure(run, "play and record", n, r.ping);
    reports.push_back(reportMeasurement(p, r));
  }
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    json.beginArray("pings");
    for (const PingReport& report : reports) {
      json.beginObject();
      writePingJson(json, report);
      json.endObject();
    }
    json.endArray();
    if (average) printAverage(run, &json, count);
    json.endObject();
    run.out << json.text() << "\n";
  } else {
    for (size_t i = 0; i < reports.size(); ++i) {
      run.out << "ping " << i + 1 << ": " << pingSummary(reports[i]) << "\n";
    }
    if (average) printAverage(run, nullptr, count);
  }
  return kExitOk;
}
