#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "audio/recorded_session.h"
#include "audio/session_recorder.h"
#include "cli/cli.h"
#include "engine/buffer_plan.h"
#include "io/wav_file.h"
#include "tests/io/file_limit.h"

namespace {

namespace fs = std::filesystem;

struct CliOutcome {
  int code;
  std::string out, err;
};

CliOutcome cli(const std::vector<std::string>& words) {
  std::ostringstream out, err;
  const int code = runCli(words, out, err);
  return {code, out.str(), err.str()};
}

bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void replaceIn(const fs::path& path, const std::string& from, const std::string& to) {
  std::string text = slurp(path);
  const size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from << " not in " << path;
  spit(path, text.replace(at, from.size(), to));
}

// A fresh folder per test, removed afterwards.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           (std::string("mervane_session_") + info->name() + "_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string at(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

// Nothing of the room is simulated again on replay: the room and seed of the environment
// change, the outputs do not. A live run in that changed room shows that they would.
TEST_F(SessionTest, ASweepReplaysToTheSameSonarFileAndTableWhateverTheRoom) {
  const CliOutcome live =
      cli({"--room", "echo=1.20:0.1,echo=2.1:0.05,noise=40,seed=3", "sweep", "--columns", "50",
           "--record", at("s"), "--save", at("a.son"), "--csv", at("a.csv")});
  ASSERT_EQ(live.code, 0) << live.err;
  ::setenv("MERVANE_ROOM", "echo=0.6:0.2,seed=99", 1);
  const CliOutcome replay = cli({"--backend", "replay:" + at("s"), "sweep", "--columns", "50",
                                 "--save", at("b.son"), "--csv", at("b.csv")});
  const CliOutcome other =
      cli({"--room", "echo=0.6:0.2,seed=99", "sweep", "--columns", "50", "--csv", at("c.csv")});
  ::unsetenv("MERVANE_ROOM");
  ASSERT_EQ(replay.code, 0) << replay.err;
  EXPECT_EQ(replay.out, live.out);
  EXPECT_EQ(slurp(at("a.son")), slurp(at("b.son")));
  EXPECT_EQ(slurp(at("a.csv")), slurp(at("b.csv")));
  EXPECT_TRUE(has(slurp(at("a.csv")), ",1.2")) << slurp(at("a.csv"));
  ASSERT_EQ(other.code, 0);
  EXPECT_NE(slurp(at("c.csv")), slurp(at("a.csv")));
  EXPECT_TRUE(has(slurp(at("s/session.json")), "\"complete\":true,\"pings\":50"));
}

// The session fixes the capture settings: a replay with other ones set plays it as recorded.
TEST_F(SessionTest, ReplayTakesTheSessionsCaptureSettingsAndEndsAsADeviceThatRanOut) {
  const std::vector<std::string> format = {"--set", "samplesPerSec=22050", "--set", "channels=1",
                                           "--set", "recordTime=60"};
  std::vector<std::string> record = format;
  record.insert(record.end(), {"ping", "--count", "6", "--record", at("s"), "--json"});
  const CliOutcome live = cli(record);
  ASSERT_EQ(live.code, 0) << live.err;
  const CliOutcome replay =
      cli({"--backend", "replay:" + at("s"), "ping", "--count", "6", "--json"});
  ASSERT_EQ(replay.code, 0) << replay.err;
  EXPECT_EQ(replay.out, live.out);
  const CliOutcome beyond = cli({"--backend", "replay:" + at("s"), "ping", "--count", "7"});
  EXPECT_EQ(beyond.code, 1);
  EXPECT_TRUE(has(beyond.out, "ping 6:")) << beyond.out;
  EXPECT_FALSE(has(beyond.out, "ping 7:"));
  EXPECT_TRUE(has(beyond.err, "The recorded session has ended")) << beyond.err;
}

TEST_F(SessionTest, AnalyzeOfASessionPrintsWhatTheLiveRunPrinted) {
  const CliOutcome live = cli({"--room", "preset=desk", "ping", "--count", "6", "--average",
                               "--record", at("s"), "--json"});
  ASSERT_EQ(live.code, 0) << live.err;
  const CliOutcome analyzed = cli({"analyze", at("s"), "--json"});
  ASSERT_EQ(analyzed.code, 0) << analyzed.err;
  EXPECT_EQ(analyzed.out, live.out);
  // Analysis settings may differ from the recording's: another medium stretches the distances.
  const CliOutcome water = cli({"--set", "medium=2", "analyze", at("s")});
  ASSERT_EQ(water.code, 0) << water.err;
  EXPECT_NE(water.out, cli({"analyze", at("s")}).out);
}

// The session's calibration travels with it: analysing it without one reads the distances as
// the live run did; one given on the command line reads them anew.
TEST_F(SessionTest, TheSessionsCalibrationAppliesUnlessAnotherIsGiven) {
  const CliOutcome live =
      cli({"--temperature", "35", "ping", "--count", "3", "--average", "--record", at("s")});
  ASSERT_EQ(live.code, 0) << live.err;
  EXPECT_TRUE(has(slurp(at("s/session.json")), "\"temperatureC\":35"));
  const CliOutcome analyzed = cli({"analyze", at("s")});
  EXPECT_EQ(analyzed.out, live.out);
  const CliOutcome colder = cli({"--temperature", "0", "analyze", at("s")});
  ASSERT_EQ(colder.code, 0) << colder.err;
  EXPECT_NE(colder.out, live.out);
  replaceIn(dir_ / "s" / kSessionFile, "\"temperatureC\":35", "\"temperatureC\":3500");
  const CliOutcome hostile = cli({"analyze", at("s")});
  EXPECT_EQ(hostile.code, 2);
  EXPECT_TRUE(has(hostile.err, "calibration")) << hostile.err;
}

// What a crash mid-ping leaves: the line of the last ping half written and its recording missing.
TEST_F(SessionTest, ASessionCutShortReplaysUpToItsLastCompletePing) {
  ASSERT_EQ(cli({"ping", "--count", "5", "--record", at("s")}).code, 0);
  const fs::path list = dir_ / "s" / kPingListFile;
  std::string lines = slurp(list);
  lines.resize(lines.size() - 20);  // the fifth line loses its end
  spit(list, lines);
  fs::remove(dir_ / "s" / "000005.wav");
  replaceIn(dir_ / "s" / kSessionFile, "\"complete\":true,\"pings\":5", "\"complete\":false");
  const CliOutcome replay = cli({"--backend", "replay:" + at("s"), "ping", "--count", "4"});
  EXPECT_EQ(replay.code, 0) << replay.err;
  const CliOutcome analyzed = cli({"analyze", at("s")});
  EXPECT_EQ(analyzed.code, 0) << analyzed.err;
  EXPECT_TRUE(has(analyzed.out, "average of 4 pings")) << analyzed.out;
}

struct Hostile {
  const char* name;
  void (*spoil)(const fs::path& session);
  const char* reason;
};

const Hostile kHostile[] = {
    {"MissingRecording", [](const fs::path& s) { fs::remove(s / "000003.wav"); }, "000003.wav"},
    {"MissingWarmUp", [](const fs::path& s) { fs::remove(s / "000002-warmup.wav"); },
     "000002-warmup.wav"},
    {"NoPingList", [](const fs::path& s) { fs::remove(s / kPingListFile); }, "pings.jsonl"},
    {"RecordingOfAnotherFormat",
     [](const fs::path& s) {
       fs::remove(s / "000002.wav");
       writeNewWavFile((s / "000002.wav").string(), PcmFormat{1, 8000, 8},
                       std::vector<uint8_t>(10670, 128));
     },
     "8000 Hz, 8 bits, 1 channel"},
    {"RecordingOfAnotherLength",
     [](const fs::path& s) {
       fs::remove(s / "000004.wav");
       writeNewWavFile((s / "000004.wav").string(), PcmFormat{2, 44100, 16},
                       std::vector<uint8_t>(4000));
     },
     "holds 4000 bytes"},
    {"CountsMorePingsThanItHolds",
     [](const fs::path& s) { replaceIn(s / kSessionFile, "\"pings\":4", "\"pings\":40"); },
     "counts 40 pings"},
    {"LineOutOfOrder",
     [](const fs::path& s) { replaceIn(s / kPingListFile, "{\"index\":2,", "{\"index\":3,"); },
     "is not ping 2"},
    {"LineNamingAFileElsewhere",
     [](const fs::path& s) {
       replaceIn(s / kPingListFile, "\"ping\":\"000001.wav\"", "\"ping\":\"../../x.wav\"");
     },
     "names other files"},
    {"FormatNoDeviceRuns",
     [](const fs::path& s) { replaceIn(s / kSessionFile, "\"channels\":2", "\"channels\":7"); },
     "format"},
    {"LaterVersion",
     [](const fs::path& s) { replaceIn(s / kSessionFile, "\"version\":1", "\"version\":2"); },
     "version 2"},
    {"NotJson", [](const fs::path& s) { spit(s / kSessionFile, "{\"version\":1,"); }, "not JSON"},
    {"RecordLengthTheSettingsDoNotPlan",
     [](const fs::path& s) {
       replaceIn(s / kSessionFile, "\"recordTime\":48", "\"recordTime\":20");
     },
     "its settings plan"},
};

class HostileSessionTest : public SessionTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileSessionTest, IsRefusedWithItsReasonByReplayAndAnalyze) {
  ASSERT_EQ(cli({"ping", "--count", "4", "--record", at("s")}).code, 0);
  GetParam().spoil(dir_ / "s");
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{"--backend", "replay:" + at("s"), "ping", "--count", "4"},
        std::vector<std::string>{"analyze", at("s")}}) {
    const CliOutcome r = cli(words);
    EXPECT_EQ(r.code, 2) << words[0];
    EXPECT_TRUE(has(r.err, GetParam().reason)) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Sessions, HostileSessionTest, ::testing::ValuesIn(kHostile),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(SessionTest, RecordRefusesAFolderInUseAndWritesNothing) {
  fs::create_directories(dir_ / "full");
  spit(dir_ / "full" / "notes.txt", "mine");
  const CliOutcome full = cli({"ping", "--record", at("full")});
  EXPECT_EQ(full.code, 2);
  EXPECT_TRUE(has(full.err, "not empty")) << full.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "full"), fs::directory_iterator{}), 1);
  ASSERT_EQ(cli({"ping", "--record", at("s")}).code, 0);
  const CliOutcome same =
      cli({"--backend", "replay:" + at("s"), "ping", "--record", at("s") + "/."});
  EXPECT_EQ(same.code, 2);
  EXPECT_TRUE(has(same.err, "being played back")) << same.err;
  const CliOutcome nowhere = cli({"sweep", "--record", at("no/such/folder")});
  EXPECT_EQ(nowhere.code, 1);
  EXPECT_FALSE(fs::exists(dir_ / "no"));
}

