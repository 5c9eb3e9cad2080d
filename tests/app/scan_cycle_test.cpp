#include <algorithm>
#include <array>

#include "app/scan_cycle.h"
#include "audio/measurement.h"
#include "engine/buffer_plan.h"
#include "engine/correlation.h"
#include "tests/app/app_fixture.h"

namespace {

using ScanCycleTest = AppTest;

TEST_F(ScanCycleTest, StartsIdleAtColumnOneWithTheDefaultOffsets) {
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(scan().scanColumn, 1u);
  EXPECT_EQ(scan().latestScan, 0u);
  EXPECT_EQ(scan().scanOffsets.forScan(0), 600u);
  EXPECT_TRUE(shell.messages.empty());
}

struct TickCase {
  const char* name;
  uint32_t clockMultiplier;
  int ticks;
  uint32_t pings;
};

class TickCountTest : public AppTest, public ::testing::WithParamInterface<TickCase> {};

TEST_P(TickCountTest, PingsOnTheTickAfterClockMultiplierTicks) {
  program.settings.clockMultiplier = GetParam().clockMultiplier;
  startSonar(app);
  const uint32_t first = scan().scanColumn;
  tick(GetParam().ticks);
  EXPECT_EQ(scan().scanColumn - first, GetParam().pings);
  if (GetParam().pings > 0) {
    EXPECT_EQ(scan().latestScan, scan().scanColumn);
  }
}

INSTANTIATE_TEST_SUITE_P(Ticks, TickCountTest,
                         ::testing::Values(TickCase{"fourWaitsFourTicks", 4, 4, 0},
                                           TickCase{"fourPingsOnFifth", 4, 5, 1},
                                           TickCase{"fourTwiceInTen", 4, 10, 2},
                                           TickCase{"fourTwiceInFourteen", 4, 14, 2},
                                           TickCase{"zeroPingsEveryTick", 0, 3, 3}),
                         CaseName());

TEST_F(ScanCycleTest, TicksCountOnlyWhileRunning) {
  program.settings.clockMultiplier = 0;
  tick(5);
  EXPECT_EQ(scan().scanColumn, 1u);
  EXPECT_EQ(scan().tickCount, 0u);
}

TEST_F(ScanCycleTest, TimedSweepFromColumnZeroEndsCompleteAfterColumn349) {
  program.settings.clockMultiplier = 0;
  stopSonar(app);
  startSonar(app);
  int pings = 0;
  while (scan().scanState == kRunning && pings < 400) {
    tick(1);
    ++pings;
  }
  EXPECT_EQ(pings, 349);
  EXPECT_EQ(scan().scanColumn, 349u);
  EXPECT_EQ(scan().scanState, kComplete);
  EXPECT_EQ(scan().tickCount, 0u);
  tick(3);
  EXPECT_EQ(scan().scanColumn, 349u);

  startSonar(app);  // a new sweep begins at column 1
  tick(1);
  EXPECT_EQ(scan().scanColumn, 1u);
}

TEST_F(ScanCycleTest, StartResetsColumn358AndKeepsOthers) {
  program.settings.clockMultiplier = 0;
  scan().scanColumn = 358;
  startSonar(app);
  tick(1);
  EXPECT_EQ(scan().scanColumn, 1u);

  scan().scanColumn = 119;
  tick(1);
  pauseSonar(app);
  EXPECT_EQ(scan().scanState, kIdle);
  tick(3);
  EXPECT_EQ(scan().scanColumn, 120u);
  startSonar(app);
  tick(1);
  EXPECT_EQ(scan().scanColumn, 121u);
}

TEST_F(ScanCycleTest, PauseKeepsAPartialTickCount) {
  startSonar(app);
  tick(3);
  pauseSonar(app);
  startSonar(app);
  const uint32_t column = scan().scanColumn;
  tick(2);
  EXPECT_EQ(scan().scanColumn, column + 1);
}

TEST_F(ScanCycleTest, StopGoesToColumnZeroAndTheRepaintDrawsAFreshFrame) {
  program.settings.clockMultiplier = 0;
  startSonar(app);
  tick(3);
  paintPlot(app);
  surface.setPixel(200, 200, Rgb{1, 2, 3});
  stopSonar(app);
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(scan().scanColumn, 0u);
  EXPECT_GT(shell.repaints, 0);
  paintPlot(app);
  EXPECT_EQ(surface.pixel(200, 200), Rgb{});
  EXPECT_EQ(surface.pixel(8, 100), (Rgb{255, 255, 255}));  // the box of the new frame
}

TEST_F(ScanCycleTest, RepaintAtLaterColumnsKeepsEarlierColumns) {
  program.settings.clockMultiplier = 0;
  startSonar(app);
  tick(3);
  surface.setPixel(200, 200, Rgb{1, 2, 3});
  paintPlot(app);
  EXPECT_EQ(surface.pixel(200, 200), (Rgb{1, 2, 3}));
}

TEST_F(ScanCycleTest, ManualStepsWalkTo358AndStartOverAtOne) {
  neverHoldBack();
  for (uint32_t column = 2; column <= 358; ++column) {
    singleChirpStep(app);
    ASSERT_EQ(scan().scanColumn, column);
  }
  EXPECT_EQ(scan().scanState, kComplete);
  singleChirpStep(app);
  EXPECT_EQ(scan().scanColumn, 1u);
  EXPECT_EQ(scan().scanState, kIdle);
}

TEST_F(ScanCycleTest, ManualStepHoldsTheColumnBackOnALargeOffsetButATimedPingNever) {
  program.settings.deltaOffsetBytes = 0;
  program.settings.offsetBytes = 10;  // every found offset lies beyond 10 + 0
  scan().scanColumn = 4;
  singleChirpStep(app);
  EXPECT_EQ(scan().scanColumn, 4u);
  EXPECT_EQ(scan().latestScan, 5u);
  EXPECT_GT(scan().scanOffsets.forScan(5), 10u);
  singleChirpStep(app);
  EXPECT_EQ(scan().scanColumn, 4u);

  program.settings.clockMultiplier = 0;
  startSonar(app);
  tick(2);
  EXPECT_EQ(scan().scanColumn, 6u);
}

TEST_F(ScanCycleTest, ManualStepHeldBackAtColumnOneStaysInRange) {
  program.settings.deltaOffsetBytes = 0;
  program.settings.offsetBytes = 10;
  scan().scanColumn = 0;
  singleChirpStep(app);
  EXPECT_EQ(scan().scanColumn, 0u);
  EXPECT_GT(scan().scanOffsets.forScan(1), 10u);
}

struct KeyCase {
  const char* name;
  uint32_t column;
  int8_t state;
  VirtualKey key;
  uint32_t columnAfter;
  int8_t stateAfter;
};

class KeyTest : public AppTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyTest, StepsFromTheColumnTheKeyLeaves) {
  neverHoldBack();
  scan().scanColumn = GetParam().column;
  scan().scanState = GetParam().state;
  keyPressed(app, GetParam().key);
  EXPECT_EQ(scan().scanColumn, GetParam().columnAfter);
  EXPECT_EQ(scan().scanState, GetParam().stateAfter);
  EXPECT_EQ(shell.repaints, 1);
  EXPECT_LE(scan().scanColumn, kLastManualColumn);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyTest,
    ::testing::Values(
        KeyCase{"enterAdvances", 5, kIdle, VirtualKey::kEnter, 6, kIdle},
        KeyCase{"enterEndsARun", 5, kRunning, VirtualKey::kEnter, 6, kIdle},
        KeyCase{"enterAfterCompleteRestarts", 200, kComplete, VirtualKey::kEnter, 1, kIdle},
        KeyCase{"enterReachesTheLastColumn", 357, kIdle, VirtualKey::kEnter, 358, kComplete},
        KeyCase{"enterBeyondTheLastColumnRestarts", 358, kIdle, VirtualKey::kEnter, 1, kIdle},
        KeyCase{"downMeasuresTheSameColumn", 5, kIdle, VirtualKey::kDown, 5, kIdle},
        KeyCase{"downAtOneMeasuresTwo", 1, kIdle, VirtualKey::kDown, 2, kIdle},
        KeyCase{"downAtZeroLikeAtOne", 0, kIdle, VirtualKey::kDown, 2, kIdle},
        KeyCase{"upSkipsAColumn", 5, kIdle, VirtualKey::kUp, 7, kIdle},
        KeyCase{"upAtTheEndRestarts", 357, kIdle, VirtualKey::kUp, 1, kIdle},
        KeyCase{"otherKeyOnlyRepaints", 5, kRunning, VirtualKey::kNone, 5, kRunning}),
    CaseName());

