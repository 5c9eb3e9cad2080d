#pragma once
// The inner loops of the direct correlation. Internal to the engine.
#include <cstddef>
#include <cstdint>

// Lags one kernel call computes side by side.
constexpr size_t kKernelLags = 128;

// Tap pairs one 32-bit accumulator may take before it is widened: a pair of products of digits
// (at most 128 in magnitude) and taps (at most 32768) stays within 2^24, and 127 * 2^24 is still
// below 2^31. 120 is the largest multiple of kPairGroup below that.
constexpr size_t kPairsPerChunk = 120;

// Kernels take tap pairs in groups of this many (callers pad with zero taps), so that the vector
// kernel reads its data with aligned loads and shifts it in registers.
constexpr size_t kPairGroup = 8;

// Alignment [bytes] of the digit-pair and sum arrays given to a kernel.
constexpr size_t kKernelAlignment = 64;

// Packs two 16-bit values into one 32-bit word, `first` in the low half: the operand layout of
// the multiply-add-pairs instructions (pmaddwd, vpdpwssd).
inline int32_t packPair(int16_t first, int16_t second) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(first)) |
                              (static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16));
}

// For i = 0 .. kKernelLags - 1 adds to sums[i]
//   sum over p < pairs of dot(lowPairs[i + 2p], tapPairs[p])
//   + 256 * the same over highPairs (skipped when highPairs is null),
// where dot multiplies the two halves of the words pairwise. lowPairs[k] holds digits k and k + 1,
// so lowPairs and highPairs need kKernelLags + 2 * pairs entries. pairs is a multiple of
// kPairGroup, and lowPairs and highPairs are aligned to kKernelAlignment.
using PairKernel = void (*)(const int32_t* lowPairs, const int32_t* highPairs,
                            const int32_t* tapPairs, size_t pairs, int64_t* sums);

// Release builds target the x86-64 baseline; wider vectors are chosen at run time from what the
// processor reports. kPortable is plain C++ and runs everywhere.
enum class KernelLevel { kPortable, kAvx2, kAvx512Vnni };

// The kernel of that level, or null when this processor (or compiler) cannot run it.
PairKernel pairKernel(KernelLevel level);

// The level the direct sums use: the fastest this processor runs, or the one the environment
// variable MERVANE_KERNEL names ("portable", "avx2", "avx512") where the processor runs it, for
// benchmarks and tests that compare kernels. Read once, on first use.
KernelLevel directKernelLevel();
