#include <charconv>
#include <cmath>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "app/tracking.h"
#include "audio/measurement.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/ping_report.h"
#include "engine/target_tracker.h"
#include "io/checked_save.h"

namespace {

constexpr uint32_t kDefaultTrackPings = 100;
constexpr uint32_t kMaxTrackPings = 100000;
constexpr double kMaxNearM = 1000.0;

struct TrackArgs {
  std::optional<double> nearM;
  uint32_t count = kDefaultTrackPings;
  std::optional<std::string> csv;
};

bool readNumber(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && stop == end && std::isfinite(value);
}

bool readCount(const std::string& text, uint32_t& count) {
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, count);
  return ec == std::errc() && stop == end && count >= 1 && count <= kMaxTrackPings;
}

// `--near D [--count N] [--csv FILE]`; empty on success, else the reason.
std::string readTrackArgs(const std::vector<std::string>& args, TrackArgs& a) {
  // Every option takes a value: each step reads a pair.
  for (size_t i = 0; i < args.size(); i += 2) {
    const bool hasValue = i + 1 < args.size();
    const std::string value = hasValue ? args[i + 1] : std::string();
    double near = 0.0;
    if (args[i] == "--near") {
      if (!hasValue || !readNumber(value, near) || near <= 0.0 || near > kMaxNearM) {
        return "track: --near needs a distance in metres above 0, got '" + value + "'";
      }
      a.nearM = near;
    } else if (args[i] == "--count") {
      if (!hasValue || !readCount(value, a.count)) {
        return "track: --count needs a whole number from 1 to " + std::to_string(kMaxTrackPings) +
               ", got '" + value + "'";
      }
    } else if (args[i] == "--csv") {
      if (!hasValue || value.empty()) return "track: --csv needs a file name";
      a.csv = value;
    } else {
      return "track takes --near D, --count N and --csv FILE, got '" + args[i] + "'";
    }
  }
  if (!a.nearM) return "track needs --near D, the distance of the echo to follow [m]";
  return {};
}

std::string fixed(double value, int decimals) {
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

const char* stateName(TrackState state) {
  switch (state) {
    case TrackState::kTracking:
      return "tracking";
    case TrackState::kLost:
      return "lost";
    case TrackState::kSearching:
      break;
  }
  return "searching";
}

std::string textLine(uint32_t n, const TrackPoint& p) {
  std::string line = "ping " + std::to_string(n) + ": " + fixed(p.seconds, 3) + " s ";
  if (p.state != TrackState::kTracking) return line + stateName(p.state) + "\n";
  return line + fixed(p.distanceM, 4) + " m amplitude " + fixed(p.amplitude, 3) + "\n";
}

std::string jsonLine(uint32_t n, const TrackPoint& p, const PingReport& report) {
  JsonWriter json;
  json.beginObject();
  writePingJson(json, report);
  json.real("time", p.seconds, 3);
  json.string("track", stateName(p.state));
  if (p.state == TrackState::kTracking) json.real("distance", p.distanceM, 6);
  json.real("amplitude", p.amplitude, 4);
  json.endObject();
  return (n > 1 ? "," : "") + json.text() + "\n";
}

}  // namespace

int runTrackCommand(CliRun& run) {
  TrackArgs args;
  if (const std::string problem = readTrackArgs(run.request.args, args); !problem.empty()) {
    run.err << "mervane-cli: " << problem << "\n";
    return kExitUsage;
  }
  std::unique_ptr<CheckedSave> csv;
  if (args.csv) {
    csv = std::make_unique<CheckedSave>(*args.csv);
    if (!csv->ready()) {
      run.err << "mervane-cli: cannot write '" << *args.csv << "': " << csv->problem() << "\n";
      return kExitFailed;
    }
    csv->write(trackCsvHeader(run.program.settings));
  }
  Program& p = run.program;
  for (int i = 0; i < kStartWarmUps; ++i) {
    if (const WaveError e = flushInput(*p.backend, p.pair, p.settings.waveFormat); e != kWaveOk) {
      run.err << "mervane-cli: the warm-up failed: " << p.backend->errorText(e) << "\n";
      return kExitFailed;
    }
  }
  auto tracker = std::make_unique<TargetTracker>();
  startTrack(*tracker, *args.nearM);
  const bool json = run.request.json;
  if (json) run.out << "{\"pings\":[\n" << std::flush;
  int code = kExitOk;
  TrackState before = TrackState::kSearching;
  for (uint32_t n = 1; n <= args.count && code == kExitOk; ++n) {
    const MeasurementResult r =
        runMeasurement(p.settings, p.pair, *p.backend, MeasureCaller::kTimedPing);
    if (r.warmUp != kWaveOk || r.ping != kWaveOk) {
      run.err << "mervane-cli: ping " << n
              << " failed: " << p.backend->errorText(r.warmUp != kWaveOk ? r.warmUp : r.ping)
              << "\n";
      code = kExitFailed;
      break;
    }
    const TrackPoint point = trackPing(
        *tracker,
        trackInputOf(p.settings, r.arrival, static_cast<double>(p.backend->clockMs()) / 1000.0));
    if (point.state == TrackState::kLost && before == TrackState::kTracking) {
      run.err << "mervane-cli: track: the echo is lost at " << fixed(point.seconds, 3)
              << " s; looking for it near its last distance\n";
    }
    before = point.state;
    if (csv) csv->write(trackCsvRow(point));
    run.out << (json ? jsonLine(n, point, reportMeasurement(p, r)) : textLine(n, point));
    if (!run.out.flush()) code = kExitFailed;  // runCli says why
  }
  if (json) run.out << "]}\n" << std::flush;
  if (code == kExitOk && csv && !csv->commit()) {
    run.err << "mervane-cli: cannot write '" << *args.csv << "': " << csv->problem() << "\n";
    code = kExitFailed;
  }
  return code;
}
