#include "dialogs/audio_check_logic.h"

#include <algorithm>
#include <string>

#include "dialogs/device_steps.h"
#include "engine/buffer_plan.h"
#include "engine/pcm_samples.h"

void copyCheckRecording(SonarSettings& s) {
  const uint64_t wanted = s.inBufferBytes / 2;
  const uint64_t end = std::min({wanted, static_cast<uint64_t>(s.recordSamples.size()),
                                 static_cast<uint64_t>(s.recordBuffer.size() / 2)});
  refreshSamples(s.recordSamples, s.recordBuffer, s.offsetBytes, end);
}

void runAudioCheck(Program& program, Shell& shell) {
  SonarSettings& s = program.settings;
  s.recordTime = kCheckRecordTimeMs;
  s.startFrequency = kCheckStartFrequency;
  s.endFrequency = kCheckEndFrequency;
  s.chirpTime = kCheckChirpTimeUs;
  shell.showProgress("Audio check: preparing the sweep");
  planBuffers(s);
  shell.showProgress("Audio check: opening the audio devices");
  reportWaveError(program, shell, openPlannedPair(program), kCaptionWaveOut);
  for (int i = 1; i <= kCheckWarmUps; ++i) {
    shell.showProgress("Audio check: warming up the microphone (" + std::to_string(i) + " of " +
                       std::to_string(kCheckWarmUps) + ")");
    flushInput(*program.backend, program.pair, s.waveFormat);
  }
  shell.showProgress("Audio check: playing and recording the sweep");
  const WaveError ping = pingPair(*program.backend, program.pair);
  shell.showProgress("");
  if (ping != kWaveOk) {
    reportWaveError(program, shell, ping, kCaptionWaveOut);
  } else {
    shell.showMessage(kCheckRecordedText, kCaptionInfo, MessageIcon::kNone, MessageOwner::kNoOwner);
  }
  copyCheckRecording(s);
}
