// The fast correlation (vector kernels, FFT) must give the plain 64-bit definition's sums, outputs
// and result bit for bit, at every plan, on the loudest recordings a device can deliver.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/buffer_plan.h"
#include "engine/chirp.h"
#include "engine/correlation.h"
#include "engine/correlation_worker.h"
#include "engine/direct_kernels.h"
#include "engine/fft_correlation.h"

namespace {

enum class Fill { kRandom, kClippedChirpAndEcho, kMostNegative };

struct PlanCase {
  const char* name;
  uint16_t bits, channels;
  uint32_t rate, recordTimeMs, chirpTimeUs, offsetBytes;
  Fill fill;
};

bool fftAvailable() {
  const std::vector<int32_t> taps(8, 1);
  return makeCorrelationWorkspace(taps, 8) != nullptr;
}

SonarSettings planned(const PlanCase& c) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.waveFormat.bitsPerSample = c.bits;
  s.waveFormat.channels = c.channels;
  s.waveFormat.samplesPerSec = c.rate;
  recomputeDerivedFormat(s.waveFormat);
  s.recordTime = c.recordTimeMs;
  s.chirpTime = c.chirpTimeUs;
  s.offsetBytes = c.offsetBytes;
  EXPECT_TRUE(planBuffers(s));
  return s;
}

// Writes a signed sample at sample index i in the recording's own encoding.
void setSample(SonarSettings& s, uint64_t i, int32_t v) {
  if (isSixteenBit(s.waveFormat)) {
    if (2 * i + 1 >= s.recordBuffer.size()) return;
    const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
    s.recordBuffer[2 * i] = static_cast<uint8_t>(u & 0xFF);
    s.recordBuffer[2 * i + 1] = static_cast<uint8_t>(u >> 8);
  } else if (i < s.recordBuffer.size()) {
    s.recordBuffer[i] = static_cast<uint8_t>(v + 128);
  }
}

// Full scale everywhere: random samples, the chirp's signs at full scale (the largest sum the
// template allows) with a half-scale echo, or every sample at the most negative value.
void fill(SonarSettings& s, Fill kind) {
  const bool wide = isSixteenBit(s.waveFormat);
  const int32_t top = wide ? 32767 : 127, bottom = wide ? -32768 : -128;
  std::mt19937 random(7);
  const uint64_t samples = wide ? s.recordBuffer.size() / 2 : s.recordBuffer.size();
  for (uint64_t i = 0; i < samples; ++i) {
    const int32_t r = static_cast<int32_t>(random() % (top - bottom + 1)) + bottom;
    setSample(s, i, kind == Fill::kRandom ? r : kind == Fill::kMostNegative ? bottom : 0);
  }
  // Entries beyond the refreshed region are read as they stand: make them loud too.
  for (int16_t& x : s.recordSamples) x = static_cast<int16_t>(random());
  if (kind != Fill::kClippedChirpAndEcho) return;
  const uint64_t direct = s.offsetBytes + 40, echo = direct + s.outBufferBytes / 3 + 17;
  for (uint64_t j = 4; j < std::min<uint64_t>(s.outBufferBytes, s.chirpReference.size()); ++j) {
    setSample(s, direct + j, s.chirpReference[j] >= 0 ? top : bottom);
    setSample(s, echo + j, s.chirpReference[j] >= 0 ? top / 2 : bottom / 2);
  }
}

uint32_t runReference(SonarSettings& s, uint32_t end) {
  return correlateEchoReference(end, s.outBufferBytes, s.offsetBytes, s.recordSamples,
                                s.chirpReference, s.recordBuffer, s.correlationBuffer,
                                s.correlationSums, s.waveFormat, s.amplification);
}

template <typename T>
void expectSameEntries(const std::vector<T>& got, const std::vector<T>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
  EXPECT_TRUE(diff.first == got.end()) << what << " differ first at " << (diff.first - got.begin())
                                       << ": " << *diff.first << " instead of " << *diff.second;
}

