#include "app/recording.h"

#include <cstdio>

#include "audio/session_recorder.h"

SessionInfo sessionInfoFor(const Program& p, std::string source) {
  SessionInfo info;
  info.program = std::string("mervane ") + MERVANE_VERSION;
  info.source = std::move(source);
  info.capture = captureOf(p.settings);
  info.recordBytes = p.pair.inHeader.length;
  info.calibration = p.settings.calibration;
  info.speedOfSound = speedInUse(p.settings);
  return info;
}

std::string analysisSettingsJson(const SonarSettings& s) {
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "{\"medium\":%d,\"cutOff\":%d,\"amplification\":%d,\"gain\":%d,"
                "\"gainEnabled\":%u,\"tuneScale\":%u,\"deltaOffsetBytes\":%u,\"displayMode\":%u}",
                int{s.medium}, static_cast<int>(s.cutOff), static_cast<int>(s.amplification),
                static_cast<int>(s.gain), unsigned{s.gainEnabled}, s.tuneScale, s.deltaOffsetBytes,
                unsigned{s.displayMode});
  return buf;
}

std::string recordLatestPing(Program& p) {
  SessionRecorder* r = p.recorder.get();
  if (r == nullptr || !r->active()) return {};
  if (!r->checkCapture(captureOf(p.settings))) return r->problem();
  const WaveHeader& in = p.pair.inHeader;
  const std::span<const uint8_t> ping(in.data, in.data == nullptr ? 0 : in.length);
  if (r->addPing(p.pair.warmUpScratch, ping, p.backend->clockMs(),
                 analysisSettingsJson(p.settings))) {
    return {};
  }
  return r->problem();
}

void tellRecordingStopped(App& app, const std::string& stopped) {
  if (!stopped.empty()) {
    app.shell.showMessage(
        "The recording of the pings stopped; the measurement goes on.\n" + stopped, "Record pings",
        MessageIcon::kStop, MessageOwner::kMainWindow);
  }
}
