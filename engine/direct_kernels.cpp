#include "engine/direct_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define MERVANE_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace {

inline int32_t pairDot(int32_t data, int32_t taps) {
  return static_cast<int16_t>(data) * static_cast<int16_t>(taps) +
         static_cast<int16_t>(data >> 16) * static_cast<int16_t>(taps >> 16);
}

void portablePlane(const int32_t* plane, const int32_t* tapPairs, size_t pairs, int64_t* sums,
                   int shift) {
  for (size_t p0 = 0; p0 < pairs; p0 += kPairsPerChunk) {
    const size_t p1 = std::min(pairs, p0 + kPairsPerChunk);
    int32_t acc[kKernelLags] = {};
    for (size_t p = p0; p < p1; ++p) {
      const int32_t* row = plane + 2 * p;
      for (size_t i = 0; i < kKernelLags; ++i) acc[i] += pairDot(row[i], tapPairs[p]);
    }
    for (size_t i = 0; i < kKernelLags; ++i) sums[i] += static_cast<int64_t>(acc[i]) * (1 << shift);
  }
}

#ifdef MERVANE_X86_KERNELS

// 16 lags per register, eight registers per digit plane. Every data load is aligned: a group of
// eight tap pairs reads the digit pairs at offsets 0, 2, .., 14 past an aligned base, and those
// windows are cut from two neighbouring registers with valignd instead of being loaded (loads
// that straddle cache lines ran at a third of the speed). vpdpwssd multiplies and adds in one
// instruction. The masked forms of the widening intrinsics keep GCC 12 from warning about their
// undefined pass-through.
#define MERVANE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vnni")))

MERVANE_AVX512 void widen512(__m512i acc, int shift, int64_t* sums) {
  const __m512i lo =
      _mm512_maskz_cvtepi32_epi64(0xFF, _mm512_maskz_extracti64x4_epi64(0xF, acc, 0));
  const __m512i hi =
      _mm512_maskz_cvtepi32_epi64(0xFF, _mm512_maskz_extracti64x4_epi64(0xF, acc, 1));
  const __m128i count = _mm_cvtsi32_si128(shift);
  _mm512_storeu_si512(
      sums, _mm512_add_epi64(_mm512_loadu_si512(sums), _mm512_maskz_sll_epi64(0xFF, lo, count)));
  _mm512_storeu_si512(sums + 8, _mm512_add_epi64(_mm512_loadu_si512(sums + 8),
                                                 _mm512_maskz_sll_epi64(0xFF, hi, count)));
}

constexpr int kRegs512 = static_cast<int>(kKernelLags / 16);

// One step of K groups of tap pairs over one plane. The window at offset 2q past register r
// serves tap pair q of the first group for lags 16r.., pair q of the second group for lags
// 16(r - 1).., and so on, so each window cut by valignd feeds up to K multiply-adds. Even and odd
// pairs go to separate accumulators so that dependent vpdpwssd do not wait on each other.
template <int K>
MERVANE_AVX512 inline void groupsStep512(const int32_t* plane, const int32_t* taps,
                                         __m512i (&acc)[2][kRegs512]) {
  __m512i data[kRegs512 + K];
#pragma GCC unroll 16
  for (int r = 0; r < kRegs512 + K; ++r) data[r] = _mm512_load_si512(plane + 16 * r);
#define MERVANE_PAIR_STEP(q)                                                                   \
  _Pragma("GCC unroll 16") for (int r = 0; r < kRegs512 + K - 1; ++r) {                        \
    const __m512i w =                                                                          \
        (q) == 0 ? data[r] : _mm512_maskz_alignr_epi32(0xFFFF, data[r + 1], data[r], 2 * (q)); \
    _Pragma("GCC unroll 4") for (int i = 0; i < K; ++i) {                                      \
      if (r - i >= 0 && r - i < kRegs512) {                                                    \
        const __m512i t = _mm512_set1_epi32(taps[static_cast<int>(kPairGroup) * i + (q)]);     \
        acc[(q) % 2][r - i] = _mm512_dpwssd_epi32(acc[(q) % 2][r - i], w, t);                  \
      }                                                                                        \
    }                                                                                          \
  }
  MERVANE_PAIR_STEP(0)
  MERVANE_PAIR_STEP(1)
  MERVANE_PAIR_STEP(2)
  MERVANE_PAIR_STEP(3)
  MERVANE_PAIR_STEP(4)
  MERVANE_PAIR_STEP(5)
  MERVANE_PAIR_STEP(6)
  MERVANE_PAIR_STEP(7)
#undef MERVANE_PAIR_STEP
}

MERVANE_AVX512 void plane512(const int32_t* plane, const int32_t* tapPairs, size_t p0, size_t p1,
                             int shift, int64_t* sums) {
  constexpr size_t kWide = 4;  // groups per step while enough remain
  __m512i acc[2][kRegs512];
#pragma GCC unroll 8
  for (int r = 0; r < kRegs512; ++r) acc[0][r] = acc[1][r] = _mm512_setzero_si512();
  size_t g = p0;
  for (; g + kWide * kPairGroup <= p1; g += kWide * kPairGroup) {
    groupsStep512<kWide>(plane + 2 * g, tapPairs + g, acc);
  }
  for (; g < p1; g += kPairGroup) groupsStep512<1>(plane + 2 * g, tapPairs + g, acc);
#pragma GCC unroll 8
  for (int r = 0; r < kRegs512; ++r) {
    widen512(_mm512_add_epi32(acc[0][r], acc[1][r]), shift, sums + 16 * r);
  }
}

