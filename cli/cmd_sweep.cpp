#include <charconv>
#include <chrono>
#include <ostream>
#include <sstream>
#include <thread>

#include "app/distance_table.h"
#include "app/scan_cycle.h"
#include "app/sonar_files.h"
#include "cli/cli_shell.h"
#include "cli/commands.h"
#include "cli/json.h"

namespace {

constexpr uint32_t kMaxColumns = 100000;
constexpr std::chrono::milliseconds kTickPeriod{25};

struct SweepArgs {
  uint32_t columns = UINT32_MAX;  // until the sweep is complete
  std::optional<std::string> save;
  std::optional<std::string> png;
  std::optional<std::string> csv;
};

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
    if (args[i] == "--columns" && hasValue && readColumns(args[i + 1], a.columns)) {
      ++i;
    } else if (args[i] == "--save" && hasValue) {
      a.save = args[++i];
    } else if (args[i] == "--png" && hasValue) {
      a.png = args[++i];
    } else if (args[i] == "--csv" && hasValue) {
      a.csv = args[++i];
    } else {
      return "sweep takes [--columns N] (1 to " + std::to_string(kMaxColumns) +
             ") [--save FILE.son|FILE.par] [--png FILE.png] [--csv FILE.csv], got '" + args[i] +
             "'";
    }
  }
  return std::nullopt;
}

// Timer ticks as the main window receives them, each followed by the repaint it asked for, until
// `columns` timed pings have run or the run stops. Returns the number of pings.
uint32_t runTicks(CliFrontEnd& front, uint32_t columns, bool realTime) {
  App& app = front.app();
  const ScanState& scan = app.program.scan;
  uint32_t pings = 0;
  while (pings < columns && scan.scanState == kRunning) {
    if (realTime) std::this_thread::sleep_for(kTickPeriod);
    timerTick(app);
    // A tick that pinged cleared the count; a failed ping paused the run.
    if (scan.tickCount == 0 && scan.scanState != kIdle) ++pings;
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

}  // namespace

int runSweepCommand(CliRun& run) {
  SweepArgs args;
  if (const auto problem = parseSweepArgs(run.request.args, args)) {
    run.err << "mervane-cli: " << *problem << "\n";
    return kExitUsage;
  }
  CliFrontEnd& front = frontEndOf(run);
  const size_t firstMessage = front.shell().messages().size();
  paintPlot(front.app());  // the window's first paint
  dispatchCommand(front.app(), CommandId::kStartSonar);
  front.paintIfRequested();
  const uint32_t pings = runTicks(front, args.columns, run.request.backend != "sim");
  if (run.program.scan.scanState == kIdle) {
    if (run.request.json) run.err << front.shell().messagesSince(firstMessage);
    run.err << "mervane-cli: the sweep stopped after " << pings << " columns\n";
    return kExitFailed;
  }
  // A .par name saves the settings alone; any other name a sonar file.
  const FileKind saveKind =
      args.save ? fileKindOf(*args.save).value_or(FileKind::kSonar) : FileKind::kSonar;
  if (args.save &&
      saveChosenFile(front.app(), FileChoice{*args.save, saveKind}) != FileOutcome::kDone) {
    if (run.request.json) run.err << front.shell().messagesSince(firstMessage);
    run.err << "mervane-cli: cannot save '" << *args.save << "'\n";
    return kExitFailed;
  }
  if (args.png && !front.surface().savePng(*args.png)) {
    run.err << "mervane-cli: cannot write '" << *args.png << "'\n";
    return kExitFailed;
  }
  // The distances of every stored column, as File > Export distances writes them.
  if (args.csv && !saveTextFile(*args.csv, distanceTableCsv(run.program))) {
    run.err << "mervane-cli: cannot write '" << *args.csv << "'\n";
    return kExitFailed;
  }
  printSweep(run, pings);
  return kExitOk;
}
