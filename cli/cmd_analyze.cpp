#include <algorithm>
#include <ostream>

#include "audio/measurement.h"
#include "cli/commands.h"
#include "cli/json.h"
#include "cli/ping_report.h"
#include "cli/wav_io.h"
#include "engine/buffer_plan.h"

namespace {

// No plan records more than this, so nothing longer is worth reading.
constexpr uint64_t kMostRecordBytes = uint64_t{kMaxPlanBytes} + kRecordExtraBytes;

}  // namespace

int runAnalyzeCommand(CliRun& run) {
  const auto& args = run.request.args;
  if (args.size() != 1) {
    run.err << "mervane-cli: analyze takes exactly one FILE.wav\n";
    return kExitUsage;
  }
  WavRecording wav;
  if (const std::string problem = readWav(args[0], kMostRecordBytes, wav); !problem.empty()) {
    run.err << "mervane-cli: " << problem << "\n";
    return kExitUsage;
  }
  SonarSettings& s = run.program.settings;
  s.waveFormat = wav.format;
  if (!planBuffers(s)) {
    run.err << "mervane-cli: the buffer plan failed for the recording's format\n";
    return kExitFailed;
  }
  warnOfFoldedChirp(run);
  // The recording takes the place of the record header: inBufferBytes + kRecordExtraBytes bytes
  // at most, the rest stays silent.
  const size_t recordBytes =
      std::min<size_t>({wav.bytes.size(), static_cast<size_t>(s.inBufferBytes) + kRecordExtraBytes,
                        s.recordBuffer.size()});
  std::fill(s.recordBuffer.begin(), s.recordBuffer.end(), uint8_t{0});
  std::copy_n(wav.bytes.begin(), recordBytes, s.recordBuffer.begin());

  const MeasurementResult result = analyzeRecording(s, MeasureCaller::kTimedPing);
  const PingReport report = reportMeasurement(run.program, result);
  if (run.request.json) {
    JsonWriter json;
    json.beginObject();
    writeCalibrationJson(json, s);
    writePingJson(json, report);
    json.endObject();
    run.out << json.text() << "\n";
  } else {
    run.out << "recording: " << pingSummary(report) << "\n";
  }
  return kExitOk;
}
