#include <algorithm>
#include <ostream>

#include "audio/measurement.h"
#include "cli/commands.h"
#include "cli/ping_printer.h"
#include "cli/session_options.h"
#include "engine/buffer_plan.h"

// `analyze DIR`: every complete ping of a recorded session, in order, through one echo tracker,
// as the live run measured them; the warm-ups are not needed (the devices discard them too).
int runAnalyzeSession(CliRun& run, const std::string& folder) {
  if (const std::string problem = readRecordedSession(folder, run.replay); !problem.empty()) {
    run.err << "mervane-cli: cannot analyze '" << folder << "': " << problem << "\n";
    return kExitUsage;
  }
  SonarSettings& s = run.program.settings;
  applyCapture(run.replay.info.capture, s);
  applySessionCalibration(run);
  run.planOk = planBuffers(s);
  if (!run.planOk) {
    run.err << "mervane-cli: the buffer plan failed for the session's settings\n";
    return kExitFailed;
  }
  if (const int code = checkReplayPlan(run); code != kExitOk) return code;
  warnOfFoldedChirp(run);
  const RecordedSession& session = run.replay;
  const uint64_t recordBytes = session.info.recordBytes;
  PingPrinter printer(run);
  PcmWav wav;
  uint32_t n = 0;
  for (const SessionPing& ping : session.pings) {
    const std::string path = folder + "/" + sessionPingName(ping.index, PingFile::kPing);
    if (const std::string problem =
            readPcmWavFile(path, recordBytes + 4096, WavPart::kSamples, wav);
        !problem.empty()) {
      run.err << "mervane-cli: cannot analyze '" << folder << "': " << problem << "\n";
      return kExitUsage;
    }
    const size_t bytes = std::min<size_t>(wav.bytes.size(), s.recordBuffer.size());
    std::fill(s.recordBuffer.begin(), s.recordBuffer.end(), uint8_t{0});
    std::copy_n(wav.bytes.begin(), bytes, s.recordBuffer.begin());
    const MeasurementResult result = analyzeRecording(s, MeasureCaller::kTimedPing);
    if (!printer.print(++n, reportMeasurement(run.program, result))) return kExitFailed;
  }
  return printer.printAverage(n) ? kExitOk : kExitFailed;
}