TEST_F(ScanCycleTest, UpKeyPressedRepeatedlyNeverLeavesTheTable) {
  neverHoldBack();
  for (int i = 0; i < 400; ++i) {
    keyPressed(app, VirtualKey::kUp);
    ASSERT_GE(scan().scanColumn, 1u);
    ASSERT_LE(scan().scanColumn, kLastManualColumn);
  }
}

TEST_F(ScanCycleTest, SingleChirpCommandEndsARunAfterOneStep) {
  neverHoldBack();
  startSonar(app);
  shell.repaints = 0;
  ASSERT_TRUE(dispatchCommand(app, CommandId::kSingleChirp));
  EXPECT_EQ(scan().scanColumn, 2u);
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(shell.repaints, 1);
}

TEST_F(ScanCycleTest, EveryPingKeepsItsEnvelopeAsAHistoryColumn) {
  neverHoldBack();
  program.history.at(0, 5) = 77;  // header slot
  singleChirpStep(app);
  const std::vector<int32_t>& envelope = program.settings.correlationBuffer;
  for (uint32_t row = 0; row < kEnvelopeBins; ++row) {
    ASSERT_EQ(program.history.at(2, row), envelope[row]) << row;
  }
  EXPECT_TRUE(std::any_of(envelope.begin(), envelope.begin() + kEnvelopeBins,
                          [](int32_t v) { return v != 0; }));
  program.settings.clockMultiplier = 0;
  startSonar(app);
  tick(1);
  EXPECT_EQ(program.history.at(3, 100), envelope[100]);
  EXPECT_EQ(program.history.at(0, 5), 77);
}

