// Ranging at the rates today's sound hardware runs at natively (48 and 96 kHz): pings and sweeps
// on the simulated room through the command line, and recordings built here, with echoes at
// whole-sample delays, analysed from WAV files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/sim_shoebox.h"
#include "engine/buffer_plan.h"
#include "engine/sonar_settings.h"
#include "tests/cli/cli_result.h"

namespace {

// Millimetres: what a range finder promises in a plain room.
constexpr double kToleranceM = 0.002;

// The numbers of every list that follows `marker` in the text, one list per occurrence.
std::vector<std::vector<double>> listsAfter(const std::string& text, const std::string& marker) {
  std::vector<std::vector<double>> lists;
  for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
    std::vector<double> values;
    size_t p = at + marker.size();
    while (p < text.size() && text[p] != ']') {
      size_t used = 0;
      values.push_back(std::stod(text.substr(p, 32), &used));
      p += used;
      if (p < text.size() && text[p] == ',') ++p;
    }
    lists.push_back(values);
  }
  return lists;
}

void expectDistances(const std::vector<double>& found, const std::vector<double>& expected,
                     const std::string& what) {
  ASSERT_EQ(found.size(), expected.size()) << what;
  for (size_t k = 0; k < expected.size(); ++k) {
    EXPECT_NEAR(found[k], expected[k], kToleranceM) << what << ": echo " << k;
  }
}

struct RateCase {
  const char* name;
  std::vector<std::string> settings;  // --set assignments
  std::string room;                   // empty: the default room
  std::vector<double> expected;       // metres, nearest first
  const char* miss = nullptr;         // why the detector misses this case today
  bool quiet = false;                 // --quiet-chirp
};

std::vector<std::string> withSettings(const RateCase& c, std::vector<std::string> words) {
  std::vector<std::string> all;
  if (c.quiet) all.push_back("--quiet-chirp");
  for (const std::string& s : c.settings) all.insert(all.end(), {"--set", s});
  if (!c.room.empty()) all.insert(all.end(), {"--room", c.room});
  all.insert(all.end(), words.begin(), words.end());
  return all;
}

class RateRange : public testing::TestWithParam<RateCase> {};

TEST_P(RateRange, EveryPingReadsTheReflectorsAndNothingElse) {
  const RateCase& c = GetParam();
  if (c.miss != nullptr) GTEST_SKIP() << "known miss: " << c.miss;
  const CliResult r = cli(withSettings(c, {"--json", "ping", "--count", "3"}));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto pings = listsAfter(r.out, "\"obstructions\":[");
  ASSERT_EQ(pings.size(), 3u) << r.out;
  for (size_t i = 0; i < pings.size(); ++i) {
    expectDistances(pings[i], c.expected, "ping " + std::to_string(i + 1));
  }
}

TEST_P(RateRange, ASweepReadsThemInItsLastColumn) {
  const RateCase& c = GetParam();
  if (c.miss != nullptr) GTEST_SKIP() << "known miss: " << c.miss;
  const CliResult r = cli(withSettings(c, {"--json", "sweep", "--columns", "6"}));
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lists = listsAfter(r.out, "\"obstructions\":[");
  ASSERT_EQ(lists.size(), 1u) << r.out;
  expectDistances(lists[0], c.expected, "sweep");
}

const std::vector<double> kDefaultRoom = {0.80, 1.90};

INSTANTIATE_TEST_SUITE_P(
    Rates, RateRange,
    testing::Values(
        RateCase{"r48kOneWall", {"samplesPerSec=48000"}, "echo=1.50:0.2,noise=60", {1.50}},
        RateCase{"r96kOneWall", {"samplesPerSec=96000"}, "echo=1.50:0.2,noise=60", {1.50}},
        RateCase{"r48kDefaultRoom", {"samplesPerSec=48000"}, "", kDefaultRoom},
        RateCase{"r96kDefaultRoom", {"samplesPerSec=96000"}, "", kDefaultRoom},
        RateCase{
            "r48kWaterFar", {"samplesPerSec=48000", "medium=2"}, "echo=5.20:0.1,noise=30", {5.20}},
        RateCase{"r48k8Bit", {"samplesPerSec=48000", "bitsPerSample=8"}, "", kDefaultRoom},
        RateCase{"r96k8Bit",
                 {"samplesPerSec=96000", "bitsPerSample=8"},
                 "",
                 kDefaultRoom,
                 "a false echo at 1.879 m, a carrier cycle and a half before the wall at 1.90 m, "
                 "stands above the detector's threshold"},
        RateCase{"r96kMono", {"samplesPerSec=96000", "channels=1"}, "", kDefaultRoom},
        // The quiet chirp, 18-23 kHz at 48 kHz, and 18-28 kHz at 96 kHz.
        RateCase{"quiet48kDefaultRoom", {}, "", kDefaultRoom, nullptr, true},
        RateCase{"quiet48kOneWall",
                 {},
                 "echo=1.50:0.2,noise=60",
                 {1.50},
                 "a carrier-cycle slip: every ping reads 1.508 m, one cycle of the 21 kHz "
                 "carrier (8 mm) beyond the wall",
                 true},
        RateCase{
            "quiet48kNearAndFar", {}, "echo=0.45:0.1,echo=3.2:0.05", {0.45, 3.2}, nullptr, true},
        RateCase{"quiet96kWide",
                 {"samplesPerSec=96000", "endFrequency=28000"},
                 "",
                 kDefaultRoom,
                 "a carrier-cycle slip: from the third ping on both walls read 7 mm (one "
                 "cycle of the 23 kHz carrier) too far",
                 true}),
    [](const auto& p) { return std::string(p.param.name); });

