#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "audio/sim_shoebox.h"
#include "audio_test_support.h"
#include "cli/cli.h"
#include "cli/wav_io.h"
#include "json_scan.h"
#include "tests/cli/cli_result.h"

namespace {

std::vector<long> firstEnvelope(const std::string& json) {
  const size_t at = json.find("\"envelope\":[") + 12;
  std::vector<long> values;
  std::istringstream list(json.substr(at, json.find(']', at) - at));
  for (std::string item; std::getline(list, item, ',');) values.push_back(std::stol(item));
  return values;
}

size_t strongestBin(const std::vector<long>& envelope, size_t from, size_t to) {
  return static_cast<size_t>(std::max_element(envelope.begin() + static_cast<std::ptrdiff_t>(from),
                                              envelope.begin() + static_cast<std::ptrdiff_t>(to)) -
                             envelope.begin());
}

// A device that hands over only silence where the chirp should be: each such ping is told on
// standard error and counts in no average, and the run goes on to its end with exit 0. A room
// with sound is never told so.
TEST(CliPing, SilenceIsToldAndNotCounted) {
  const CliResult silent = cli({"--room", "direct=0,noise=0", "ping", "--count", "3", "--average"});
  EXPECT_EQ(silent.code, 0) << silent.err;
  for (const char* n : {"1", "2", "3"}) {
    EXPECT_TRUE(has(silent.err, std::string("warning: ping ") + n +
                                    " recorded only silence where the chirp should be"))
        << silent.err;
  }
  EXPECT_TRUE(has(silent.out, "ping 3: offset")) << silent.out;
  EXPECT_TRUE(has(silent.out, "average of 0 pings: echoes none")) << silent.out;
  for (const std::string room : {"noise=30", "direct=0,noise=1", "echo=1.2:0.1"}) {
    const CliResult heard = cli({"--room", room, "ping", "--count", "2"});
    EXPECT_EQ(heard.code, 0) << heard.err;
    EXPECT_FALSE(has(heard.err, "silence")) << room << ": " << heard.err;
  }
  SimRig eightBit(quietRoom(7.4, 0.0, 0.0));
  eightBit.useFormat(1, 8, 22050);
  ASSERT_EQ(eightBit.open(), kWaveOk);
  EXPECT_TRUE(eightBit.measure().silent) << "8-bit silence is the midpoint 128";
}

// The default room: the same five pings on every run, the direct sound at 7.4 ms and the two
// reflectors' peaks in the bins of 0.80 m and 1.90 m (9 lags a bin, 418 and 993 lags behind
// the direct sound at 337.6 m/s).
TEST(CliPing, TheDefaultRoomIsRepeatableAndWhereItShouldBe) {
  const CliResult a = cli({"ping", "--count", "5", "--json"});
  const CliResult b = cli({"--json", "ping", "--count", "5"});
  ASSERT_EQ(a.code, 0) << a.err;
  EXPECT_EQ(a.out, b.out);
  const auto offsets = numbersAfter(a.out, "foundOffset");
  ASSERT_EQ(offsets.size(), 5u);
  for (const long o : offsets) EXPECT_NEAR(o, 652.7, 8.0);
  const auto envelope = firstEnvelope(a.out);
  ASSERT_EQ(envelope.size(), 439u);
  const double trueDirect = 652.7;
  EXPECT_NEAR(strongestBin(envelope, 20, 80), (trueDirect + 418.0 - offsets[0]) / 9.0, 1.5);
  EXPECT_NEAR(strongestBin(envelope, 80, 200), (trueDirect + 992.8 - offsets[0]) / 9.0, 1.5);

  const CliResult text = cli({"ping", "--count", "2"});
  ASSERT_EQ(text.code, 0);
  EXPECT_EQ(text.out.rfind("ping 1: offset ", 0), 0u) << text.out;
  EXPECT_NE(text.out.find("\nping 2: offset "), std::string::npos);
}

// A recording of the simulated room written to a WAV file analyses to the same result as the
// measurement that made it.
TEST(CliAnalyze, AWavOfAMeasurementGivesTheSameResult) {
  SimRig rig;
  ASSERT_EQ(rig.open(), kWaveOk);
  const MeasurementResult measured = rig.measure();
  const std::vector<int32_t> envelope(rig.settings.correlationBuffer.begin(),
                                      rig.settings.correlationBuffer.begin() + 439);
  const auto path = std::filesystem::temp_directory_path() / "mervane_analyze_test.wav";
  const std::span<const uint8_t> recorded(rig.settings.recordBuffer.data(),
                                          rig.settings.inBufferBytes + 1000);
  ASSERT_EQ(writeWav(path.string(), rig.settings.waveFormat, recorded), "");

  const CliResult r = cli({"analyze", path.string(), "--json"});
  std::filesystem::remove(path);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(numbersAfter(r.out, "foundOffset"), std::vector<long>{long(measured.arrival.offset)});
  EXPECT_EQ(numbersAfter(r.out, "peakAmplitude"), std::vector<long>{long(measured.peakAmplitude)});
  const auto analysed = firstEnvelope(r.out);
  EXPECT_TRUE(std::equal(analysed.begin(), analysed.end(), envelope.begin(), envelope.end()));
}

// The laptop at a desk: eight pings combined find the wall it faces (the range a sonar reads:
// half the echo's way beyond the direct sound's) and nothing nearer that the room does not hold.
TEST(CliPing, AveragedPingsAtTheDeskFindTheFacingWall) {
  const CliResult text = cli({"--room", "preset=desk", "ping", "--count", "8", "--average"});
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("\naverage of 8 pings: echoes "), std::string::npos) << text.out;