class FailedPingTest : public AppTest, public ::testing::WithParamInterface<BackendCall> {};

TEST_P(FailedPingTest, PausesReportsOnceAndKeepsTheColumn) {
  constexpr WaveError kCode = kWaveNotOpen;
  FaultBackend& fault = useFaults();
  program.settings.clockMultiplier = 0;
  startSonar(app);
  tick(2);
  ASSERT_EQ(scan().scanColumn, 3u);
  const uint32_t peak = scan().peakAmplitude;
  const uint32_t offset = scan().scanOffsets.forScan(3);
  const std::vector<int32_t> envelope(program.settings.correlationBuffer.begin(),
                                      program.settings.correlationBuffer.begin() + kEnvelopeBins);
  const int repaints = shell.repaints;

  fault.failCall(GetParam(), fault.callCount(GetParam()) + 1, kCode);
  tick(5);
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(scan().scanColumn, 3u);
  EXPECT_EQ(scan().latestScan, 3u);
  EXPECT_EQ(scan().peakAmplitude, peak);
  EXPECT_EQ(scan().scanOffsets.forScan(3), offset);
  EXPECT_EQ(scan().scanOffsets.forScan(4), 0u);
  EXPECT_TRUE(
      std::equal(envelope.begin(), envelope.end(), program.settings.correlationBuffer.begin()));
  EXPECT_EQ(shell.repaints, repaints);
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].caption, "WaveOut Error");
  EXPECT_EQ(shell.messages[0].text, program.backend->errorText(kCode));
  EXPECT_EQ(shell.messages[0].owner, MessageOwner::kNoOwner);

  startSonar(app);
  tick(1);
  EXPECT_EQ(scan().scanColumn, 4u);
  EXPECT_EQ(scan().scanState, kRunning);
  EXPECT_EQ(shell.messages.size(), 1u);
}