// The laptop at the desk records less above 20 kHz; eight quiet pings combined still find the wall
// it faces, within the centimetres the desk's own bounces allow the audible chirp.
TEST(QuietChirpAtTheDesk, AveragedPingsFindTheFacingWall) {
  const CliResult r = cli(
      {"--quiet-chirp", "--room", "preset=desk", "--json", "ping", "--count", "8", "--average"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lists = listsAfter(r.out, "\"average\":{\"pings\":8,\"obstructions\":[");
  ASSERT_EQ(lists.size(), 1u) << r.out;
  ASSERT_FALSE(lists[0].empty()) << r.out;
  SimRoom desk;
  ASSERT_EQ(parseSimRoom("preset=desk", desk), "");
  EXPECT_NEAR(lists[0][0], facingWallRange(*desk.shoebox, 0), 0.02) << r.out;
}

// ---- recordings made here: the played chirp, delayed by whole samples ----

// A 16-bit stereo PCM WAV, written byte by byte.
void writeStereoWav(const std::filesystem::path& path, uint32_t rate,
                    const std::vector<int16_t>& samples) {
  std::string b;
  const auto u16 = [&b](uint32_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
  };
  const auto u32 = [&](uint32_t v) {
    u16(v & 0xFFFF);
    u16(v >> 16);
  };
  const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
  b += "RIFF";
  u32(36 + dataBytes);
  b += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(2);
  u32(rate);
  u32(rate * 4);
  u16(4);
  u16(16);
  b += "data";
  u32(dataBytes);
  for (const int16_t s : samples) u16(static_cast<uint16_t>(s));
  std::ofstream(path, std::ios::binary) << b;
}

// The chirp the program plays at this rate, as 16-bit values (frames interleaved).
std::vector<int16_t> playedChirp(uint32_t rate) {
  SonarSettings s;
  applyDefaultSettings(s);
  s.waveFormat.samplesPerSec = rate;
  recomputeDerivedFormat(s.waveFormat);
  EXPECT_TRUE(planBuffers(s));
  std::vector<int16_t> values(s.outBufferBytes / 2);
  for (size_t i = 0; i < values.size(); ++i) {
    values[i] = static_cast<int16_t>(s.playBuffer[2 * i] | (s.playBuffer[2 * i + 1] << 8));
  }
  return values;
}

// A deterministic, roughly Gaussian noise [16-bit units], independent of the simulated room.
struct TestNoise {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  double next(double rms) {
    double sum = 0.0;
    for (int k = 0; k < 12; ++k) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      sum += static_cast<double>(state >> 11) * 0x1.0p-53;
    }
    return (sum - 6.0) * rms;
  }
};

struct WavCase {
  const char* name;
  uint32_t rate;
  std::vector<uint32_t> echoLags;  // frames behind the direct sound
};

class AnalyzeAtRate : public testing::TestWithParam<WavCase> {};

TEST_P(AnalyzeAtRate, EchoesAtWholeSampleDelaysComeBackAsTheirDistances) {
  const WavCase& c = GetParam();
  const std::vector<int16_t> chirp = playedChirp(c.rate);
  ASSERT_FALSE(chirp.empty());
  // 7.4 ms of latency, a direct sound at 0.3 of full scale, echoes at 0.1, noise at 30.
  const auto directFrame = static_cast<size_t>(0.0074 * c.rate);
  std::vector<double> mix(static_cast<size_t>(0.060 * c.rate) * 2, 0.0);
  const auto add = [&](size_t frame, double gain) {
    for (size_t i = 0; i < chirp.size() && 2 * frame + i < mix.size(); ++i) {
      mix[2 * frame + i] += gain * chirp[i];
    }
  };
  add(directFrame, 0.3);
  std::vector<double> expected;
  const double speed = speedOfSound(kAir);
  for (const uint32_t lag : c.echoLags) {
    add(directFrame + lag, 0.1);
    expected.push_back(lag * speed / (2.0 * c.rate));
  }
  TestNoise noise;
  std::vector<int16_t> samples(mix.size());
  for (size_t i = 0; i < mix.size(); ++i) {
    samples[i] = static_cast<int16_t>(std::lround(mix[i] + noise.next(30.0)));
  }
  const auto path =
      std::filesystem::temp_directory_path() / (std::string("mervane_rate_") + c.name + ".wav");
  writeStereoWav(path, c.rate, samples);
  const CliResult r = cli({"--json", "analyze", path.string()});
  std::filesystem::remove(path);
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lists = listsAfter(r.out, "\"obstructions\":[");
  ASSERT_EQ(lists.size(), 1u) << r.out;
  expectDistances(lists[0], expected, c.name);
}

// 228 and 540 frames at 48 kHz are 0.802 and 1.899 m in air; the same at 96 kHz twice as many.
INSTANTIATE_TEST_SUITE_P(Wavs, AnalyzeAtRate,
                         testing::Values(WavCase{"r48k", 48000, {228, 540}},
                                         WavCase{"r96k", 96000, {456, 1080}},
                                         WavCase{"r96kNear", 96000, {310}}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(AnalyzeAtRate, AnyOtherRateIsRefusedWithTheList) {
  const auto path = std::filesystem::temp_directory_path() / "mervane_rate_16k.wav";
  writeStereoWav(path, 16000, std::vector<int16_t>(3200, 0));
  const CliResult r = cli({"analyze", path.string()});
  std::filesystem::remove(path);
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(has(r.err, "16000 Hz; 8000, 11025, 22050, 44100, 48000 or 96000 Hz are supported"))
      << r.err;
}

}  // namespace