MERVANE_AVX512 void pairKernelAvx512(const int32_t* low, const int32_t* high,
                                     const int32_t* tapPairs, size_t pairs, int64_t* sums) {
  static_assert(kPairGroup == 8 && kPairsPerChunk % kPairGroup == 0);
  for (size_t p0 = 0; p0 < pairs; p0 += kPairsPerChunk) {
    const size_t p1 = std::min(pairs, p0 + kPairsPerChunk);
    plane512(low, tapPairs, p0, p1, 0, sums);
    if (high != nullptr) plane512(high, tapPairs, p0, p1, 8, sums);
  }
}

__attribute__((target("avx2"))) void widen256(__m256i acc, int shift, int64_t* sums) {
  const __m256i lo = _mm256_cvtepi32_epi64(_mm256_castsi256_si128(acc));
  const __m256i hi = _mm256_cvtepi32_epi64(_mm256_extracti128_si256(acc, 1));
  const __m128i count = _mm_cvtsi32_si128(shift);
  auto* out = reinterpret_cast<__m256i*>(sums);
  _mm256_storeu_si256(out, _mm256_add_epi64(_mm256_loadu_si256(out), _mm256_sll_epi64(lo, count)));
  _mm256_storeu_si256(out + 1,
                      _mm256_add_epi64(_mm256_loadu_si256(out + 1), _mm256_sll_epi64(hi, count)));
}

// 8 lags per register; the 64 lags go in two halves of 32 so that the accumulators, the tap pair
// and the loads fit the 16 registers.
__attribute__((target("avx2"))) void pairKernelAvx2(const int32_t* low, const int32_t* high,
                                                    const int32_t* tapPairs, size_t pairs,
                                                    int64_t* sums) {
  for (size_t half = 0; half < kKernelLags; half += 32) {
    for (size_t p0 = 0; p0 < pairs; p0 += kPairsPerChunk) {
      const size_t p1 = std::min(pairs, p0 + kPairsPerChunk);
      __m256i acc[8];
      for (__m256i& a : acc) a = _mm256_setzero_si256();
      for (size_t p = p0; p < p1; ++p) {
        const __m256i t = _mm256_set1_epi32(tapPairs[p]);
        const int32_t* a = low + half + 2 * p;
        for (int r = 0; r < 4; ++r) {
          const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 8 * r));
          acc[r] = _mm256_add_epi32(acc[r], _mm256_madd_epi16(d, t));
        }
        if (high == nullptr) continue;
        const int32_t* b = high + half + 2 * p;
        for (int r = 0; r < 4; ++r) {
          const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 8 * r));
          acc[4 + r] = _mm256_add_epi32(acc[4 + r], _mm256_madd_epi16(d, t));
        }
      }
      for (int r = 0; r < 4; ++r) widen256(acc[r], 0, sums + half + 8 * r);
      if (high == nullptr) continue;
      for (int r = 0; r < 4; ++r) widen256(acc[4 + r], 8, sums + half + 8 * r);
    }
  }
}

#endif  // MERVANE_X86_KERNELS

void pairKernelPortable(const int32_t* lowPairs, const int32_t* highPairs, const int32_t* tapPairs,
                        size_t pairs, int64_t* sums) {
  portablePlane(lowPairs, tapPairs, pairs, sums, 0);
  if (highPairs != nullptr) portablePlane(highPairs, tapPairs, pairs, sums, 8);
}

}  // namespace

PairKernel pairKernel(KernelLevel level) {
  switch (level) {
    case KernelLevel::kPortable:
      return pairKernelPortable;
#ifdef MERVANE_X86_KERNELS
    case KernelLevel::kAvx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2") ? pairKernelAvx2 : nullptr;
    case KernelLevel::kAvx512Vnni:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                     __builtin_cpu_supports("avx512vnni")
                 ? pairKernelAvx512
                 : nullptr;
#endif
    default:
      return nullptr;
  }
}

namespace {

KernelLevel bestKernelLevel() {
  for (KernelLevel level : {KernelLevel::kAvx512Vnni, KernelLevel::kAvx2}) {
    if (pairKernel(level) != nullptr) return level;
  }
  return KernelLevel::kPortable;
}

KernelLevel requestedKernelLevel() {
  const char* text = std::getenv("MERVANE_KERNEL");
  const std::string_view name = text != nullptr ? text : "";
  const KernelLevel level = name == "portable" ? KernelLevel::kPortable
                            : name == "avx2"   ? KernelLevel::kAvx2
                            : name == "avx512" ? KernelLevel::kAvx512Vnni
                                               : bestKernelLevel();
  return pairKernel(level) != nullptr ? level : bestKernelLevel();
}

}  // namespace

KernelLevel directKernelLevel() {
  static const KernelLevel level = requestedKernelLevel();
  return level;
}
