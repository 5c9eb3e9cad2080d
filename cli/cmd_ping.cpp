#include <charconv>
#include <ostream>
#include <string>
#include <vector>

#include "app/recording.h"
#include "audio/measurement.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/ping_printer.h"
#include "cli/ping_report.h"
#include "cli/session_options.h"

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

int measurePings(CliRun& run, uint32_t count, bool average) {
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
    // A recording that stops is told once; the measurement goes on.
    if (const std::string stopped = recordLatestPing(p); !stopped.empty()) {
      run.err << "mervane-cli: warning: " << stopped << "\n";
    }
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

}  // namespace

int runPingCommand(CliRun& run) {
  uint32_t count = 1;
  bool average = false;
  std::optional<std::string> record;
  const auto& args = run.request.args;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--count" && i + 1 < args.size() && readCount(args[i + 1], count)) {
      ++i;
    } else if (args[i] == "--average") {
      average = true;
    } else if (args[i] == "--record" && i + 1 < args.size() && !args[i + 1].empty()) {
      record = args[++i];
    } else if (args[i] == "--count") {
      run.err << "mervane-cli: ping: --count needs a whole number from 1 to " << kMaxPingCount
              << (i + 1 < args.size() ? ", got '" + args[i + 1] + "'" : std::string()) << "\n";
      return kExitUsage;
    } else {
      run.err << "mervane-cli: ping takes only --count N (1 to " << kMaxPingCount
              << "), --average and --record DIR, got '" << args[i] << "'\n";
      return kExitUsage;
    }
  }
  if (record) {
    if (const int code = startRecording(run, *record); code != kExitOk) return code;
  }
  const int code = measurePings(run, count, average);
  finishRecording(run);
  return code;
}
