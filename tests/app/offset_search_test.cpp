#include "app/offset_search.h"
#include "app/header_ranges.h"
#include "app/scan_cycle.h"
#include "audio/measurement.h"
#include "display/reports.h"
#include "engine/buffer_plan.h"
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
                  "The found offset is: 650 bytes with amplitude of 1200000\r\nThe offset is set "
                  "a tenth lower, to 585 bytes."},
        JudgeCase{"atTheThreshold", 650, 1000000, true, 585,
                  "The found offset is: 650 bytes with amplitude of 1000000\r\nThe offset is set "
                  "a tenth lower, to 585 bytes."},
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
  EXPECT_EQ(shell.repaints, 1) << "the caption shows the offset found";
}

// After a search the message, Info and the caption under the plot tell the same offsets: the
// one found, and the one set a tenth lower.
TEST_F(OffsetSearchTest, TheMessageInfoAndThePlotAgree) {
  useRoomWithLatency(5.0);
  scan().scanOffsets.forScan(0) = 600;  // what the plot showed before
  const OffsetSearchOutcome o = searchOffsetCommand(app);
  ASSERT_TRUE(o.strong);
  const uint32_t set = program.settings.offsetBytes;
  ASSERT_EQ(set, o.result - o.result / 10);
  const std::string found = std::to_string(o.result);
  EXPECT_NE(o.message.find("found offset is: " + found + " bytes"), std::string::npos);
  EXPECT_NE(o.message.find("set a tenth lower, to " + std::to_string(set) + " bytes"),
            std::string::npos)
      << o.message;
  const std::string info = infoReportText(program.settings, scan());
  EXPECT_NE(info.find("Set offset " + std::to_string(set) + " B\r\nLast offset " + found + " B"),
            std::string::npos)
      << info;
  // The caption reads the latest scan's found offset.
  EXPECT_EQ(scan().scanOffsets.forScan(scan().latestScan), o.result);
  PlotSurface expected(kPlotClientWidth, kPlotClientHeight);
  ScanState shown = scan();
  shown.scanOffsets.forScan(shown.latestScan) = o.result;
  paintPlot(app);
  drawStatusStrip(expected, program.settings, shown, shown.stylusPosition);
  // The caption's band under the plot.
  EXPECT_EQ(surface.image().copy(0, 462, 360, 25), expected.image().copy(0, 462, 360, 25));
}

// Columns measured before a search are replotted against the scale they were measured with
// (48 ms), not the search's 120 ms, and the user is told.
TEST_F(OffsetSearchTest, ReplotDrawsTheColumnsAtTheScaleTheyWereMeasuredWith) {
  neverHoldBack();
  for (int i = 0; i < 3; ++i) singleChirpStep(app);
  SonarSettings measuredWith;
  measuredWith.recordTime = program.settings.recordTime;
  measuredWith.chirpTime = program.settings.chirpTime;
  measuredWith.tuneScale = program.settings.tuneScale;
  measuredWith.medium = program.settings.medium;
  ASSERT_EQ(measuredWith.recordTime, 48u);
  searchOffsetCommand(app);
  ASSERT_EQ(program.settings.recordTime, 120u);
  shell.messages.clear();
  ASSERT_TRUE(dispatchCommand(app, CommandId::kReplot));

  PlotSurface expected(kPlotClientWidth, kPlotClientHeight);
  drawEchogramFrame(expected, measuredWith);
  replotHistory(expected, program.settings, program.history);
  PlotSurface againstNow(kPlotClientWidth, kPlotClientHeight);
  drawEchogramFrame(againstNow, program.settings);
  replotHistory(againstNow, program.settings, program.history);
  ASSERT_NE(expected.image(), againstNow.image()) << "the two scales must look different";
  EXPECT_EQ(surface.image(), expected.image());
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].caption, "Replot");
  EXPECT_NE(shell.messages[0].text.find("measured with record time 48 ms"), std::string::npos)
      << shell.messages[0].text;
  EXPECT_NE(shell.messages[0].text.find("now are record time 120 ms"), std::string::npos);

  // Columns measured at the present scale replot without a word.
  ASSERT_TRUE(dispatchCommand(app, CommandId::kClearScreen));
  for (int i = 0; i < 2; ++i) singleChirpStep(app);
  shell.messages.clear();
  ASSERT_TRUE(dispatchCommand(app, CommandId::kReplot));
  EXPECT_TRUE(shell.messages.empty());
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

// A search that fails gives back every setting the reset before it replaced, so no offset is
// left beside a format or record time it was not found with; the devices work on the restored
// plan once they are back.
TEST_F(OffsetSearchFaultTest, AFailedSearchRestoresEverySettingItChanged) {
  FaultBackend& faults = useFaults();
  SonarSettings& s = program.settings;
  s.waveFormat.samplesPerSec = 8000;
  s.waveFormat.channels = 1;
  s.waveFormat.bitsPerSample = 8;
  recomputeDerivedFormat(s.waveFormat);
  s.recordTime = 77;
  s.chirpTime = 3000;
  s.startFrequency = 1500;
  s.endFrequency = 3500;
  s.offsetBytes = 234;
  s.deltaOffsetBytes = 900;
  s.medium = kWater;
  s.clockMultiplier = 9;
  s.tuneScale = 5;
  s.cutOff = 30;
  ASSERT_TRUE(planBuffers(s));
  ASSERT_EQ(openPairForPlan(s, program.pair, *program.backend), kWaveOk);
  scan().scanColumn = 100;
  scan().scanOffsets.forScan(100) = 250;
  const SonarSettings before = s;
  const ScanState scanBefore = scan();
  const auto expectAsBefore = [&](const char* when) {
    for (const HeaderRange& r : headerRanges()) {
      EXPECT_EQ(r.value(s), r.value(before)) << r.field << " " << when;
    }
    EXPECT_EQ(s.inBufferBytes, before.inBufferBytes) << when;
    EXPECT_EQ(s.outBufferBytes, before.outBufferBytes) << when;
    EXPECT_EQ(s.amplification, before.amplification) << when;
    EXPECT_EQ(scan().scanColumn, scanBefore.scanColumn) << when;
    EXPECT_EQ(scan().scanOffsets.values, scanBefore.scanOffsets.values) << when;
  };

  faults.failCallsFrom(BackendCall::kWritePlayback,
                       faults.callCount(BackendCall::kWritePlayback) + 4, hostWaveError(0x7001));
  EXPECT_TRUE(searchOffsetCommand(app).deviceFailed);
  expectAsBefore("after a failed ping");

  // The device is back: a step measures on the restored plan, in its format.
  faults.clearFaults();
  shell.messages.clear();
  neverHoldBack();
  keyPressed(app, VirtualKey::kEnter);
  s.deltaOffsetBytes = before.deltaOffsetBytes;
  EXPECT_TRUE(shell.messages.empty()) << shell.messages[0].text;
  EXPECT_EQ(program.pair.openFormat.samplesPerSec, 8000u);
  EXPECT_EQ(scan().scanColumn, 101u);

  // A reset that cannot open the devices gives everything back too.
  scan().scanColumn = 100;
  faults.failCallsFrom(BackendCall::kOpen, faults.callCount(BackendCall::kOpen) + 1,
                       hostWaveError(0x7002));
  EXPECT_TRUE(searchOffsetCommand(app).deviceFailed);
  scan().scanOffsets.forScan(101) = scanBefore.scanOffsets.forScan(101);
  expectAsBefore("after a failed reset");
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
