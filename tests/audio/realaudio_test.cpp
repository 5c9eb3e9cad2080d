#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>

#include <unistd.h>

#include "cli/cli.h"
#include "json_scan.h"

namespace {

bool envIs(const char* name, std::string_view value) {
  const char* v = std::getenv(name);
  return v != nullptr && value == v;
}

// Every ping heard the chirp (an offset past the correlation start and a peak far above the
// digital silence of the loopback), and once the stream has settled (the last four pings) the
// offset stays put to a few lags, but for at most one step: a stream whose playback-to-record
// distance may have moved (a stall on a busy machine) is opened anew, and the new one settles at
// a distance of its own.
bool steady(const std::vector<long>& offsets, const std::vector<long>& peaks) {
  if (offsets.size() != 5 || peaks.size() != 5) return false;
  for (size_t i = 0; i < 5; ++i) {
    if (offsets[i] == 600 || peaks[i] < 1000000) return false;
  }
  int steps = 0;
  for (size_t i = 2; i < 5; ++i) {
    if (std::abs(offsets[i] - offsets[i - 1]) > 4) ++steps;
  }
  return steps <= 1;
}

bool pulseServerReady() {
  if (envIs("MERVANE_PULSE_READY", "1")) return true;
  if (envIs("CI", "true")) ADD_FAILURE() << "no PulseAudio test server is running";
  std::cerr
      << "\n*** REAL AUDIO TEST SKIPPED: no PulseAudio test server (./test starts one) ***\n\n";
  return false;
}

std::string fileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// What a real sound server delivered, recorded and played back: the same pings, sonar file and
// table as the live sweep (a sound card never delivers the same twice, so only the recording can
// give them again).
TEST(RealAudio, ASweepRecordedFromTheServerReplaysToTheSameOutputs) {
  if (!pulseServerReady()) GTEST_SKIP() << "no PulseAudio test server";
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("mervane_pulse_rec_" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto at = [&](const char* name) { return (dir / name).string(); };
  std::ostringstream out, err;
  ASSERT_EQ(runCli({"--backend", "portaudio", "sweep", "--columns", "12", "--record", at("s"),
                    "--save", at("a.son"), "--csv", at("a.csv")},
                   out, err),
            0)
      << err.str();
  std::ostringstream out2, err2;
  ASSERT_EQ(runCli({"--backend", "replay:" + at("s"), "sweep", "--columns", "12", "--save",
                    at("b.son"), "--csv", at("b.csv")},
                   out2, err2),
            0)
      << err2.str();
  EXPECT_EQ(out2.str(), out.str());
  EXPECT_EQ(fileText(at("a.son")), fileText(at("b.son")));
  EXPECT_EQ(fileText(at("a.csv")), fileText(at("b.csv")));
  EXPECT_NE(fileText(at("s/session.json")).find("portaudio"), std::string::npos);
  fs::remove_all(dir);
}

// Needs the private PulseAudio server of scripts/pulse-test-server.sh (./test starts it): its
// null sink's monitor hands every played sample back to the recording.
TEST(RealAudio, TheChirpComesBackThroughTheLoopbackServer) {
  if (!envIs("MERVANE_PULSE_READY", "1")) {
    if (envIs("CI", "true")) FAIL() << "no PulseAudio test server is running";
    std::cerr << "\n*** REAL AUDIO TEST SKIPPED: no PulseAudio test server (./test starts one)"
                 " ***\n\n";
    GTEST_SKIP() << "no PulseAudio test server";
  }
  std::ostringstream out, err;
  const int code = runCli({"--backend", "portaudio", "ping", "--count", "5", "--json"}, out, err);
  ASSERT_EQ(code, 0) << err.str();
  const auto offsets = numbersAfter(out.str(), "foundOffset");
  const auto peaks = numbersAfter(out.str(), "peakAmplitude");
  std::ostringstream seen;
  for (size_t i = 0; i < offsets.size() && i < peaks.size(); ++i) {
    seen << " " << offsets[i] << "/" << peaks[i];
  }
  EXPECT_TRUE(steady(offsets, peaks)) << "offset/peak of each ping:" << seen.str();
}

}  // namespace
