#pragma once
// Raw correlation sums, shared by the direct and the FFT paths. Internal to the engine.
//
// Both paths compute, for m = 0 .. sums.size() - 1,
//   sums[m] = sum over j of value(firstIndex + m + j) * taps[j]
// exactly, in 64 bits, where value(i) is the signed sample at recording index i and 0 past the
// end of the data (a read past a span counts as silence).
#include <cstdint>
#include <span>

// Plain loops that vectorise well are compiled for the x86-64 baseline, AVX2 and AVX-512 and the
// best is picked when the program loads; release binaries still run on any x86-64 processor.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define MERVANE_VECTOR_CLONES __attribute__((target_clones("default", "avx2", "arch=x86-64-v4")))
#else
#define MERVANE_VECTOR_CLONES
#endif

// The signed samples a correlation reads: recordSamples as they stand in 16-bit mode (stale entries
// beyond the refreshed region included), recording bytes less 128 in 8-bit mode.
struct SampleSource {
  std::span<const int16_t> wide;
  std::span<const uint8_t> narrow;
  bool isWide = false;
};

// Copies value(from), value(from + 1), ... into dst, with 0 past the end of the data.
void gatherSamples(const SampleSource& source, uint64_t from, std::span<int16_t> dst);

// Every sample value fits 16 bits and both paths rely on the template doing so too: the chirp
// synthesis never makes more than 32767 in magnitude.
bool tapsFitSixteenBits(std::span<const int32_t> taps);

// Balanced base-256 digits of a sample, x = 256 * high + low with low in [-128, 127] and high in
// [-128, 128]. Both paths correlate the two digits separately, which keeps every partial product
// at most 2^22 in magnitude.
inline int16_t lowDigit(int32_t x) {
  return static_cast<int16_t>(((x + 128) & 255) - 128);
}
inline int16_t highDigit(int32_t x) {
  return static_cast<int16_t>((x - lowDigit(x)) / 256);
}

class CorrelationWorker;  // correlation_worker.h

// Lags times taps below which the direct sums stay on one thread: a few microseconds of work, too
// little to pay for the handshake with a second one.
constexpr uint64_t kSharedMinProducts = 200000;

// The largest magnitude among `count` sums.
uint64_t peakMagnitude(const int64_t* sums, size_t count);

// Each sum times `scale`, truncated to 32 bits, as a magnitude (saturated to INT32_MAX).
void scaleMagnitudes(const int64_t* sums, int32_t* output, size_t count, double scale);

// The factor that brings `peak` to `level`.
inline double scaleFor(int32_t level, uint64_t peak) {
  return static_cast<double>(level) / static_cast<double>(peak > 0 ? peak : 1);
}

// Exact sums by direct summation, then their magnitudes scaled so that the largest becomes
// `level` (output has the length of sums); returns that largest magnitude. Works for any template
// and any length, without allocating. With a worker, large calls share their lags with its
// thread, and each thread scales the lags it summed while they are still in its cache.
uint64_t directSumsScaled(const SampleSource& source, std::span<const int32_t> taps,
                          uint64_t firstIndex, std::span<int64_t> sums, std::span<int32_t> output,
                          int32_t level, CorrelationWorker* worker);
