#include <charconv>
#include <chrono>
#include <ostream>
#include <sstream>
#include <thread>

#include "app/distance_table.h"
#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "cli/change_option.h"
#include "cli/cli_shell.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/ping_report.h"
#include "cli/session_options.h"
#include "io/checked_save.h"

namespace {

constexpr uint32_t kMaxColumns = 100000;
constexpr std::chrono::milliseconds kTickPeriod{25};

struct SweepArgs {
  uint32_t columns = UINT32_MAX;  // until the sweep is complete
  std::optional<std::string> save;
  std::optional<std::string> png;
  std::optional<std::string> csv;
  std::optional<std::string> record;  // a session folder
  ChangeView changes;
};

// The member an option that names an output file fills, or null for any other argument.
std::optional<std::string>* fileOption(SweepArgs& a, const std::string& option) {
  if (option == "--save") return &a.save;
  if (option == "--png") return &a.png;
  if (option == "--csv") return &a.csv;
  return nullptr;
}

bool readColumns(const std::string& text, uint32_t& columns) {
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, columns);
  return ec == std::errc() && stop == end && columns >= 1 && columns <= kMaxColumns;
}

// Returns the reason when the arguments are not
// `[--columns N] [--save FILE] [--png FILE] [--csv FILE]`.
std::optional<std::string> parseSweepArgs(const std::vector<std::string>& args, SweepArgs& a) {
  for (size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    std::string problem;
    if (readChangeOption(args, i, a.changes, problem)) {
      if (!problem.empty()) return "sweep: " + problem;
    } else if (args[i] == "--columns" && hasValue && readColumns(args[i + 1], a.columns)) {
      ++i;
    } else if (args[i] == "--columns") {
      return "sweep: --columns needs a whole number from 1 to " + std::to_string(kMaxColumns) +
             (hasValue ? ", got '" + args[i + 1] + "'" : std::string());
    } else if (args[i] == "--record") {
      if (!hasValue || args[i + 1].empty()) return "sweep: --record needs a folder";
      a.record = args[++i];
    } else if (std::optional<std::string>* file = fileOption(a, args[i])) {
      if (!hasValue || args[i + 1].empty()) return "sweep: " + args[i] + " needs a file name";
      *file = args[++i];
    } else {
      return "sweep takes [--columns N] (1 to " + std::to_string(kMaxColumns) +
             ") [--save FILE.son|FILE.par] [--png FILE.png] [--csv FILE.csv] [--record DIR] "
             "[--changes] [--changes-time S], got '" +
             args[i] + "'";
    }
  }
  return std::nullopt;
}

// Timer ticks as the main window receives them, each followed by the repaint it asked for, until
// `columns` timed pings have run or the run stops. Returns the number of pings. Without real
// time the ticks between pings pass at once, however many the multiplier asks for.
uint32_t runTicks(CliFrontEnd& front, uint32_t columns, bool realTime) {
  App& app = front.app();
  const ScanState& scan = app.program.scan;
  uint32_t pings = 0;
  while (pings < columns && scan.scanState == kRunning) {
    if (realTime) {
      std::this_thread::sleep_for(kTickPeriod);
    } else {
      skipIdleTicks(app);
    }
    if (timerTick(app) == TickOutcome::kPinged) ++pings;
    front.paintIfRequested();
  }
  return pings;
}

std::vector<double> foundObstructions(const Program& p) {
  std::vector<double> found;
  for (const double d : p.obstructionList) {
    if (d > 0.0) found.push_back(d);
  }
  return found;
}

void printSweep(CliRun& run, uint32_t columns) {
  const ScanState& scan = run.program.scan;
  const uint32_t lastOffset = scan.scanOffsets.forScan(scan.latestScan);
  const std::vector<double> obstructions = foundObstructions(run.program);
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    writeCalibrationJson(json, run.program.settings);
    json.number("columns", columns);
    json.number("lastOffset", lastOffset);
    json.number("peakAmplitude", scan.peakAmplitude);
    json.beginArray("obstructions");
    for (const double d : obstructions) json.real({}, d, 3);
    json.endArray();
    json.endObject();
    run.out << json.text() << "\n";
    return;
  }
  std::ostringstream line;
  line.setf(std::ios::fixed);
  line.precision(2);
  line << "sweep: " << columns << " columns, last offset " << lastOffset << ", peak "
       << scan.peakAmplitude << ", echoes";
  for (const double d : obstructions) line << " " << d << " m";
  if (obstructions.empty()) line << " none";
  run.out << line.str() << "\n";
}

int sweepAndSave(CliRun& run, const SweepArgs& args) {
  CliFrontEnd& front = frontEndOf(run);
  CliShell& shell = front.shell();
  // A failure is told once, in one line of ours with the program's messages in it.
  const bool echo = shell.setEcho(false);
  const size_t firstMessage = shell.messages().size();
  run.program.changeView.on = args.changes.on;
  run.program.changeView.timeConstantSeconds = args.changes.timeConstantSeconds;
  paintPlot(front.app());  // the window's first paint
  dispatchCommand(front.app(), CommandId::kStartSonar);
  front.paintIfRequested();
  const uint32_t pings = runTicks(front, args.columns, run.request.backend == "portaudio");
  if (run.program.scan.scanState == kIdle) {
    if (pings > 0) printSweep(run, pings);  // what was measured before the failure
    run.err << "mervane-cli: the sweep stopped after " << pings
            << " columns: " << shell.reasonSince(firstMessage) << "\n";
    return kExitFailed;
  }
  // A .par name saves the settings alone; any other name a sonar file.
  const FileKind saveKind =
      args.save ? fileKindOf(*args.save).value_or(FileKind::kSonar) : FileKind::kSonar;
  const size_t saveMessage = shell.messages().size();
  if (args.save &&
      saveChosenFile(front.app(), FileChoice{*args.save, saveKind}) != FileOutcome::kDone) {
    run.err << "mervane-cli: cannot save '" << *args.save << "': " << shell.reasonSince(saveMessage)
            << "\n";
    return kExitFailed;
  }
  if (echo) run.err << shell.messagesSince(firstMessage);
  // A picture or a table never replaces the file the settings came from.
  const std::vector<std::string> inputs(run.request.load ? 1 : 0, run.request.load.value_or(""));
  if (args.png) {
    if (const std::string problem = front.surface().savePng(*args.png, inputs); !problem.empty()) {
      run.err << "mervane-cli: cannot write '" << *args.png << "': " << problem << "\n";
      return kExitFailed;
    }
  }
  // The distances of every stored column, as File > Export distances writes them.
  if (args.csv) {
    const std::string csv = distanceTableCsv(run.program);
    if (const std::string problem = saveTextChecked(*args.csv, csv, inputs); !problem.empty()) {
      run.err << "mervane-cli: cannot write '" << *args.csv << "': " << problem << "\n";
      return kExitFailed;
    }
  }
  printSweep(run, pings);
  return kExitOk;
}

}  // namespace

int runSweepCommand(CliRun& run) {
  SweepArgs args;
  if (const auto problem = parseSweepArgs(run.request.args, args)) {
    run.err << "mervane-cli: " << *problem << "\n";
    return kExitUsage;
  }
  if (args.record) {
    if (const int code = startRecording(run, *args.record); code != kExitOk) return code;
  }
  const int code = sweepAndSave(run, args);
  finishRecording(run);
  return code;
}
