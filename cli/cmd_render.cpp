#include <algorithm>
#include <ostream>

#include "app/distance_table.h"
#include "app/sonar_files.h"
#include "cli/change_option.h"
#include "cli/cli_shell.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "display/echogram.h"
#include "io/checked_save.h"

namespace {

constexpr double kScanTickMs = 25.0;  // the scan timer's period

// The drawn scan columns (1 to 357) that hold any stored value; column 0 is the file header.
uint32_t storedColumns(const ScanHistory& h) {
  uint32_t count = 0;
  for (uint32_t c = 1; c < kScanColumns; ++c) {
    const auto first = h.values.begin() + c * kHistoryRows;
    if (std::any_of(first, first + kHistoryRows, [](int32_t v) { return v != 0; })) ++count;
  }
  return count;
}

}  // namespace

int runRenderCommand(CliRun& run) {
  std::optional<std::string> file, png, csv;
  bool understood = true;
  ChangeView& changes = run.program.changeView;
  std::string badChange;
  const auto& args = run.request.args;
  for (size_t i = 0; i < args.size(); ++i) {
    if (readChangeOption(args, i, changes, badChange)) {
      if (!badChange.empty()) understood = false;
    } else if (args[i] == "--png" && i + 1 < args.size() && !args[i + 1].empty()) {
      png = args[++i];
    } else if (args[i] == "--csv" && i + 1 < args.size() && !args[i + 1].empty()) {
      csv = args[++i];
    } else if (!file && args[i].rfind("--", 0) != 0) {
      file = args[i];
    } else {
      understood = false;
    }
  }
  if (!understood || !file || !png) {
    run.err << "mervane-cli: render takes FILE.son --png OUT.png [--csv OUT.csv] [--changes] "
               "[--changes-time S]"
            << (badChange.empty() ? "" : ": " + badChange) << "\n";
    return kExitUsage;
  }
  CliFrontEnd& front = frontEndOf(run);
  CliShell& shell = front.shell();
  const size_t first = shell.messages().size();
  const bool echo = shell.setEcho(false);
  const FileOutcome loaded = openChosenFile(front.app(), FileChoice{*file, FileKind::kSonar});
  shell.setEcho(echo);
  if (loaded != FileOutcome::kDone) {
    run.err << "mervane-cli: cannot read '" << *file << "': " << shell.reasonSince(first) << "\n";
    return kExitUsage;
  }
  // What Open noted (a file cut short, distances that do not read) is said, and the run goes on.
  printOpenNotes(run, shell, first);
  // A table of its header alone would pass for a sweep without echoes; nothing is written.
  if (const std::string none = noDistancesText(run.program); csv && !none.empty()) {
    run.err << "mervane-cli: no distances to write to '" << *csv << "': " << none << "\n";
    return kExitUsage;
  }
  if (changes.on) {
    // A file keeps no times: its columns are taken a timed ping's interval apart.
    const double columnSeconds =
        (run.program.settings.clockMultiplier + 1.0) * kScanTickMs / 1000.0;
    replotChanges(front.surface(), run.program.settings, run.program.history, changes,
                  columnSeconds);
  }
  // The picture never replaces the file it was drawn from.
  const std::string inputs[] = {*file};
  if (const std::string problem = front.surface().savePng(*png, inputs); !problem.empty()) {
    run.err << "mervane-cli: cannot write '" << *png << "': " << problem << "\n";
    return kExitFailed;
  }
  if (csv) {
    const std::string table = distanceTableCsv(run.program);
    if (const std::string problem = saveTextChecked(*csv, table, inputs); !problem.empty()) {
      run.err << "mervane-cli: cannot write '" << *csv << "': " << problem << "\n";
      return kExitFailed;
    }
  }
  const uint32_t columns = storedColumns(run.program.history);
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    json.number("columns", columns);
    json.number("scanColumn", run.program.scan.scanColumn);
    json.endObject();
    run.out << json.text() << "\n";
  } else {
    run.out << "render: " << columns << " columns, scan column " << run.program.scan.scanColumn
            << ", picture " << *png << "\n";
  }
  return kExitOk;
}
