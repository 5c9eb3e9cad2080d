#include <charconv>
#include <ostream>
#include <string>
#include <vector>

#include "audio/measurement.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/ping_report.h"

namespace {

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

// Each ping is printed the moment it is measured, so a run that fails half-way has shown every
// ping before the failure, and a long run needs no memory for its pings. In JSON the document is
// streamed: its opening on the first line, one ping object per line, its closing on the last,
// written also when a ping fails; the average of a whole run comes after the pings.
class PingPrinter {
 public:
  explicit PingPrinter(CliRun& run) : run_(run) {
    if (!run_.request.json) return;
    // The calibration opens the document, so the pings that follow are read by it.
    JsonWriter json;
    json.beginObject();
    writeCalibrationJson(json, run_.program.settings);
    std::string opening = json.text();
    opening += opening.size() > 1 ? ",\"pings\":[\n" : "\"pings\":[\n";
    run_.out << opening << std::flush;
  }
  ~PingPrinter() {
    if (run_.request.json) run_.out << "]" << closing_ << "}\n" << std::flush;
  }
  PingPrinter(const PingPrinter&) = delete;
  PingPrinter& operator=(const PingPrinter&) = delete;

  // False once the output cannot be written (a full disk, a closed pipe).
  bool print(uint32_t n, const PingReport& report) {
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

  // The echoes of the latest pings combined, once every ping of the run has been measured.
  bool printAverage(uint32_t pings) {
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

 private:
  CliRun& run_;
  std::string closing_;
};

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
    } else if (args[i] == "--count") {
      run.err << "mervane-cli: ping: --count needs a whole number from 1 to " << kMaxPingCount
              << (i + 1 < args.size() ? ", got '" + args[i + 1] + "'" : std::string()) << "\n";
      return kExitUsage;
    } else {
      run.err << "mervane-cli: ping takes only --count N (1 to " << kMaxPingCount
              << ") and --average, got '" << args[i] << "'\n";
      return kExitUsage;
    }
  }
  Program& p = run.program;
  for (int i = 0; i < kStartWarmUps; ++i) {
    if (const WaveError e = flushInput(*p.backend, p.pair, p.settings.waveFormat); e != kWaveOk) {
      return deviceFailure(run, "the warm-up", 0, e);
    }
  }
  PingPrinter printer(run);
  uint32_t silent = 0;
  for (uint32_t n = 1; n <= count; ++n) {
    const MeasurementResult r =
        runMeasurement(p.settings, p.pair, *p.backend, MeasureCaller::kTimedPing);
    if (r.warmUp != kWaveOk) return deviceFailure(run, "the warm-up", n, r.warmUp);
    if (r.ping != kWaveOk) return deviceFailure(run, "play and record", n, r.ping);
    if (r.silent) {
      ++silent;
      run.err << "mervane-cli: warning: ping " << n
              << " recorded only silence where the chirp should be; it is not counted\n";
    }
    if (!printer.print(n, reportMeasurement(p, r))) return kExitFailed;  // runCli says why
  }
  if (average && !printer.printAverage(count - silent)) return kExitFailed;
  return kExitOk;
}