  const CliResult json =
      cli({"--room", "preset=desk", "--json", "ping", "--count", "8", "--average"});
  ASSERT_EQ(json.code, 0) << json.err;
  const std::string marker = "\"average\":{\"pings\":8,\"obstructions\":[";
  const size_t at = json.out.find(marker);
  ASSERT_NE(at, std::string::npos) << json.out;
  const double nearest = std::stod(json.out.substr(at + marker.size()));
  SimRoom desk;
  ASSERT_EQ(parseSimRoom("preset=desk", desk), "");
  EXPECT_NEAR(nearest, facingWallRange(*desk.shoebox, 0), 0.02) << json.out;
}

// A loudspeaker that beams at the wall (a cardioid) with the microphones behind it hears the wall
// louder than itself: the direct sound is still the first arrival, and the wall its echo.
TEST(CliPing, AWallLouderThanTheDirectSoundIsItsEcho) {
  const std::string room = "preset=desk,beam=1";
  const CliResult json = cli({"--room", room, "--json", "ping", "--count", "4", "--average"});
  ASSERT_EQ(json.code, 0) << json.err;
  const std::string marker = "\"average\":{\"pings\":4,\"obstructions\":[";
  const size_t at = json.out.find(marker);
  ASSERT_NE(at, std::string::npos) << json.out;
  ASSERT_NE(json.out[at + marker.size()], ']') << "no echo";
  const double nearest = std::stod(json.out.substr(at + marker.size()));
  SimRoom desk;
  ASSERT_EQ(parseSimRoom(room, desk), "");
  EXPECT_NEAR(nearest, facingWallRange(*desk.shoebox, 0), 0.02) << json.out;
}

// At 22050 samples per second the default 8-12 kHz chirp folds back: the command says so on
// stderr, measures as asked, and reports no echo distances from it.
TEST(CliPing, AFoldedChirpIsReportedAndGivesNoDistances) {
  const CliResult r = cli({"--set", "samplesPerSec=22050", "ping", "--count", "2", "--average"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("warning: The chirp sweeps from 8000 Hz to 12000 Hz"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("11025 Hz"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find(" m"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("average of 2 pings: echoes none"), std::string::npos) << r.out;

  const CliResult settings = cli({"--set", "samplesPerSec=22050", "settings"});
  EXPECT_NE(settings.err.find("folds back"), std::string::npos);
  EXPECT_TRUE(cli({"settings"}).err.empty());
}

struct Failing {
  std::vector<std::string> words;
  int code;
  const char* named;  // what stderr must name
};

class CliAudioFailures : public testing::TestWithParam<Failing> {};

TEST_P(CliAudioFailures, ExitWithTheReason) {
  const CliResult r = cli(GetParam().words);
  EXPECT_EQ(r.code, GetParam().code) << r.err;
  EXPECT_NE(r.err.find(GetParam().named), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliAudioFailures,
    testing::Values(Failing{{"--room", "bogus=1", "ping"}, 2, "bogus"},
                    Failing{{"--room", "echo=1", "ping"}, 2, "echo"},
                    Failing{{"ping", "--count", "0"}, 2, "--count"},
                    Failing{{"ping", "--count", "two"}, 2, "--count"},
                    Failing{{"ping", "--loud"}, 2, "--loud"}, Failing{{"analyze"}, 2, "FILE.wav"},
                    Failing{{"--room", "preset=attic", "ping"}, 2, "attic"},
                    Failing{{"--room", "noise=3,preset=desk", "ping"}, 2, "preset"},
                    Failing{{"--room", "size=4:3:2.5,pos=5:1:1", "ping"}, 2, "pos"},
                    Failing{{"analyze", "/nonexistent/x.wav"}, 2, "/nonexistent/x.wav"},
                    Failing{{"--set", "recordTime=3700", "ping"}, 1, "plan"},
                    // a rate no file could hold is refused before any device opens
                    Failing{{"--set", "samplesPerSec=12345", "ping"}, 2, "samplesPerSec"}));

}  // namespace
