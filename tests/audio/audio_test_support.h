#pragma once
#include <memory>

#include "engine/scan_state.h"
#include "audio/fault_backend.h"
#include "audio/measurement.h"
#include "audio/sim_backend.h"
#include "engine/buffer_plan.h"
#include "engine/sonar_settings.h"

// A program's worth of audio state on a simulated room (optionally behind a fault injector),
// with the start-up values and plan but no device opened yet.
struct SimRig {
  explicit SimRig(SimRoom room = defaultSimRoom(), bool withFaults = false) {
    if (!room.speedMps) room.speedMps = speedOfSound(kAir);
    auto owned = std::make_unique<SimBackend>(room);
    sim = owned.get();
    if (withFaults) {
      auto wrapper = std::make_unique<FaultBackend>(std::move(owned));
      fault = wrapper.get();
      backend = std::move(wrapper);
    } else {
      backend = std::move(owned);
    }
    applyResetValues(settings, scan);
    planBuffers(settings);
  }
  ~SimRig() { closePair(*backend, pair); }
  SimRig(const SimRig&) = delete;
  SimRig& operator=(const SimRig&) = delete;

  WaveError open() { return openPairForPlan(settings, pair, *backend); }
  MeasurementResult measure(MeasureCaller caller = MeasureCaller::kTimedPing) {
    return runMeasurement(settings, pair, *backend, caller);
  }
  void useFormat(uint16_t channels, uint16_t bits, uint32_t rate) {
    settings.waveFormat.channels = channels;
    settings.waveFormat.bitsPerSample = bits;
    settings.waveFormat.samplesPerSec = rate;
    recomputeDerivedFormat(settings.waveFormat);
    planBuffers(settings);
  }

  SonarSettings settings;
  ScanState scan;
  WavePair pair;
  SimBackend* sim = nullptr;
  FaultBackend* fault = nullptr;
  std::unique_ptr<AudioBackend> backend;
};

inline SimRoom quietRoom(double latencyMs, double direct, double noise) {
  SimRoom room;
  room.latencyMs = latencyMs;
  room.directGain = direct;
  room.noiseRms = noise;
  return room;
}

// Where the direct sound lands in the recording, in lags of the correlation (samples of one
// channel, interleaved).
inline double directLag(double latencyMs, const WaveFormat& f) {
  return latencyMs / 1000.0 * f.samplesPerSec * f.channels;
}