// Runs the program's correlation (on the calling thread alone and, where the plan has one, shared
// with its worker) and the definition on identical copies and compares everything they write.
void expectSameAsReference(SonarSettings& s, uint32_t end) {
  SonarSettings want = s;
  const uint32_t wantResult = runReference(want, end);
  SonarSettings alone = s;
  alone.correlationWorker.reset();
  EXPECT_EQ(correlateRecording(alone, end), wantResult);
  expectSameEntries(alone.correlationSums, want.correlationSums, "sums on one thread");
  EXPECT_EQ(correlateRecording(s, end), wantResult);
  expectSameEntries(s.correlationSums, want.correlationSums, "sums");
  expectSameEntries(s.correlationBuffer, want.correlationBuffer, "outputs");
  expectSameEntries(s.recordSamples, want.recordSamples, "samples");
}

// Chirp time [us] whose plan uses exactly `taps` template taps at the default 16-bit format.
uint32_t chirpTimeForTaps(size_t taps) {
  const auto half = static_cast<uint32_t>((taps + 4) / 2);
  auto t = static_cast<uint32_t>(half / 0.0882);
  while (static_cast<uint32_t>(t * 0.000001 * 88200.0) < half) ++t;
  return t;
}

class MatchesDefinition : public testing::TestWithParam<PlanCase> {};

TEST_P(MatchesDefinition, AtTimedPingAndManualStep) {
  SonarSettings s = planned(GetParam());
  fill(s, GetParam().fill);
  expectSameAsReference(s, s.inBufferBytes + 1000);
  // The manual step ends earlier and reads the samples the timed ping left beyond it.
  expectSameAsReference(s, s.inBufferBytes);
}

const auto kBelowCrossover = static_cast<uint32_t>(chirpTimeForTaps(kFftMinTaps - 2));
const auto kAtCrossover = static_cast<uint32_t>(chirpTimeForTaps(kFftMinTaps));

INSTANTIATE_TEST_SUITE_P(
    Plans, MatchesDefinition,
    testing::Values(
        PlanCase{"DefaultRandom", 16, 2, 44100, 48, 2000, 600, Fill::kRandom},
        PlanCase{"DefaultClipped", 16, 2, 44100, 48, 2000, 600, Fill::kClippedChirpAndEcho},
        PlanCase{"DefaultMostNegative", 16, 2, 44100, 48, 2000, 600, Fill::kMostNegative},
        PlanCase{"OffsetSearch", 16, 2, 44100, 120, 2000, 10, Fill::kRandom},
        PlanCase{"EightBitMono", 8, 1, 8000, 48, 2000, 75, Fill::kClippedChirpAndEcho},
        PlanCase{"EightBitStereo", 8, 2, 44100, 48, 2000, 600, Fill::kRandom},
        PlanCase{"EightBitLongChirp", 8, 2, 22050, 400, 150000, 600, Fill::kMostNegative},
        PlanCase{"BelowCrossover", 16, 2, 44100, 48, kBelowCrossover, 600,
                 Fill::kClippedChirpAndEcho},
        PlanCase{"AtCrossoverClipped", 16, 2, 44100, 48, kAtCrossover, 600,
                 Fill::kClippedChirpAndEcho},
        PlanCase{"AtCrossoverMostNegative", 16, 2, 44100, 48, kAtCrossover, 600,
                 Fill::kMostNegative},
        PlanCase{"ChirpLongerThanRecording", 16, 1, 11025, 30, 80000, 30, Fill::kRandom}),
    [](const testing::TestParamInfo<PlanCase>& row) { return row.param.name; });

TEST(CorrelationPlan, WorkspaceOnlyFromTheCrossoverOn) {
  SonarSettings below = planned({"", 16, 2, 44100, 48, kBelowCrossover, 600, Fill::kRandom});
  EXPECT_EQ(below.correlationWorkspace, nullptr);
  SonarSettings at = planned({"", 16, 2, 44100, 48, kAtCrossover, 600, Fill::kRandom});
  EXPECT_EQ(at.outBufferBytes - 4, kFftMinTaps);
  EXPECT_EQ(at.correlationWorkspace != nullptr, fftAvailable());
}