// The warm-up ends in an unprepare; the ping is the only one that plays.
INSTANTIATE_TEST_SUITE_P(Steps, FailedPingTest,
                         ::testing::Values(BackendCall::kUnprepare, BackendCall::kWritePlayback),
                         [](const ::testing::TestParamInfo<BackendCall>& p) {
                           return p.param == BackendCall::kUnprepare ? "warmUp" : "ping";
                         });

TEST_F(ScanCycleTest, ManualStepReportsEachFailureAndGoesOn) {
  FaultBackend& fault = useFaults();
  neverHoldBack();
  fault.failCall(BackendCall::kUnprepare, fault.callCount(BackendCall::kUnprepare) + 1,
                 hostWaveError(7));
  fault.failCall(BackendCall::kWritePlayback, fault.callCount(BackendCall::kWritePlayback) + 1,
                 hostWaveError(8));
  singleChirpStep(app);
  EXPECT_EQ(shell.captions(), (std::vector<std::string>{"Warm up micr. Error!", "WaveOut Error!"}));
  EXPECT_EQ(scan().scanColumn, 2u);
}

TEST_F(ScanCycleTest, StylusMoveIsKeptForTheRepaint) {
  stylusMoved(app, 40, 250);
  EXPECT_EQ(scan().stylusPosition.x, 40);
  EXPECT_EQ(scan().stylusPosition.y, 250);
  EXPECT_EQ(shell.repaints, 1);
}

TEST_F(ScanCycleTest, EventsArrivingDuringAWaitingStepAreDropped) {
  program.settings.clockMultiplier = 0;
  startSonar(app);
  const uint32_t column = scan().scanColumn;
  int injected = 0;
  shell.onProgress = [&] {
    ++injected;
    timerTick(app);
    keyPressed(app, VirtualKey::kEnter);
    EXPECT_TRUE(dispatchCommand(app, CommandId::kStopSonar));
  };
  ASSERT_TRUE(dispatchCommand(
      app, CommandId::kCheckRecording));  // the recording check waits between its steps
  EXPECT_GT(injected, 0);
  EXPECT_EQ(scan().scanColumn, column);
  EXPECT_EQ(scan().scanState, kRunning);
  EXPECT_FALSE(app.busy);
  tick(1);
  EXPECT_EQ(scan().scanColumn, column + 1);
}

}  // namespace

namespace {

// The default simulated room has reflectors at 0.80 m and 1.90 m: a timed ping and a manual step
// both leave them in the Ruler's report, and a ping in an empty room clears them again.
// The Ruler shows the echoes of the latest few pings combined: the room's echoes after one ping,
// and none once as many pings as it combines have been taken in a room without them.
TEST_F(ScanCycleTest, RulerShowsTheEchoesOfTheLatestPings) {
  const auto rulerText = [&] {
    shell.messages.clear();
    dispatchCommand(app, CommandId::kRuler);
    return shell.messages.empty() ? std::string() : shell.messages.back().text;
  };
  const std::string expected =
      "Obstruction #1 0.80[m]\r\nObstruction #2 1.90[m]\r\nObstruction #3 0.00[m]\r\n";

  program.settings.clockMultiplier = 0;
  startSonar(app);
  tick(1);
  EXPECT_EQ(rulerText().substr(0, expected.size()), expected);

  pauseSonar(app);
  program.obstructionList = {};
  neverHoldBack();
  keyPressed(app, VirtualKey::kEnter);
  EXPECT_EQ(rulerText().substr(0, expected.size()), expected);

  SimRoom empty = defaultSimRoom();
  empty.echoes.clear();
  closePair(*program.backend, program.pair);
  program.backend = makeRoom(empty);
  ASSERT_EQ(openPairForPlan(program.settings, program.pair, *program.backend), kWaveOk);
  for (uint32_t ping = 0; ping < kLatestAveragedPings; ++ping) keyPressed(app, VirtualKey::kEnter);
  EXPECT_EQ(rulerText().substr(0, 24), "Obstruction #1 0.00[m]\r\n");
}

// At 22050 samples per second the default 8 to 12 kHz chirp folds back into another sweep: a
// laptop at a desk cannot tell its walls from what the fold makes of the direct sound, so the
// Ruler shows no distance at all rather than invented ones.
TEST_F(ScanCycleTest, AFoldedChirpLeavesTheRulerEmpty) {
  closePair(*program.backend, program.pair);
  SimRoom desk = defaultSimRoom();
  ASSERT_EQ(parseSimRoom("preset=desk", desk), "");
  program.backend = makeRoom(desk);
  WaveFormat& format = program.settings.waveFormat;
  format.samplesPerSec = 22050;
  format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
  ASSERT_TRUE(planBuffers(program.settings));
  ASSERT_EQ(openPairForPlan(program.settings, program.pair, *program.backend), kWaveOk);
  program.settings.clockMultiplier = 0;
  startSonar(app);
  tick(2 * kLatestAveragedPings);
  EXPECT_EQ(program.obstructionList, (std::array<double, kMaxEchoes>{}));
  shell.messages.clear();
  dispatchCommand(app, CommandId::kRuler);
  ASSERT_FALSE(shell.messages.empty());
  EXPECT_EQ(shell.messages.back().text.substr(0, 24), "Obstruction #1 0.00[m]\r\n");
}

}  // namespace