// The kernel refuses to let any file grow past the limit, as a full disk would: the first ping
// list line past it fails, the recording stops with a message, every ping is still measured and
// printed, and the session reads up to the last ping whose line was written whole.
TEST_F(SessionTest, AFullDiskStopsTheRecordingButNeverTheMeasurement) {
  constexpr int kPings = 260;
  CliOutcome r;
  {
    const FileSizeLimit limit(15044 + 100);  // a warm-up's WAV fits; the list fills up
    r = cli({"--set", "samplesPerSec=8000", "--set", "channels=1", "--set", "bitsPerSample=8",
             "ping", "--count", std::to_string(kPings), "--record", at("s")});
  }
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(has(r.out, "ping " + std::to_string(kPings) + ":"));
  EXPECT_TRUE(has(r.err, "recording stopped after")) << r.err;
  RecordedSession session;
  ASSERT_EQ(readRecordedSession(at("s"), session), "");
  EXPECT_GT(session.pings.size(), 150u);
  EXPECT_LT(session.pings.size(), static_cast<size_t>(kPings));
  const CliOutcome analyzed = cli({"analyze", at("s")});
  EXPECT_EQ(analyzed.code, 0) << analyzed.err;
}

// A dialog that changes the capture mid-recording, or a recording of another length, ends the
// session rather than filling it with pings its session.json does not describe.
TEST_F(SessionTest, ACaptureThatNoLongerMatchesEndsTheRecording) {
  SonarSettings settings;
  applyDefaultSettings(settings);
  SessionInfo info;
  info.capture = captureOf(settings);
  info.recordBytes = 10670;
  std::string problem;
  auto recorder = SessionRecorder::start(at("s"), info, 0, problem);
  ASSERT_TRUE(recorder) << problem;
  const std::vector<uint8_t> warmUp(15000), ping(10670), shorter(8000);
  EXPECT_TRUE(recorder->addPing(warmUp, ping, 1, "{}"));
  EXPECT_TRUE(recorder->checkCapture(captureOf(settings)));
  EXPECT_FALSE(recorder->addPing(warmUp, shorter, 2, "{}"));
  EXPECT_TRUE(has(recorder->problem(), "another length")) << recorder->problem();
  EXPECT_FALSE(recorder->addPing(warmUp, ping, 3, "{}"));
  EXPECT_EQ(recorder->finish(), "");
  RecordedSession session;
  ASSERT_EQ(readRecordedSession(at("s"), session), "");
  EXPECT_EQ(session.pings.size(), 1u);
  EXPECT_TRUE(has(slurp(at("s/session.json")), "\"stopped\":\"recording stopped after 1"));

  auto second = SessionRecorder::start(at("t"), info, 0, problem);
  ASSERT_TRUE(second) << problem;
  settings.recordTime = 60;
  EXPECT_FALSE(second->checkCapture(captureOf(settings)));
  EXPECT_FALSE(second->active());
}

