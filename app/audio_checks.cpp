#include <span>

#include "app/app_steps.h"
#include "app/commands.h"
#include "audio/measurement.h"
#include "engine/buffer_plan.h"

namespace {

constexpr std::string_view kCaptionInfo = "Info.";

// The four settings the checks change for their own measurements and put back afterwards.
struct CheckedSettings {
  uint32_t recordTime, chirpTime, startFrequency, endFrequency;
};

CheckedSettings remember(const SonarSettings& s) {
  return {s.recordTime, s.chirpTime, s.startFrequency, s.endFrequency};
}

// Puts the remembered settings back, plans the buffers for them (the result is not examined)
// and prepares the device pair over the new buffers.
void restoreAndPrepare(App& app, const CheckedSettings& kept) {
  SonarSettings& s = app.program.settings;
  s.recordTime = kept.recordTime;
  s.chirpTime = kept.chirpTime;
  s.startFrequency = kept.startFrequency;
  s.endFrequency = kept.endFrequency;
  planBuffers(s);
  reportWaveError(app, openPairForPlan(s, app.program.pair, *app.program.backend), kCaptionWaveOut);
}

// The stand-alone devices get inBufferBytes of the record buffer; the back end bounds the length
// by the span as well.
std::span<uint8_t> recordBufferOf(Program& p) {
  return p.settings.recordBuffer;
}

// A failure of a stand-alone play or record step: the report, then a repaint.
void reportAndRepaint(App& app, WaveError code) {
  if (code == kWaveOk) return;
  reportWaveError(app, code, kCaptionWaveOut);
  app.shell.requestRepaint();
}

}  // namespace

void playRecordBuffer(App& app) {
  Program& p = app.program;
  reportAndRepaint(app, playOnce(*p.backend, recordBufferOf(p), p.settings.inBufferBytes,
                                 p.settings.waveFormat));
}

void checkAudioSystem(App& app) {
  if (!app.shell.confirmNotice("This will take around 1 min. Set speaker close to the microphone.",
                               kCaptionInfo)) {
    return;
  }
  const CheckedSettings kept = remember(app.program.settings);
  app.shell.runDialog(DialogId::kAudioCheck);
  restoreAndPrepare(app, kept);
}

void checkRecording(App& app) {
  Program& p = app.program;
  const CheckedSettings kept = remember(p.settings);
  planBuffers(p.settings);
  for (uint32_t i = 0; i < kWarmUpsBeforeRun; ++i) {
    app.shell.showProgress("Recording check: warming up the microphone");
    runWarmUps(app, 1);
  }
  app.shell.showProgress("Recording check: recording");
  const WaveError recorded =
      recordOnce(*p.backend, recordBufferOf(p), p.settings.inBufferBytes, p.settings.waveFormat);
  if (recorded != kWaveOk) {
    reportAndRepaint(app, recorded);
  } else {
    app.shell.showMessage(
        "The sound was successfully recorded. Pres Ok to play the sound. After that everything "
        "will be set to deafolt",
        kCaptionInfo, MessageIcon::kNone, MessageOwner::kNoOwner);
  }
  app.shell.showProgress("Recording check: playing the recording");
  reportAndRepaint(app, playOnce(*p.backend, recordBufferOf(p), p.settings.inBufferBytes,
                                 p.settings.waveFormat));
  restoreAndPrepare(app, kept);
}

void checkPlay(App& app) {
  reportAndRepaint(app, pingPair(*app.program.backend, app.program.pair));
}