namespace {

class TickLimitTest : public AppTest {};

// The count stops at the multiplier, so the largest one cannot wrap it into a ping that never
// ran; the command line lets the waiting ticks pass at once.
TEST_F(TickLimitTest, TheLargestMultiplierNeitherWrapsNorSpins) {
  program.settings.clockMultiplier = UINT32_MAX;
  startSonar(app);
  ASSERT_EQ(scan().scanState, kRunning);
  const uint32_t column = scan().scanColumn;
  scan().tickCount = UINT32_MAX - 2;
  EXPECT_EQ(timerTick(app), TickOutcome::kNoPing);
  EXPECT_EQ(timerTick(app), TickOutcome::kNoPing);
  EXPECT_EQ(scan().tickCount, UINT32_MAX);
  EXPECT_EQ(scan().scanColumn, column);
  EXPECT_EQ(timerTick(app), TickOutcome::kPinged);  // tick 2^32: the interval is over
  EXPECT_EQ(scan().tickCount, 0u);
  EXPECT_EQ(scan().scanColumn, column + 1);

  skipIdleTicks(app);
  EXPECT_EQ(timerTick(app), TickOutcome::kPinged);
  EXPECT_EQ(scan().scanColumn, column + 2);
}

TEST_F(TickLimitTest, AnIntervalIsStillMultiplierPlusOneTicks) {
  program.settings.clockMultiplier = 3;
  startSonar(app);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(timerTick(app), TickOutcome::kNoPing);
  EXPECT_EQ(timerTick(app), TickOutcome::kPinged);
  pauseSonar(app);
  skipIdleTicks(app);  // nothing to skip while paused
  EXPECT_EQ(scan().tickCount, 0u);
}

}  // namespace

