// analyze FILE.wav... [--average]: recordings made elsewhere, each one ping, in order, through the
// program's one echo tracker as live pings go through it.
#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "audio/measurement.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/ping_report.h"
#include "cli/wav_io.h"
#include "engine/buffer_plan.h"

namespace {

// No plan records more than this, so nothing longer is worth reading.
constexpr uint64_t kMostRecordBytes = uint64_t{kMaxPlanBytes} + kRecordExtraBytes;

struct AnalyzeRequest {
  std::vector<std::string> files;
  bool average = false;
};

bool sameFormat(const WaveFormat& a, const WaveFormat& b) {
  return a.channels == b.channels && a.bitsPerSample == b.bitsPerSample &&
         a.samplesPerSec == b.samplesPerSec;
}

std::string formatText(const WaveFormat& f) {
  return std::to_string(f.bitsPerSample) + "-bit, " + std::to_string(f.channels) + " channel(s), " +
         std::to_string(f.samplesPerSec) + " Hz";
}

// Every file is read and its format checked before the first is analysed: a bad or different
// file late in the list ends the command before anything is printed.
int checkRecordings(CliRun& run, const AnalyzeRequest& request, WaveFormat& format) {
  WavRecording wav;
  for (size_t i = 0; i < request.files.size(); ++i) {
    if (const std::string problem = readWav(request.files[i], kMostRecordBytes, wav);
        !problem.empty()) {
      run.err << "mervane-cli: " << problem << "\n";
      return kExitUsage;
    }
    if (i == 0) {
      format = wav.format;
    } else if (!sameFormat(format, wav.format)) {
      run.err << "mervane-cli: " << request.files[i] << " is " << formatText(wav.format) << ", "
              << request.files[0] << " is " << formatText(format)
              << ": the recordings of one analysis must share their format\n";
      return kExitUsage;
    }
  }
  return kExitOk;
}

// The recording takes the place of the record header: inBufferBytes + kRecordExtraBytes bytes at
// most, the rest stays silent.
void fillRecordBuffer(SonarSettings& s, const WavRecording& wav) {
  const size_t recordBytes =
      std::min<size_t>({wav.bytes.size(), static_cast<size_t>(s.inBufferBytes) + kRecordExtraBytes,
                        s.recordBuffer.size()});
  std::fill(s.recordBuffer.begin(), s.recordBuffer.end(), uint8_t{0});
  std::copy_n(wav.bytes.begin(), recordBytes, s.recordBuffer.begin());
}

void printSingle(CliRun& run, const PingReport& report) {
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    writeCalibrationJson(json, run.program.settings);
    writePingJson(json, report);
    json.endObject();
    run.out << json.text() << "\n";
  } else {
    run.out << "recording: " << pingSummary(report) << "\n";
  }
}

int parseAnalyze(CliRun& run, AnalyzeRequest& request) {
  for (const std::string& arg : run.request.args) {
    if (arg == "--average") {
      request.average = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      run.err << "mervane-cli: analyze takes FILE.wav... and --average, got '" << arg << "'\n";
      return kExitUsage;
    } else {
      request.files.push_back(arg);
    }
  }
  if (request.files.empty()) {
    run.err << "mervane-cli: analyze takes at least one FILE.wav\n";
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace

int runAnalyzeCommand(CliRun& run) {
  // A session folder alone: its pings, as the live run measured them.
  const auto& args = run.request.args;
  std::error_code ec;
  if (args.size() == 1 && std::filesystem::is_directory(args[0], ec)) {
    return runAnalyzeSession(run, args[0]);
  }
  AnalyzeRequest request;
  if (const int code = parseAnalyze(run, request); code != kExitOk) return code;
  SonarSettings& s = run.program.settings;
  if (const int code = checkRecordings(run, request, s.waveFormat); code != kExitOk) return code;
  if (!planBuffers(s)) {
    run.err << "mervane-cli: the buffer plan failed for the recording's format\n";
    return kExitFailed;
  }
  warnOfFoldedChirp(run);
  // One file and no average: the single object of old. Otherwise the ping document.
  const bool single = request.files.size() == 1 && !request.average;
  std::vector<PingReport> reports;
  for (const std::string& file : request.files) {
    WavRecording wav;
    if (const std::string problem = readWav(file, kMostRecordBytes, wav); !problem.empty()) {
      run.err << "mervane-cli: " << problem << "\n";  // changed since it was checked
      return kExitUsage;
    }
    fillRecordBuffer(s, wav);
    const MeasurementResult result = analyzeRecording(s, MeasureCaller::kTimedPing);
    reports.push_back(reportMeasurement(run.program, result));
  }
  if (single) {
    printSingle(run, reports.front());
    return run.out.flush() ? kExitOk : kExitFailed;
  }
  const auto count = static_cast<uint32_t>(reports.size());
  const std::vector<double> average = foundDistances(averagedEchoes(run.program.echoTracker));
  if (!run.request.json) {
    for (uint32_t n = 1; n <= count; ++n) {
      run.out << "recording " << n << ": " << pingSummary(reports[n - 1]) << "\n";
    }
    if (request.average) {
      PingReport report;
      report.obstructions = average;
      run.out << "average of " << count << " recordings: " << echoSummary(report) << "\n";
    }
    return run.out.flush() ? kExitOk : kExitFailed;
  }
  JsonWriter json;
  json.beginObject();
  writeCalibrationJson(json, s);
  json.beginArray("pings");  // written whole: the recordings are read in moments
  for (const PingReport& report : reports) {
    json.beginObject();
    writePingJson(json, report);
    json.endObject();
  }
  json.endArray();
  if (request.average) {
    json.beginObject("average");  // as ping --average writes it
    json.number("pings", count);
    json.beginArray("obstructions");
    for (const double d : average) json.real({}, d, 3);
    json.endArray();
    json.endObject();
  }
  json.endObject();
  run.out << json.text() << "\n";
  return run.out.flush() ? kExitOk : kExitFailed;
}