// The exact sum of one lag, straight from the definition.
int64_t exactSum(const SonarSettings& s, uint64_t lag) {
  int64_t sum = 0;
  for (uint64_t j = 4; j < s.outBufferBytes; ++j) {
    const uint64_t i = lag + j;
    const int64_t x = i < s.recordSamples.size() ? s.recordSamples[i] : 0;
    sum += x * s.chirpReference[j];
  }
  return sum;
}

class LargestPlan : public testing::TestWithParam<Fill> {};

// The whole definition takes minutes here, so the sums are checked at the planted peak, both ends
// and spread lags; the rounding margin shows how far the FFT is from giving a wrong integer.
TEST_P(LargestPlan, SampledSumsExactAndRoundingMarginWide) {
  SonarSettings s = planned({"", 16, 2, 44100, 3600, 3686000, 600, GetParam()});
  ASSERT_GT(s.outBufferBytes, 650000u);
  fill(s, GetParam());
  const uint32_t end = s.inBufferBytes + 1000;
  const uint32_t result = correlateRecording(s, end);
  const uint64_t first = s.offsetBytes, last = end / 2;

  std::vector<uint64_t> lags{
      first, first + 1, first + 40, first + 40 + s.outBufferBytes / 3 + 17, last - 1, last};
  for (uint64_t k = 1; k < 24; ++k) lags.push_back(first + k * (last - first) / 24);
  for (uint64_t lag : lags) EXPECT_EQ(s.correlationSums[lag], exactSum(s, lag)) << "lag " << lag;

  uint64_t peak = 0;
  for (uint64_t lag = first; lag <= last; ++lag) {
    peak = std::max<uint64_t>(peak, static_cast<uint64_t>(std::llabs(s.correlationSums[lag])));
  }
  EXPECT_EQ(result, std::min<uint64_t>(peak / 255, UINT32_MAX));  // saturated to 32 bits
  if (GetParam() == Fill::kClippedChirpAndEcho) {
    EXPECT_EQ(s.correlationBuffer[first + 40], s.amplification);
    EXPECT_GT(peak, uint64_t{1} << 47);
  }
  if (s.correlationWorkspace != nullptr) {
    EXPECT_LT(lastRoundingResidual(*s.correlationWorkspace), 0.01);
  } else {
    EXPECT_FALSE(fftAvailable());
  }
}

std::string fillName(const testing::TestParamInfo<Fill>& row) {
  const char* names[] = {"Random", "ClippedChirpAndEcho", "MostNegative"};
  return names[static_cast<int>(row.param)];
}

INSTANTIATE_TEST_SUITE_P(FullScale, LargestPlan,
                         testing::Values(Fill::kRandom, Fill::kClippedChirpAndEcho,
                                         Fill::kMostNegative),
                         fillName);

// Settings changed after the plan: the workspace no longer fits and the sums come directly.
class StaleWorkspace : public testing::Test {
 protected:
  void SetUp() override {
    s = planned({"", 16, 2, 44100, 100, 20000, 600, Fill::kClippedChirpAndEcho});
    fill(s, Fill::kClippedChirpAndEcho);
  }
  SonarSettings s;
};

TEST_F(StaleWorkspace, TemplateRemadeInPlace) {
  makeChirp16(9000, 15000, s.playBuffer, s.outBufferBytes, s.chirpReference, s.waveFormat);
  expectSameAsReference(s, s.inBufferBytes + 1000);
}

TEST_F(StaleWorkspace, LoadedLengthsAndOffset) {
  s.offsetBytes = 0;
  expectSameAsReference(s, s.inBufferBytes + 1000);
  s.inBufferBytes += 4000;  // a file's record length beyond what the plan correlates
  expectSameAsReference(s, s.inBufferBytes + 1000);
}

TEST_F(StaleWorkspace, FailedPlanPlaceholders) {
  s.chirpTime = 4000000;
  EXPECT_FALSE(planBuffers(s));
  EXPECT_EQ(s.outBufferBytes, 352u);
  expectSameAsReference(s, s.inBufferBytes + 1000);
}