namespace {

// One sweep per file and table: a Start that begins a sweep from its first column (after a
// complete sweep, a Stop, or the last manual column) settles the unsaved sweep first, as Open
// does, and leaves nothing of it in the history or the distances.
class NewSweepTest : public AppTest {
 protected:
  // A finished sweep with one measured column (200) that has not been saved.
  void finishedUnsavedSweep() {
    scan().scanState = kComplete;
    scan().scanColumn = kLastTimedColumn;
    program.history.at(200, 10) = 4321;
    program.measured[200] = ColumnMeasurement{true, 600, {0.8}};
    program.sweepUnsaved = true;
  }
};

TEST_F(NewSweepTest, CancelKeepsTheFinishedSweep) {
  finishedUnsavedSweep();
  shell.saveChoice = SaveChoice::kCancel;
  dispatchCommand(app, CommandId::kStartSonar);
  EXPECT_EQ(shell.saveQuestions, 1);
  EXPECT_EQ(scan().scanState, kComplete);
  EXPECT_EQ(program.history.at(200, 10), 4321);
  EXPECT_TRUE(program.measured[200].stored);
  EXPECT_TRUE(program.sweepUnsaved);
}

TEST_F(NewSweepTest, DiscardStartsFromAnEmptyHistory) {
  finishedUnsavedSweep();
  const std::vector<int32_t> header(program.history.values.begin(),
                                    program.history.values.begin() + kHistoryRows);
  shell.saveChoice = SaveChoice::kDiscard;
  dispatchCommand(app, CommandId::kStartSonar);
  EXPECT_EQ(shell.saveQuestions, 1);
  EXPECT_EQ(scan().scanState, kRunning);
  EXPECT_EQ(scan().scanColumn, 0u);
  EXPECT_EQ(program.history.at(200, 10), 0) << "a column of the earlier sweep";
  EXPECT_FALSE(program.measured[200].stored) << "a distance of the earlier sweep";
  EXPECT_TRUE(std::equal(header.begin(), header.end(), program.history.values.begin()));
  // Fourteen pings later the history holds those fourteen columns and nothing else.
  tick(14 * static_cast<int>(program.settings.clockMultiplier + 1));
  EXPECT_EQ(scan().scanColumn, 14u);
  for (uint32_t c = 15; c < kHistoryColumns; ++c) {
    ASSERT_FALSE(program.measured[c].stored) << c;
    for (uint32_t r = 0; r < kHistoryRows; ++r) ASSERT_EQ(program.history.at(c, r), 0) << c;
  }
}

TEST_F(NewSweepTest, StartAfterStopAlsoBeginsANewSweepButAPausedRunGoesOn) {
  finishedUnsavedSweep();
  scan().scanState = kIdle;
  scan().scanColumn = 120;  // paused mid-sweep: Start goes on, nothing to ask
  dispatchCommand(app, CommandId::kStartSonar);
  EXPECT_EQ(shell.saveQuestions, 0);
  EXPECT_EQ(program.history.at(200, 10), 4321);

  dispatchCommand(app, CommandId::kStopSonar);
  dispatchCommand(app, CommandId::kStartSonar);
  EXPECT_EQ(shell.saveQuestions, 1);
  EXPECT_EQ(program.history.at(200, 10), 0);
}

TEST_F(NewSweepTest, TheManualStepAfterACompleteSweepIsANewSweepToo) {
  finishedUnsavedSweep();
  shell.saveChoice = SaveChoice::kCancel;
  keyPressed(app, VirtualKey::kEnter);
  EXPECT_EQ(shell.saveQuestions, 1);
  EXPECT_EQ(scan().scanColumn, kLastTimedColumn) << "Cancel: no step";
  shell.saveChoice = SaveChoice::kDiscard;
  keyPressed(app, VirtualKey::kEnter);
  EXPECT_EQ(program.history.at(200, 10), 0);
  EXPECT_EQ(scan().latestScan, 1u);
}

// Clear screen throws the sweep away: it asks as Exit and Open do, and Cancel keeps everything.
TEST_F(NewSweepTest, ClearScreenAsksFirst) {
  finishedUnsavedSweep();
  scan().scanState = kRunning;
  shell.saveChoice = SaveChoice::kCancel;
  dispatchCommand(app, CommandId::kClearScreen);
  EXPECT_EQ(shell.saveQuestions, 1);
  EXPECT_EQ(program.history.at(200, 10), 4321);
  EXPECT_EQ(scan().scanState, kRunning) << "Cancel leaves the run as it was";

  shell.saveChoice = SaveChoice::kDiscard;
  dispatchCommand(app, CommandId::kClearScreen);
  EXPECT_EQ(shell.saveQuestions, 2);
  EXPECT_EQ(program.history.at(200, 10), 0);
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_FALSE(program.sweepUnsaved);
  // Nothing is left to lose: Exit asks nothing now.
  dispatchCommand(app, CommandId::kExit);
  EXPECT_EQ(shell.saveQuestions, 2);
}

}  // namespace
