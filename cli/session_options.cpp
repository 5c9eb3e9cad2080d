#include "cli/session_options.h"

#include <ostream>

#include "app/recording.h"
#include "audio/session_recorder.h"

namespace {

std::string sourceOf(const CliRequest& r) {
  if (isReplayBackend(r.backend)) return "replay of " + replayFolder(r.backend);
  if (r.backend == "portaudio") return "portaudio: " + r.device.value_or("default devices");
  return "simulated room: " + r.room.value_or("default");
}

}  // namespace

bool isReplayBackend(std::string_view backend) {
  return backend.substr(0, kReplayPrefix.size()) == kReplayPrefix;
}

std::string replayFolder(std::string_view backend) {
  return std::string(backend.substr(kReplayPrefix.size()));
}

int loadReplaySession(CliRun& run) {
  const std::string folder = replayFolder(run.request.backend);
  if (const std::string problem = readRecordedSession(folder, run.replay); !problem.empty()) {
    run.err << "mervane-cli: cannot replay '" << folder << "': " << problem << "\n";
    return kExitUsage;
  }
  applyCapture(run.replay.info.capture, run.program.settings);
  applySessionCalibration(run);
  return kExitOk;
}

void applySessionCalibration(CliRun& run) {
  const CliRequest& r = run.request;
  if (!r.calibrationFile && !r.temperature) {
    run.program.settings.calibration = run.replay.info.calibration;
  }
}

int checkReplayPlan(CliRun& run) {
  const SonarSettings& s = run.program.settings;
  const uint64_t planned = uint64_t{s.inBufferBytes} + kRecordExtraBytes;
  if (run.planOk && planned != run.replay.info.recordBytes) {
    run.err << "mervane-cli: cannot replay '" << run.replay.folder << "': its recordings hold "
            << run.replay.info.recordBytes << " bytes, its settings plan " << planned << "\n";
    return kExitUsage;
  }
  return kExitOk;
}

int startRecording(CliRun& run, const std::string& folder) {
  const std::string replayed =
      isReplayBackend(run.request.backend) ? replayFolder(run.request.backend) : std::string();
  if (const std::string problem = SessionRecorder::checkFolder(folder, replayed);
      !problem.empty()) {
    run.err << "mervane-cli: --record: " << problem << "\n";
    return kExitUsage;
  }
  Program& p = run.program;
  std::string problem;
  p.recorder = SessionRecorder::start(folder, sessionInfoFor(p, sourceOf(run.request)),
                                      sessionBytesPerMinute(p.settings), problem);
  if (!p.recorder) {
    run.err << "mervane-cli: --record: " << problem << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

void finishRecording(CliRun& run) {
  SessionRecorder* r = run.program.recorder.get();
  if (r == nullptr) return;
  const std::string stopped = r->problem();
  const std::string problem = r->finish();
  if (!stopped.empty()) run.err << "mervane-cli: warning: " << stopped << "\n";
  if (!problem.empty()) {
    run.err << "mervane-cli: warning: cannot complete " << r->folder()
            << "/session.json: " << problem
            << "; the session reads up to its last ping all the same\n";
  }
  run.program.recorder.reset();
}