// Copies of the settings share one workspace; two threads using it at once must both get exact
// sums (one of them sums directly).
TEST_F(StaleWorkspace, SharedAcrossThreads) {
  SonarSettings want = s;
  runReference(want, want.inBufferBytes + 1000);
  std::vector<SonarSettings> copies(2, s);
  std::vector<std::thread> threads;
  for (SonarSettings& c : copies) {
    threads.emplace_back([&c] {
      for (int k = 0; k < 3; ++k) correlateRecording(c, c.inBufferBytes + 1000);
    });
  }
  for (std::thread& t : threads) t.join();
  for (const SonarSettings& c : copies) {
    expectSameEntries(c.correlationSums, want.correlationSums, "sums");
  }
}

// Lag counts that divide unevenly among tiles and threads, from one lag up, each start shifting
// where tiles begin. The worker is given to every call, also below the size a plan would give it
// one for (the sums then stay on one thread).
TEST(SplitLags, OddCountsMatchTheDefinition) {
  SonarSettings s = planned({"", 16, 2, 44100, 48, 2000, 600, Fill::kClippedChirpAndEcho});
  fill(s, Fill::kClippedChirpAndEcho);
  if (s.correlationWorker == nullptr) s.correlationWorker = makeCorrelationWorker();
  for (uint32_t lags : {1u, 2u, 3u, 127u, 129u, 575u, 577u, 641u, 1023u, 1025u, 3001u, 4097u}) {
    for (uint32_t start : {600u, 601u, 1003u}) {
      const uint32_t end = 2 * (start + lags - 1) + (lags % 2);  // odd ends too: end / 2 is last
      SonarSettings want = s;
      want.offsetBytes = start;
      const uint32_t wantResult = runReference(want, end);
      SonarSettings got = s;
      got.offsetBytes = start;
      EXPECT_EQ(correlateRecording(got, end), wantResult) << lags << " lags from " << start;
      expectSameEntries(got.correlationSums, want.correlationSums, "sums");
      expectSameEntries(got.correlationBuffer, want.correlationBuffer, "outputs");
    }
  }
}

// The worker joins a call at any moment or not at all: at once when it still spins from the call
// before, late when it has to wake up first, never when the caller finishes before it wakes.
// Whichever happens, both halves are scaled by the peak of all the sums.
TEST(SplitLags, AWorkerThatJoinsLateOrNeverChangesNothing) {
  SonarSettings s = planned({"", 16, 2, 44100, 48, 2000, 600, Fill::kClippedChirpAndEcho});
  fill(s, Fill::kClippedChirpAndEcho);
  if (s.correlationWorker == nullptr) s.correlationWorker = makeCorrelationWorker();
  const uint32_t end = s.inBufferBytes + 1000;
  SonarSettings want = s;
  const uint32_t wantResult = runReference(want, end);
  for (int call = 0; call < 120; ++call) {
    if (call % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(50 * (call % 7)));
    std::fill(s.correlationBuffer.begin(), s.correlationBuffer.end(), -1);
    ASSERT_EQ(correlateRecording(s, end), wantResult) << "call " << call;
    ASSERT_TRUE(std::equal(s.correlationBuffer.begin() + s.offsetBytes,
                           s.correlationBuffer.begin() + end / 2 + 1,
                           want.correlationBuffer.begin() + s.offsetBytes))
        << "call " << call;
  }
}

// The FFT path shares its passes in pieces of 32768 entries: lag counts around those.
TEST(SplitLags, FftPassesAroundTheirPieces) {
  SonarSettings s = planned({"", 16, 2, 44100, 900, kAtCrossover, 0, Fill::kRandom});
  fill(s, Fill::kRandom);
  if (s.correlationWorker == nullptr) s.correlationWorker = makeCorrelationWorker();
  for (uint32_t lags : {32767u, 32769u, 65536u, 65537u}) {
    const uint32_t end = 2 * (lags - 1);
    SonarSettings want = s;
    const uint32_t wantResult = runReference(want, end);
    EXPECT_EQ(correlateRecording(s, end), wantResult) << lags << " lags";
    expectSameEntries(s.correlationSums, want.correlationSums, "sums");
    expectSameEntries(s.correlationBuffer, want.correlationBuffer, "outputs");
  }
}

