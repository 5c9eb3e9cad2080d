#include "dialogs/quiet_chirp_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "dialogs/device_steps.h"
#include "engine/buffer_plan.h"
#include "engine/chirp.h"
#include "engine/pcm_samples.h"

namespace {

// The samples of a byte image in 16-bit units, interleaved as they came.
std::vector<int16_t> sampleValues(std::span<const uint8_t> bytes, const WaveFormat& f) {
  const bool wide = isSixteenBit(f);
  std::vector<int16_t> values(wide ? bytes.size() / 2 : bytes.size());
  for (size_t i = 0; i < values.size(); ++i) {
    values[i] = wide ? pcm16At(bytes, i) : static_cast<int16_t>(pcm8At(bytes, i) * 256);
  }
  return values;
}

// One ping with the settings' chirp; how strongly the recording holds it (0 when a device fails:
// the check itself reports device failures right after).
double pingGain(Program& program) {
  SonarSettings& s = program.settings;
  if (!planBuffers(s) || openPlannedPair(program) != kWaveOk) return 0.0;
  flushInput(*program.backend, program.pair, s.waveFormat);
  if (pingPair(*program.backend, program.pair) != kWaveOk) return 0.0;
  const size_t recorded =
      std::min<size_t>(s.recordBuffer.size(), s.inBufferBytes + kRecordExtraBytes);
  const size_t played = std::min<size_t>(s.playBuffer.size(), s.outBufferBytes);
  return arrivalGain(sampleValues({s.recordBuffer.data(), recorded}, s.waveFormat),
                     sampleValues({s.playBuffer.data(), played}, s.waveFormat));
}

std::string hertz(double v) {
  return std::to_string(std::lround(v)) + " Hz";
}

}  // namespace

QuietChirpReach measureQuietChirpReach(Program& program, Shell& shell) {
  SonarSettings& s = program.settings;
  const uint32_t keptStart = s.startFrequency, keptEnd = s.endFrequency, keptTime = s.chirpTime;
  QuietChirpReach reach;
  shell.showProgress("Audio check: the audible chirp");
  setPlayedSweep(s, kAudibleChirpFromHz, kAudibleChirpToHz);
  s.chirpTime = kAudibleChirpTimeUs;
  reach.audibleGain = pingGain(program);
  shell.showProgress("Audio check: the quiet chirp");
  s.startFrequency = keptStart;
  s.endFrequency = keptEnd;
  s.chirpTime = keptTime;
  reach.quietGain = pingGain(program);
  return reach;
}

std::string quietChirpVerdict(const SonarSettings& s, const QuietChirpReach& reach) {
  const ChirpSweep sweep = chirpSweep(s);
  const std::string band =
      "the quiet chirp (" + hertz(sweep.fromHz) + " to " + hertz(sweep.toHz) + ")";
  if (!reach.heard()) {
    return "No sound of the audible chirp reached the microphone, so the check cannot tell "
           "whether the loudspeaker and microphone carry " +
           band + ".";
  }
  const double db = reach.levelDb();
  std::string level = "not at all";
  if (std::isfinite(db)) {
    char text[48];
    std::snprintf(text, sizeof text, "%.0f dB %s", std::fabs(db), db <= 0.0 ? "below" : "above");
    level = std::string(text) + " the audible chirp's";
  }
  if (reach.carried()) {
    return "The loudspeaker and microphone carry " + band + ": its direct sound arrives " + level +
           ".";
  }
  return "The loudspeaker and microphone hardly carry " + band + ": its direct sound arrives " +
         level +
         ", too weak to range with. Choose an audible chirp in Set out signal, or other "
         "devices.";
}
