#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/calibration.h"
#include "engine/wave_format.h"

constexpr uint32_t kEnvelopeBins = 439;     // bins of one echo envelope: rows of a scan column
constexpr uint32_t kMaxPlanBytes = 650250;  // largest record or chirp length a plan accepts [bytes]
constexpr uint32_t kRecordExtraBytes = 1000;  // record header beyond inBufferBytes [bytes]
// Start value of offsetBytes, and the found offset where no direct arrival was found [lags].
constexpr uint32_t kDefaultOffset = 600;

struct CorrelationWorkspace;  // engine/fft_correlation.h
class CorrelationWorker;      // engine/correlation_worker.h

enum Medium : int8_t { kAir = 1, kWater = 2, kSteel = 3, kGranite = 4 };

// The one parameter set of the program, with the five working buffers every ping uses. Buffers
// are only ever replaced as a whole by planBuffers(); nothing else resizes them.
struct SonarSettings {
  uint32_t startFrequency = 0;  // [Hz]
  uint32_t endFrequency = 0;    // [Hz]
  uint32_t chirpTime = 0;       // [us]
  uint32_t recordTime = 0;      // [ms]
  // Playback-to-record latency: the first lag the correlation and the offset finder look at
  // [lags: values of the recording, 16-bit samples in 16-bit formats, bytes in 8-bit ones].
  uint32_t offsetBytes = 0;
  uint32_t deltaOffsetBytes = 0;  // tolerated excess of the found offset [lags]
  uint32_t clockMultiplier = 0;   // 25 ms ticks between timed pings
  uint32_t tuneScale = 0;         // distance stretch [percent added to 1]
  int32_t cutOff = 0;
  int32_t amplification = 0;
  int32_t gain = 0;
  uint8_t gainEnabled = 0;
  std::array<double, kEnvelopeBins> gainTable{};
  int8_t medium = 0;
  uint8_t chirpShape = 0;
  uint8_t displayMode = 0;  // 0 = linear colouring, anything else angular
  WaveFormat waveFormat{};
  uint32_t inBufferBytes = 0;   // derived: length of one recording [bytes]
  uint32_t outBufferBytes = 0;  // derived: length of the played chirp [bytes]
  // How echo times become metres. It belongs to the device, not to a sweep: no file carries it
  // and the reset to defaults keeps it.
  Calibration calibration;

  std::vector<uint8_t> playBuffer;
  std::vector<uint8_t> recordBuffer;
  std::vector<int32_t> chirpReference;
  std::vector<int16_t> recordSamples;
  std::vector<int32_t> correlationBuffer;
  // Raw signed correlation sums of the latest measurement, one per lag, indexed like
  // correlationBuffer. Kept in 64 bits so that loud recordings cannot wrap them; the echo
  // detector reads them because the offset finder overwrites the front of correlationBuffer.
  std::vector<int64_t> correlationSums;
  // FFT plans and the template's spectrum for long chirps, made by planBuffers with the buffers
  // (null where the direct sums are as fast). Copies of the settings share it; the correlation
  // checks that it still fits the template and lengths of each call and sums directly otherwise.
  std::shared_ptr<CorrelationWorkspace> correlationWorkspace;
  // The second thread that shares the correlation of large plans, made by planBuffers with the
  // buffers (null where one thread is as fast) and joined when no record holds it any more.
  std::shared_ptr<CorrelationWorker> correlationWorker;
};

// The values the reset to defaults gives the parameter set (not the buffers: see planBuffers).
void applyDefaultSettings(SonarSettings& settings);

// Ramp of the range gain, entry i = i * gain / 4390, as the scale dialog builds it.
void rebuildGainTable(SonarSettings& settings);

// The medium's own speed of sound [m/s], uncalibrated; codes outside 1..4 get the fallback speed
// of the distance scale.
double speedOfSound(int8_t medium);

// The speed every distance of the program is read at: the medium's, under the calibration.
inline double speedInUse(const SonarSettings& settings) {
  return speedInUse(settings.medium, settings.calibration);
}