// A disk that cannot hold a minute of recording is refused before anything is written, with what
// it has and what a minute takes; one that just holds it is taken. The free space comes from a
// stand-in for statvfs, as a nearly full disk would report it.
TEST_F(SessionTest, ADiskThatCannotHoldAMinuteIsRefusedBeforeAnythingIsWritten) {
  SonarSettings settings;
  applyDefaultSettings(settings);
  ASSERT_TRUE(planBuffers(settings));
  SessionInfo info;
  info.capture = captureOf(settings);
  info.recordBytes = settings.inBufferBytes + kRecordExtraBytes;
  const uint64_t minute = sessionBytesPerMinute(settings);
  // A default ping keeps about 25 KB; measured on a sound server the desktop pings every 275 ms
  // (5.6 MB a minute), and the ticks alone would allow a ping every 125 ms: the check takes that.
  EXPECT_GT(minute, 5u * 1000 * 1000);
  EXPECT_LT(minute, 15u * 1000 * 1000);

  static uint64_t reported = 0;
  const auto nearlyFull = [](const std::string&, uint64_t& freeBytes) {
    freeBytes = reported;
    return true;
  };
  reported = minute - 1;
  std::string problem;
  EXPECT_FALSE(SessionRecorder::start(at("s"), info, minute, problem, nearlyFull));
  EXPECT_TRUE(has(problem, "KB free; a minute of recording takes")) << problem;
  EXPECT_FALSE(fs::exists(dir_ / "s"));  // the folder it made is gone again

  fs::create_directories(dir_ / "mine");
  EXPECT_FALSE(SessionRecorder::start(at("mine"), info, minute, problem, nearlyFull));
  EXPECT_TRUE(fs::is_directory(dir_ / "mine"));  // the user's own folder stays
  EXPECT_TRUE(fs::is_empty(dir_ / "mine"));

  const auto unanswered = [](const std::string&, uint64_t&) {
    errno = EIO;
    return false;
  };
  EXPECT_FALSE(SessionRecorder::start(at("s"), info, minute, problem, unanswered));
  EXPECT_TRUE(has(problem, std::strerror(EIO))) << problem;

  reported = minute;
  auto recorder = SessionRecorder::start(at("s"), info, minute, problem, nearlyFull);
  ASSERT_TRUE(recorder) << problem;
  EXPECT_EQ(recorder->finish(), "");
  EXPECT_TRUE(fs::exists(dir_ / "s" / "session.json"));
}

}  // namespace
