#include "audio/measurement.h"

#include <algorithm>

#include "audio/replay_backend.h"
#include "engine/buffer_plan.h"
#include "engine/correlation.h"

namespace {

constexpr uint32_t kStartColumn = 1;

uint32_t withExtraBytes(uint32_t bytes) {
  return bytes > UINT32_MAX - kRecordExtraBytes ? UINT32_MAX : bytes + kRecordExtraBytes;
}

}  // namespace

void applyResetValues(SonarSettings& settings, ScanState& scan) {
  scan.scanState = kIdle;
  scan.scanColumn = kStartColumn;
  scan.latestScan = 0;
  scan.tickCount = 0;
  applyDefaultSettings(settings);
  for (uint32_t k = 0; k <= 2; ++k) scan.scanOffsets.forScan(k) = kDefaultOffset;
}

WaveError openPairForPlan(SonarSettings& settings, WavePair& pair, AudioBackend& backend) {
  return openPair(backend, pair, settings.waveFormat, settings.playBuffer, settings.outBufferBytes,
                  settings.recordBuffer, withExtraBytes(settings.inBufferBytes));
}

WaveError resetToDefaults(SonarSettings& settings, ScanState& scan, WavePair& pair,
                          AudioBackend& backend) {
  applyResetValues(settings, scan);
  // A replay plays recordings made in its session's capture settings: the defaults would read
  // them with another chirp or record length.
  const auto* replay = dynamic_cast<const ReplayBackend*>(&backend);
  if (replay != nullptr) applyCapture(replay->session().info.capture, settings);
  if (!planBuffers(settings) && replay != nullptr) {
    // Checked when the session was read; the defaults still plan, and the device says why.
    applyResetValues(settings, scan);
    planBuffers(settings);
  }
  // Each reset runs on a fresh pair; the abandoned one is closed rather than left running.
  closePair(backend, pair);
  return openPairForPlan(settings, pair, backend);
}

uint32_t correlationEndBytes(const SonarSettings& settings, MeasureCaller caller) {
  return caller == MeasureCaller::kManualStep ? settings.inBufferBytes
                                              : withExtraBytes(settings.inBufferBytes);
}

MeasurementResult analyzeRecording(SonarSettings& settings, MeasureCaller caller) {
  MeasurementResult result;
  result.peakAmplitude = correlateRecording(settings, correlationEndBytes(settings, caller));
  result.arrival = findDirectArrival(settings);
  return result;
}

MeasurementResult runMeasurement(SonarSettings& settings, WavePair& pair, AudioBackend& backend,
                                 MeasureCaller caller) {
  const WaveError warmUp = flushInput(backend, pair, settings.waveFormat);
  MeasurementResult result = pingAndAnalyze(settings, pair, backend, caller);
  result.warmUp = warmUp;
  return result;
}

MeasurementResult pingAndAnalyze(SonarSettings& settings, WavePair& pair, AudioBackend& backend,
                                 MeasureCaller caller) {
  const WaveError ping = pingPair(backend, pair);
  MeasurementResult result = analyzeRecording(settings, caller);
  result.ping = ping;
  result.silent = ping == kWaveOk && recordedSilence(settings, caller);
  return result;
}

bool recordedSilence(const SonarSettings& settings, MeasureCaller caller) {
  const uint8_t silence = settings.waveFormat.bitsPerSample == 8 ? 128 : 0;
  const size_t end =
      std::min<size_t>(correlationEndBytes(settings, caller), settings.recordBuffer.size());
  return std::all_of(settings.recordBuffer.begin(),
                     settings.recordBuffer.begin() + static_cast<std::ptrdiff_t>(end),
                     [silence](uint8_t b) { return b == silence; });
}
