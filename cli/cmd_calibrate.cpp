#include <charconv>
#include <ostream>
#include <sstream>

#include "app/calibrate.h"
#include "app/calibration_file.h"
#include "app/distance_table.h"
#include "cli/calibration_options.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "io/checked_save.h"

namespace {

constexpr double kMaxKnownDistanceM = 100.0;

struct CalibrateArgs {
  KnownDistances known;
  bool distanceGiven = false;
  std::optional<std::string> save;
};

std::string readDistance(const std::string& option, const std::string& text, double& value) {
  if (!readDecimal(text, value) || !(value > 0.0) || value > kMaxKnownDistanceM) {
    return "calibrate: " + option + " needs metres above 0 and up to " +
           fixedPointText(kMaxKnownDistanceM, 0) + ", got '" + text + "'";
  }
  return {};
}

std::string parseArgs(const std::vector<std::string>& args, CalibrateArgs& a) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& w = args[i];
    const bool valued =
        w == "--distance" || w == "--second-distance" || w == "--count" || w == "--save";
    if (!valued) {
      return "calibrate takes --distance D, --second-distance D2, --count N and --save FILE, "
             "got '" +
             w + "'";
    }
    if (i + 1 >= args.size()) return "calibrate: " + w + " needs a value";
    const std::string& v = args[++i];
    if (w == "--distance") {
      if (std::string p = readDistance(w, v, a.known.distanceM); !p.empty()) return p;
      a.distanceGiven = true;
    } else if (w == "--second-distance") {
      double d = 0.0;
      if (std::string p = readDistance(w, v, d); !p.empty()) return p;
      a.known.secondDistanceM = d;
    } else if (w == "--count") {
      const auto [stop, ec] = std::from_chars(v.data(), v.data() + v.size(), a.known.pings);
      if (ec != std::errc() || stop != v.data() + v.size() || a.known.pings < 1 ||
          a.known.pings > kMaxCalibrationPings) {
        return "calibrate: --count needs a whole number from 1 to " +
               std::to_string(kMaxCalibrationPings) + ", got '" + v + "'";
      }
    } else {
      a.save = v;
    }
  }
  if (!a.distanceGiven) return "calibrate needs --distance D (metres to a wall in front)";
  return {};
}

void printResult(CliRun& run, const CalibrateArgs& a, const CalibrationOutcome& o) {
  const double speed = speedInUse(kAir, o.calibration);
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    json.real("speedOfSound", speed, 3);
    json.real("offsetMetres", o.calibration.offsetMetres, 4);
    json.real("residualMetres", o.solution.residualMetres, 4);
    json.number("pings", a.known.pings);
    json.real("reading", o.solution.readingMetres, 4);
    if (a.known.secondDistanceM) json.real("secondReading", o.solution.secondReadingMetres, 4);
    if (a.save) json.string("saved", *a.save);
    json.endObject();
    run.out << json.text() << "\n";
    return;
  }
  std::ostringstream text;
  text << "offset " << fixedPointText(o.calibration.offsetMetres, 4) << " m, speed of sound "
       << fixedPointText(speed, 2) << " m/s" << (o.solution.speedMps ? " (solved)" : "")
       << ", residual " << fixedPointText(o.solution.residualMetres * 1000.0, 1) << " mm over "
       << a.known.pings << " pings (read uncalibrated at "
       << fixedPointText(o.solution.readingMetres, 4) << " m";
  if (a.known.secondDistanceM) {
    text << " and " << fixedPointText(o.solution.secondReadingMetres, 4) << " m";
  }
  text << ")\n";
  if (a.save) text << "saved " << *a.save << "\n";
  run.out << text.str();
}

}  // namespace

int runCalibrateCommand(CliRun& run) {
  CalibrateArgs args;
  if (std::string problem = parseArgs(run.request.args, args); !problem.empty()) {
    run.err << "mervane-cli: " << problem << "\n";
    return kExitUsage;
  }
  const CalibrationOutcome o = calibrateAtKnownDistance(run.program, args.known);
  if (o.error != kWaveOk) {
    run.err << "mervane-cli: calibrate: a ping failed: " << run.program.backend->errorText(o.error)
            << "\n";
    return kExitFailed;
  }
  if (!o.solution.solved()) {
    run.err << "mervane-cli: calibrate: refused: " << o.solution.problem << "\n";
    return kExitFailed;
  }
  if (args.save) {
    const CalibrationRecord record{o.calibration, runDeviceText(run.request), calibrationTimeNow()};
    const std::vector<std::string> inputs(run.request.load ? 1 : 0, run.request.load.value_or(""));
    if (const std::string problem =
            saveTextChecked(*args.save, calibrationFileText(record), inputs);
        !problem.empty()) {
      run.err << "mervane-cli: cannot write '" << *args.save << "': " << problem << "\n";
      return kExitFailed;
    }
  }
  printResult(run, args, o);
  return kExitOk;
}
