#include "app/offset_search.h"
#include "audio/measurement.h"
#include "tests/app/app_fixture.h"

namespace {

OffsetRuns runsOf(uint32_t first, uint32_t rest) {
  OffsetRuns runs;
  runs.fill(rest);
  runs[0] = first;
  return runs;
}

TEST(OffsetSearchArithmetic, AveragesTheLastNineRuns) {
  EXPECT_EQ(averageOffsetRuns(runsOf(500, 650)), 650u);
  EXPECT_EQ(averageOffsetRuns(runsOf(4000000000u, 650)), 650u);  // the first run never counts
  OffsetRuns mixed{0, 1, 2, 3, 4, 5, 6, 7, 8, 10};
  EXPECT_EQ(averageOffsetRuns(mixed), 46u / 9);
  // The sum is 32-bit: nine runs of 2^31 wrap to 2^31.
  EXPECT_EQ(averageOffsetRuns(runsOf(0, 0x80000000u)), 0x80000000u / 9);
}

struct JudgeCase {
  const char* name;
  uint32_t result;
  uint32_t peak;
  bool strong;
  uint32_t stored;
  const char* message;
};

class JudgeTest : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(JudgeTest, StoresAndReports) {
  const JudgeCase& c = GetParam();
  const OffsetSearchOutcome o = judgeOffsetSearch(c.result, c.peak);
  EXPECT_EQ(o.strong, c.strong);
  EXPECT_EQ(o.storedOffset, c.stored);
  EXPECT_EQ(o.message, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, JudgeTest,
    ::testing::Values(
        JudgeCase{"strong", 650, 1200000, true, 585,
                  "The found offset is: 650 bytes with amplitude of 1200000"},
        JudgeCase{"atTheThreshold", 650, 1000000, true, 585,
                  "The found offset is: 650 bytes with amplitude of 1000000"},
        JudgeCase{"weak", 650, 999999, false, 650,
                  "The sound amplitude 999999 to weak!!! Check your sound system, volume and "
                  "connections."},
        JudgeCase{"tenthTruncated", 9, 2000000, true, 9,
                  "The found offset is: 9 bytes with amplitude of 2000000"}),
    CaseName());

class OffsetSearchTest : public AppTest {
 protected:
  void useRoomWithLatency(double latencyMs) {
    SimRoom room = defaultSimRoom();
    room.latencyMs = latencyMs;
    closePair(*program.backend, program.pair);
    program.backend = makeRoom(room);
    startApplication(app);
    shell.messages.clear();
    shell.repaints = 0;
  }
};

TEST_F(OffsetSearchTest, FindsTheRoomsLatencyAndStoresItReduced) {
  useRoomWithLatency(5.0);  // 220.5 frames: 441 values of the stereo recording
  program.settings.startFrequency = 3000;
  program.settings.medium = kWater;
  program.settings.clockMultiplier = 9;
  program.settings.recordTime = 77;
  scan().scanColumn = 100;

  const OffsetSearchOutcome o = searchOffsetCommand(app);
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(shell.messages[0].text,
            "The device will try to find the offset. Set the sound volume to max. The test will "
            "be performed 10 times. Be patient. ");
  for (const FakeShell::Message& m : shell.messages) {
    EXPECT_EQ(m.caption, "Search offset");
    EXPECT_EQ(m.owner, MessageOwner::kMainWindow);
  }
  EXPECT_NEAR(static_cast<double>(o.result), 441.0, 12.0);
  EXPECT_TRUE(o.strong);
  EXPECT_EQ(o.peakAmplitude, scan().peakAmplitude);
  EXPECT_EQ(program.settings.offsetBytes, o.result - o.result / 10);
  EXPECT_EQ(shell.messages[1].text, o.message);
  EXPECT_EQ(shell.repaints, 1);
  EXPECT_EQ(shell.progress.size(), 11u);

  // Everything else is back at its default; record and chirp time keep the search's values.
  SonarSettings defaults;
  ScanState defaultScan;
  applyResetValues(defaults, defaultScan);
  const SonarSettings& s = program.settings;
  EXPECT_EQ(s.startFrequency, defaults.startFrequency);
  EXPECT_EQ(s.medium, defaults.medium);
  EXPECT_EQ(s.clockMultiplier, defaults.clockMultiplier);
  EXPECT_EQ(s.recordTime, 120u);
  EXPECT_EQ(s.chirpTime, 2000u);
  EXPECT_EQ(s.deltaOffsetBytes, 2000u);
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(scan().scanColumn, 1u);
}

TEST_F(OffsetSearchTest, WeakSoundKeepsTheAverageUnreduced) {
  SimRoom quiet = defaultSimRoom();
  quiet.directGain = 0.0;
  quiet.echoes.clear();
  closePair(*program.backend, program.pair);
  program.backend = makeRoom(quiet);
  startApplication(app);
  shell.messages.clear();

  const OffsetSearchOutcome o = searchOffsetCommand(app);
  EXPECT_FALSE(o.strong);
  EXPECT_EQ(program.settings.offsetBytes, o.result);
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(shell.messages[1].text, o.message);
  EXPECT_EQ(shell.repaints, 0);
}

}  // namespace

namespace {

class OffsetSearchFaultTest : public AppTest {};

// A device that fails half-way: the search ends at that ping, says so once under the program's
// own caption, and the user keeps the offset they had; no weak-sound verdict is given.
TEST_F(OffsetSearchFaultTest, StopsAtTheFirstDeviceFailureAndKeepsTheOffset) {
  FaultBackend& faults = useFaults();
  program.settings.offsetBytes = 1234;
  faults.failCallsFrom(BackendCall::kWritePlayback,
                       faults.callCount(BackendCall::kWritePlayback) + 4, hostWaveError(0x7001));
  const OffsetSearchOutcome o = searchOffsetCommand(app);
  EXPECT_TRUE(o.deviceFailed);
  EXPECT_EQ(program.settings.offsetBytes, 1234u);
  ASSERT_EQ(shell.messages.size(), 2u);  // the introduction, then the failure
  EXPECT_EQ(shell.messages[1].caption, "WaveOut Error");
  EXPECT_EQ(shell.messages[1].text, program.backend->errorText(hostWaveError(0x7001)));
  EXPECT_EQ(faults.callCount(BackendCall::kWritePlayback), 4u);  // no ping after the failed one
}

TEST_F(OffsetSearchFaultTest, ADeviceThatNeverFinishesEndsTheSearchAtItsFirstWarmUp) {
  FaultBackend& faults = useFaults();
  program.settings.offsetBytes = 777;
  faults.setCompletion(FaultCompletion::kNever);
  const OffsetSearchOutcome o = searchOffsetCommand(app);
  EXPECT_TRUE(o.deviceFailed);
  EXPECT_EQ(program.settings.offsetBytes, 777u);
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(shell.messages[1].text, program.backend->errorText(kWaveTimedOut));
  EXPECT_EQ(faults.callCount(BackendCall::kWritePlayback), 0u);
}

}  // namespace
