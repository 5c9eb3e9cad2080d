#pragma once
#include <cstdint>

#include "audio/wave_pair.h"
#include "engine/correlation.h"
#include "engine/scan_state.h"
#include "engine/sonar_settings.h"

// Who runs a measurement decides how far the correlation reaches.
enum class MeasureCaller { kManualStep, kTimedPing, kOffsetSearch };

// The reset to defaults: every setting and the scan state to its start value, a new buffer plan
// and chirp, and a fresh device pair (the previous one is closed). Returns the code of opening
// the pair; the caller reports a nonzero code under "WaveOut 1 Error init".
WaveError resetToDefaults(SonarSettings& settings, ScanState& scan, WavePair& pair,
                          AudioBackend& backend);

// The value-setting part of the reset alone: every setting and the scan state to its start
// value, without a buffer plan and without touching any device.
void applyResetValues(SonarSettings& settings, ScanState& scan);

// The end of the correlation for a caller: inBufferBytes for the manual step, the whole record
// header (inBufferBytes + kRecordExtraBytes) for the others.
uint32_t correlationEndBytes(const SonarSettings& settings, MeasureCaller caller);

// openPair over the planned buffers: playBuffer with outBufferBytes, recordBuffer with
// inBufferBytes + kRecordExtraBytes, in the settings' wave format. Every caller opens the pair this
// way.
WaveError openPairForPlan(SonarSettings& settings, WavePair& pair, AudioBackend& backend);

struct MeasurementResult {
  WaveError warmUp = kWaveOk;
  WaveError ping = kWaveOk;
  uint32_t peakAmplitude = 0;  // correlation result: largest magnitude / 255
  DirectArrival arrival;       // the offset finder's result; its offset is the found offset
  // The device delivered nothing but silence where the chirp should be (a recording that is
  // digital silence to its end): no measurement, whatever the analysis made of it.
  bool silent = false;
};

// Whether the recording is digital silence (every sample the format's silence value) up to the
// end the correlation reads.
bool recordedSilence(const SonarSettings& settings, MeasureCaller caller);

// One warm-up, one ping, the correlation and the offset finder, in that order. Afterwards
// correlationBuffer holds the envelope (kEnvelopeBins) in front and correlationSums the raw sums.
// Allocates nothing.
MeasurementResult runMeasurement(SonarSettings& settings, WavePair& pair, AudioBackend& backend,
                                 MeasureCaller caller);

// A measurement whose warm-up the caller ran itself: the ping, the correlation and the offset
// finder. Allocates nothing.
MeasurementResult pingAndAnalyze(SonarSettings& settings, WavePair& pair, AudioBackend& backend,
                                 MeasureCaller caller);

// The analysis half of a measurement on whatever recordBuffer holds (correlation and offset
// finder), for recordings that come from elsewhere. Fills peakAmplitude and arrival.
MeasurementResult analyzeRecording(SonarSettings& settings, MeasureCaller caller);
