#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "engine/sonar_settings.h"
#include "engine/wave_format.h"

// First template entry the correlation uses; the chirp's first four entries stay out [taps].
constexpr uint32_t kFirstTap = 4;

// Slides template entries kFirstTap..count-1 along the recording from lag `start` to lag end
// (bytes; in 16-bit mode end / 2 samples), stores each lag's raw sum in `sums` and its magnitude
// scaled so that the best lag equals `level` in `output`. Returns the largest raw magnitude / 255,
// saturated to 32 bits. Sums are 64-bit, so a loud recording cannot wrap them.
//
// Every index is bounded by the spans: a sample, byte or template entry past its span reads as 0
// (silence), and lags with no room in `output` or `sums` are not computed.
uint32_t correlateEcho(uint32_t end, uint32_t count, uint32_t start, std::span<int16_t> samples,
                       std::span<const int32_t> templ, std::span<const uint8_t> recording,
                       std::span<int32_t> output, std::span<int64_t> sums, const WaveFormat& format,
                       int32_t level);

// FFT plans and spectrum for one buffer plan's template (fft_correlation.h); opaque here.
struct CorrelationWorkspace;

// Template taps in use (count - kFirstTap) from which a plan gets a workspace and correlates
// through the FFT; below it the direct sums are faster. Measured with mervane-bench
// (correlateCrossover): the two meet near 1 050 taps at 4 700 lags and near 1 150 at 80 000 lags.
constexpr size_t kFftMinTaps = 1024;

// A second thread made with a plan (correlation_worker.h); opaque here.
class CorrelationWorker;

// The same correlation with a workspace made for the settings' plan: long templates go through
// the FFT when the workspace fits the call, everything else is summed directly. Either way the
// sums, outputs and result are bit for bit those of correlateEchoReference. A null workspace, or
// one made for another template or fewer lags, means the direct path. With a worker, large calls
// share their lags (or the FFT's passes) between the calling thread and the worker's.
uint32_t correlateEcho(uint32_t end, uint32_t count, uint32_t start, std::span<int16_t> samples,
                       std::span<const int32_t> templ, std::span<const uint8_t> recording,
                       std::span<int32_t> output, std::span<int64_t> sums, const WaveFormat& format,
                       int32_t level, CorrelationWorkspace* workspace,
                       CorrelationWorker* worker = nullptr);

// The plain 64-bit definition, one multiply-add per tap and lag: the yardstick for tests and
// benchmarks. Far too slow for long chirps.
uint32_t correlateEchoReference(uint32_t end, uint32_t count, uint32_t start,
                                std::span<int16_t> samples, std::span<const int32_t> templ,
                                std::span<const uint8_t> recording, std::span<int32_t> output,
                                std::span<int64_t> sums, const WaveFormat& format, int32_t level);

// The direct arrival as the finder saw it. Where it found none, the offset is kDefaultOffset, the
// value the scan state stores and the reports show; a real arrival may lie at that lag too, so
// only `found` tells the two apart.
struct DirectArrival {
  uint32_t offset = kDefaultOffset;  // [lags]
  bool found = false;
};

// Finds the direct arrival (the sixth value above 120 from `start` on) and reduces the
// correlation after it to the kEnvelopeBins-bin envelope at the front of `buffer`. With last
// below start (a chirp longer than the recording) nothing is scanned: not found, bin width 0.
DirectArrival findDirectPath(uint32_t inLength, int32_t outLength, uint32_t start,
                             std::span<int32_t> buffer, const WaveFormat& format);

// The measurement's analysis on the settings' own buffers: correlateEcho from offsetBytes to
// `endBytes` with outBufferBytes template entries and amplification as level, and findDirectPath
// with inBufferBytes and outBufferBytes. Every caller (pings, offset search, analysis of a file)
// goes through these, so the choice of correlation method lives in one place.
uint32_t correlateRecording(SonarSettings& settings, uint32_t endBytes);
DirectArrival findDirectArrival(SonarSettings& settings);

// The workspace for the settings' current plan (buffers, template, lengths), or null where the
// direct path is as fast: templates below the measured crossover, or builds without FFTW. Made by
// planBuffers, in milliseconds (the FFT plans are estimated, not measured).
std::shared_ptr<CorrelationWorkspace> planCorrelation(const SonarSettings& settings);

// The second thread for the settings' current plan (made after planCorrelation), or null where
// the plan is too small to gain from one or the machine has a single processor. Made by
// planBuffers; the thread ends when the last settings record holding it lets go of it.
std::shared_ptr<CorrelationWorker> planCorrelationWorker(const SonarSettings& settings);
