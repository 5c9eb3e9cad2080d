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

// 8 lags per register, four registers (32 lags) per pass, one plane at a time. The kernel is
// bound by loads (two 32-byte loads per cycle, one that straddles a cache line counting twice),
// so each group of eight tap pairs stays in registers while the digit-pair windows stream past:
// the window at offset 2w serves tap pair q for register r wherever w = 4r + q, 20 loads for 32
// multiply-adds instead of 36. Windows that would straddle a line (2w mod 16 >= 10 past the
// aligned base) are read from a copy shifted by 6 entries, where they do not. The empty asm
// statements pin each window and accumulator to a register: without them GCC hoists the loads and
// reassociates the sums, spills, and the kernel runs slower than the plain loop. On Zen 5 this
// issues 1.4 vpmaddwd per cycle (of 2) against 1.2 with one load per multiply-add: the default
// plan's sums take 14 % less time.
#define MERVANE_AVX2 __attribute__((target("avx2"), always_inline)) inline
#define MERVANE_WINDOW(w)                                                                    \
  d = _mm256_loadu_si256(                                                                    \
      reinterpret_cast<const __m256i*>((2 * (w)) % 16 >= 10 ? c + 2 * (w)-6 : a + 2 * (w))); \
  asm volatile("" : "+x"(d))
#define MERVANE_MADD(acc, t)                            \
  acc = _mm256_add_epi32(acc, _mm256_madd_epi16(d, t)); \
  asm("" : "+x"(acc))

MERVANE_AVX2 void groupAvx2(const int32_t* a, const int32_t* c, const int32_t* taps, __m256i& a0,
                            __m256i& a1, __m256i& a2, __m256i& a3) {
  const __m256i t0 = _mm256_set1_epi32(taps[0]), t1 = _mm256_set1_epi32(taps[1]);
  const __m256i t2 = _mm256_set1_epi32(taps[2]), t3 = _mm256_set1_epi32(taps[3]);
  const __m256i t4 = _mm256_set1_epi32(taps[4]), t5 = _mm256_set1_epi32(taps[5]);
  const __m256i t6 = _mm256_set1_epi32(taps[6]), t7 = _mm256_set1_epi32(taps[7]);
  __m256i d;
  // clang-format off
  MERVANE_WINDOW(0);  MERVANE_MADD(a0, t0);
  MERVANE_WINDOW(1);  MERVANE_MADD(a0, t1);
  MERVANE_WINDOW(2);  MERVANE_MADD(a0, t2);
  MERVANE_WINDOW(3);  MERVANE_MADD(a0, t3);
  MERVANE_WINDOW(4);  MERVANE_MADD(a0, t4);  MERVANE_MADD(a1, t0);
  MERVANE_WINDOW(5);  MERVANE_MADD(a0, t5);  MERVANE_MADD(a1, t1);
  MERVANE_WINDOW(6);  MERVANE_MADD(a0, t6);  MERVANE_MADD(a1, t2);
  MERVANE_WINDOW(7);  MERVANE_MADD(a0, t7);  MERVANE_MADD(a1, t3);
  MERVANE_WINDOW(8);  MERVANE_MADD(a1, t4);  MERVANE_MADD(a2, t0);
  MERVANE_WINDOW(9);  MERVANE_MADD(a1, t5);  MERVANE_MADD(a2, t1);
  MERVANE_WINDOW(10); MERVANE_MADD(a1, t6);  MERVANE_MADD(a2, t2);
  MERVANE_WINDOW(11); MERVANE_MADD(a1, t7);  MERVANE_MADD(a2, t3);
  MERVANE_WINDOW(12); MERVANE_MADD(a2, t4);  MERVANE_MADD(a3, t0);
  MERVANE_WINDOW(13); MERVANE_MADD(a2, t5);  MERVANE_MADD(a3, t1);
  MERVANE_WINDOW(14); MERVANE_MADD(a2, t6);  MERVANE_MADD(a3, t2);
  MERVANE_WINDOW(15); MERVANE_MADD(a2, t7);  MERVANE_MADD(a3, t3);
  MERVANE_WINDOW(16); MERVANE_MADD(a3, t4);
  MERVANE_WINDOW(17); MERVANE_MADD(a3, t5);
  MERVANE_WINDOW(18); MERVANE_MADD(a3, t6);
  MERVANE_WINDOW(19); MERVANE_MADD(a3, t7);
  // clang-format on
}
#undef MERVANE_MADD
#undef MERVANE_WINDOW
#undef MERVANE_AVX2

__attribute__((target("avx2"))) void pairKernelAvx2(const int32_t* low, const int32_t* high,
                                                    const int32_t* tapPairs, size_t pairs,
                                                    int64_t* sums) {
  // Entries 6 .. of the chunk's part of the plane: a chunk's windows reach 2 * pairs + 120 of
  // them, which stays inside the kKernelLags + 2 * pairs the caller provides.
  alignas(kKernelAlignment) int32_t shifted[kKernelLags + 2 * kPairsPerChunk];
  for (int shift : {0, 8}) {
    const int32_t* plane = shift == 0 ? low : high;
    if (plane == nullptr) continue;
    for (size_t p0 = 0; p0 < pairs; p0 += kPairsPerChunk) {
      const size_t p1 = std::min(pairs, p0 + kPairsPerChunk);
      const int32_t* from = plane + 2 * p0 + 6;
      for (size_t k = 0; k < 2 * (p1 - p0) + 120; k += 8) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(shifted + k),
                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + k)));
      }
      for (size_t part = 0; part < kKernelLags; part += 32) {
        __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
        for (size_t g = p0; g < p1; g += kPairGroup) {
          groupAvx2(plane + part + 2 * g, shifted + part + 2 * (g - p0), tapPairs + g, a0, a1, a2,
                    a3);
        }
        widen256(a0, shift, sums + part);
        widen256(a1, shift, sums + part + 8);
        widen256(a2, shift, sums + part + 16);
        widen256(a3, shift, sums + part + 24);
      }
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