// Under MERVANE_KERNEL (the suite runs again with each kernel) the direct sums use the kernel it
// names wherever this processor runs it.
TEST(KernelChoice, FollowsTheEnvironment) {
  const char* text = std::getenv("MERVANE_KERNEL");
  if (text == nullptr) GTEST_SKIP() << "MERVANE_KERNEL not set";
  const std::string name = text;
  const KernelLevel named = name == "portable" ? KernelLevel::kPortable
                            : name == "avx2"   ? KernelLevel::kAvx2
                                               : KernelLevel::kAvx512Vnni;
  if (pairKernel(named) == nullptr) GTEST_SKIP() << name << " not supported by this processor";
  EXPECT_EQ(directKernelLevel(), named);
}

// An int32 array aligned as the kernels require.
class AlignedInts {
 public:
  explicit AlignedInts(size_t n) : store_(n + kKernelAlignment / sizeof(int32_t)) {
    void* p = store_.data();
    size_t space = store_.size() * sizeof(int32_t);
    data_ = static_cast<int32_t*>(std::align(kKernelAlignment, n * sizeof(int32_t), p, space));
  }
  int32_t* data() { return data_; }
  int32_t& operator[](size_t k) { return data_[k]; }

 private:
  std::vector<int32_t> store_;
  int32_t* data_;
};

// Every kernel this processor runs, at the extremes of digits and taps and across the points
// where 32-bit accumulators are widened.
class PairKernels : public testing::TestWithParam<KernelLevel> {};

TEST_P(PairKernels, ExtremeDigitsAcrossWidening) {
  const PairKernel kernel = pairKernel(GetParam());
  if (kernel == nullptr) GTEST_SKIP() << "not supported by this processor";
  constexpr size_t kPairs = 2 * kPairsPerChunk + kPairGroup;
  std::mt19937 random(3);
  for (int variant = 0; variant < 3; ++variant) {
    std::vector<int16_t> low(kKernelLags + 2 * kPairs + 1), high(low.size()), taps(2 * kPairs);
    for (size_t k = 0; k < low.size(); ++k) {
      low[k] = variant == 0 ? -128 : static_cast<int16_t>(random() % 256) - 128;
      high[k] = variant == 0   ? 128
                : variant == 1 ? -128
                               : static_cast<int16_t>(random() % 257) - 128;
    }
    for (size_t j = 0; j < taps.size(); ++j) {
      taps[j] = variant == 2 ? static_cast<int16_t>(random()) : variant == 0 ? -32768 : 32767;
    }
    AlignedInts lowPairs(low.size() - 1), highPairs(low.size() - 1);
    std::vector<int32_t> tapPairs(kPairs);
    for (size_t k = 0; k + 1 < low.size(); ++k) {
      lowPairs[k] = packPair(low[k], low[k + 1]);
      highPairs[k] = packPair(high[k], high[k + 1]);
    }
    for (size_t p = 0; p < kPairs; ++p) tapPairs[p] = packPair(taps[2 * p], taps[2 * p + 1]);
    std::vector<int64_t> sums(kKernelLags, 5);
    kernel(lowPairs.data(), highPairs.data(), tapPairs.data(), kPairs, sums.data());
    for (size_t i = 0; i < kKernelLags; ++i) {
      int64_t want = 5;
      for (size_t j = 0; j < taps.size(); ++j) {
        want += (int64_t{low[i + j]} + 256 * int64_t{high[i + j]}) * taps[j];
      }
      ASSERT_EQ(sums[i], want) << "variant " << variant << " lag " << i;
    }
  }
}

std::string levelName(const testing::TestParamInfo<KernelLevel>& row) {
  const char* names[] = {"Portable", "Avx2", "Avx512Vnni"};
  return names[static_cast<int>(row.param)];
}

INSTANTIATE_TEST_SUITE_P(Levels, PairKernels,
                         testing::Values(KernelLevel::kPortable, KernelLevel::kAvx2,
                                         KernelLevel::kAvx512Vnni),
                         levelName);

}  // namespace
