#include <algorithm>
#include <array>
#include <sstream>

#include "app/scan_cycle.h"
#include "audio/measurement.h"
#include "cli/cli.h"
#include "cli/cli_shell.h"
#include "cli/commands.h"
#include "engine/buffer_plan.h"
#include "engine/correlation.h"
#include "tests/app/app_fixture.h"

// A sound device that fails in the ways real ones do, driven through the program's own events:
// start-up, commands, timer ticks, keys and repaints. Whatever the device does, the program goes
// on working, says what went wrong once per failure, and measures again once the device is back.

namespace {

constexpr WaveError kGone = hostWaveError(0x7001);  // the code a vanished device answers with

class DeviceFaultTest : public ::testing::Test {
 protected:
  DeviceFaultTest() {
    auto fault = std::make_unique<FaultBackend>(makeRoom());
    faults = fault.get();
    room = static_cast<SimBackend*>(&fault->inner());
    program.backend = std::move(fault);
  }

  // Start-up with whatever faults the test has set up, the messages of a good start-up dropped.
  void start() {
    startApplication(app);
    program.settings.clockMultiplier = 0;
  }

  // Every later call of the operation fails from now on.
  void lose(BackendCall call) { faults->failCallsFrom(call, faults->callCount(call) + 1, kGone); }

  void tick(int times) {
    for (int i = 0; i < times; ++i) timerTick(app);
  }

  // The window goes on answering: commands dispatch and ask for their repaint, and the repaint
  // draws without touching the device.
  void expectWindowWorks() {
    const size_t messages = shell.messages.size();
    const int repaints = shell.repaints;
    EXPECT_TRUE(dispatchCommand(app, CommandId::kAutoCorrelate));
    EXPECT_TRUE(dispatchCommand(app, CommandId::kAngularMode));
    EXPECT_FALSE(dispatchCommand(app, CommandId::kUseRecordedChirp));
    EXPECT_EQ(shell.repaints, repaints + 1);
    paintPlot(app);
    EXPECT_EQ(shell.messages.size(), messages);
    EXPECT_FALSE(app.busy);
  }

  // Whether the column's pixels of the echogram show something.
  bool columnDrawn(uint32_t column) const {
    const int x = static_cast<int>(column) + kPlotLeft;
    for (int y = kPlotTop; y < kPlotTop + static_cast<int>(kEnvelopeBins); ++y) {
      if (surface.pixel(x, y) != Rgb{}) return true;
    }
    return false;
  }

  // With the device back, Start runs a sweep again: a few columns measured and drawn, the direct
  // sound where the room puts it, and nothing to report.
  void expectSweepRestarts() {
    const size_t messages = shell.messages.size();
    ASSERT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
    ASSERT_EQ(program.scan.scanState, kRunning);
    const uint32_t first = program.scan.scanColumn + 1;
    for (int i = 0; i < 3; ++i) {
      tick(1);
      paintPlot(app);
    }
    EXPECT_EQ(program.scan.scanState, kRunning);
    EXPECT_EQ(program.scan.scanColumn, first + 2);
    for (uint32_t c = first; c <= first + 2; ++c) {
      EXPECT_TRUE(columnDrawn(c)) << c;
      EXPECT_NEAR(program.scan.scanOffsets.forScan(c), 652.7, 10.0) << c;
    }
    EXPECT_EQ(shell.messages.size(), messages);
  }

  void expectMessages(const std::vector<std::string>& captions, WaveError code) {
    EXPECT_EQ(shell.captions(), captions);
    for (const FakeShell::Message& m : shell.messages) {
      if (m.caption == "Info.") continue;
      EXPECT_EQ(m.text, program.backend->errorText(code)) << m.caption;
      EXPECT_EQ(m.owner, MessageOwner::kNoOwner) << m.caption;
    }
  }

  Program program;
  FakeShell shell;
  PlotSurface surface{kPlotClientWidth, kPlotClientHeight};
  App app{program, shell, surface};
  FaultBackend* faults = nullptr;
  SimBackend* room = nullptr;
};

// A device missing at start-up: the program starts all the same and says so once. While the
// device stays away, each Start and each manual step says so once and measures nothing; ticks
// in between say nothing. Once it is back, Start and the manual step work without a new start.
TEST_F(DeviceFaultTest, MissingAtStartUpThenAtStartAndManualStepsThenBack) {
  lose(BackendCall::kOpen);
  start();
  expectMessages({"WaveOut 1 Error init"}, kGone);
  expectWindowWorks();

  shell.messages.clear();
  ASSERT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
  EXPECT_EQ(program.scan.scanState, kIdle);
  tick(50);
  keyPressed(app, VirtualKey::kEnter);
  ASSERT_TRUE(dispatchCommand(app, CommandId::kSingleChirp));
  expectMessages({"WaveOut Error", "WaveOut Error!", "WaveOut Error!"}, kGone);
  EXPECT_EQ(program.scan.scanColumn, 1u);
  EXPECT_EQ(program.scan.latestScan, 0u);
  expectWindowWorks();

  faults->clearFaults();
  shell.messages.clear();
  program.settings.deltaOffsetBytes = 1000000;  // every step advances
  keyPressed(app, VirtualKey::kEnter);
  EXPECT_EQ(program.scan.scanColumn, 2u);
  EXPECT_NEAR(program.scan.scanOffsets.forScan(2), 652.7, 10.0);
  EXPECT_TRUE(shell.messages.empty());
  expectSweepRestarts();
}

// Only the input device is missing: the output device that did open is used as it is.
TEST_F(DeviceFaultTest, InputMissingAtStartUpOpensOnlyTheInputLater) {
  faults->failCall(BackendCall::kOpen, 2, kGone);
  start();
  expectMessages({"WaveOut 1 Error init"}, kGone);
  EXPECT_NE(program.pair.out, 0u);
  EXPECT_EQ(program.pair.in, 0u);
  shell.messages.clear();
  expectSweepRestarts();
  EXPECT_EQ(room->openStreams(), 2u);
}

// The checks open devices of their own and take the pair up again at their end; a missing
// device is reported for each step that needed it, and the pair they leave behind works.
TEST_F(DeviceFaultTest, ChecksWithTheDeviceMissing) {
  start();
  lose(BackendCall::kOpen);
  ASSERT_TRUE(dispatchCommand(app, CommandId::kPlayRecordBuffer));
  ASSERT_TRUE(dispatchCommand(app, CommandId::kCheckRecording));
  ASSERT_TRUE(dispatchCommand(app, CommandId::kCheckAudioSystem));
  // Playing, then the recording check's record and play steps; the pair stayed open throughout.
  expectMessages({"WaveOut Error", "WaveOut Error", "WaveOut Error", "Info."}, kGone);
  expectWindowWorks();
  EXPECT_EQ(room->openStreams(), 2u);
  shell.messages.clear();
  expectSweepRestarts();
}

TEST_F(DeviceFaultTest, AChecksEndOpensAPairThatWasMissing) {
  lose(BackendCall::kOpen);
  start();
  shell.messages.clear();
  ASSERT_TRUE(dispatchCommand(app, CommandId::kCheckAudioSystem));
  expectMessages({"Info.", "WaveOut Error"}, kGone);

  faults->clearFaults();
  shell.messages.clear();
  ASSERT_TRUE(dispatchCommand(app, CommandId::kCheckAudioSystem));
  expectMessages({"Info."}, kGone);
  EXPECT_NE(program.pair.out, 0u);
  EXPECT_NE(program.pair.in, 0u);
  shell.messages.clear();
  expectSweepRestarts();
}

// The device goes away in the middle of a timed sweep, at any of its operations: the sweep
// pauses at the last good column with one message, however many ticks follow; a Start while the
// device is still gone gives one message more; once it is back the sweep goes on.
class MidSweepFaultTest : public DeviceFaultTest,
                          public ::testing::WithParamInterface<BackendCall> {};

TEST_P(MidSweepFaultTest, PausesOnceAndRestartsWhenTheDeviceIsBack) {
  start();
  ASSERT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
  tick(4);
  paintPlot(app);
  ASSERT_EQ(program.scan.scanColumn, 5u);
  ASSERT_TRUE(shell.messages.empty());

  lose(GetParam());
  tick(40);
  expectMessages({"WaveOut Error"}, kGone);
  EXPECT_EQ(program.scan.scanState, kIdle);
  EXPECT_EQ(program.scan.scanColumn, 5u);
  expectWindowWorks();
  EXPECT_TRUE(columnDrawn(5));

  ASSERT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
  tick(40);
  EXPECT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(program.scan.scanState, kIdle);
  EXPECT_EQ(program.scan.scanColumn, 5u);

  faults->clearFaults();
  shell.messages.clear();
  expectSweepRestarts();
  EXPECT_EQ(program.scan.scanColumn, 8u);
  EXPECT_EQ(room->openStreams(), 2u);
  EXPECT_EQ(room->preparedHeaders(), 2u);
}

std::string callName(const ::testing::TestParamInfo<BackendCall>& p) {
  constexpr std::array<const char*, kBackendCalls> kNames{
      "open", "close", "prepare", "unprepare", "addCaptureBuffer", "startCapture", "write"};
  return kNames[static_cast<size_t>(p.param)];
}

INSTANTIATE_TEST_SUITE_P(EachCall, MidSweepFaultTest,
                         ::testing::Values(BackendCall::kPrepare, BackendCall::kAddCaptureBuffer,
                                           BackendCall::kStartCapture, BackendCall::kWritePlayback,
                                           BackendCall::kUnprepare),
                         callName);

// A device that takes buffers and never gives them back: every wait ends with a time-out (in the
// room's own clock, which passes at once here), the sweep pauses with one message, and a Start
// while it is still stuck costs one warm-up's wait, not eight.
TEST_F(DeviceFaultTest, ADeviceThatNeverFinishesTimesOutOnce) {
  constexpr uint64_t kSecond = kSimTicksPerSecond;
  start();
  ASSERT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
  tick(2);
  faults->setCompletion(FaultCompletion::kNever);

  uint64_t before = room->nowTicks();
  tick(10);
  // One warm-up given up after its slices; no ping after it.
  EXPECT_LE(room->nowTicks() - before, 20 * kSecond);
  expectMessages({"WaveOut Error"}, kWaveTimedOut);
  EXPECT_EQ(program.scan.scanColumn, 3u);
  expectWindowWorks();

  before = room->nowTicks();
  ASSERT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
  tick(10);
  EXPECT_LE(room->nowTicks() - before, 40 * kSecond);
  EXPECT_EQ(shell.messages.size(), 2u);

  // A manual step reports its warm-up and its ping, as it always does.
  shell.messages.clear();
  keyPressed(app, VirtualKey::kEnter);
  expectMessages({"Warm up micr. Error!", "WaveOut Error!"}, kWaveTimedOut);

  faults->clearFaults();
  shell.messages.clear();
  expectSweepRestarts();
  EXPECT_EQ(room->preparedHeaders(), 2u);
}

// A manual step tells each failure before it goes on: the warm-up's before the chirp is played,
// the ping's before its recording is correlated (the correlation buffer still holds what the
// test put there when the message shows).
TEST_F(DeviceFaultTest, AManualStepReportsEachFailureBeforeTheNextStepRuns) {
  start();
  std::vector<std::pair<std::string, uint32_t>> seen;  // caption, plays asked for so far
  bool correlatedBeforeMessage = false;
  constexpr int32_t kUntouched = 0x5A5A5A5A;
  shell.onMessage = [&](const FakeShell::Message& m) {
    seen.emplace_back(m.caption, faults->callCount(BackendCall::kWritePlayback));
    correlatedBeforeMessage |= program.settings.correlationBuffer.front() != kUntouched;
  };

  faults->failCall(BackendCall::kAddCaptureBuffer,
                   faults->callCount(BackendCall::kAddCaptureBuffer) + 1, kGone);
  const uint32_t playsBefore = faults->callCount(BackendCall::kWritePlayback);
  keyPressed(app, VirtualKey::kEnter);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, "Warm up micr. Error!");
  EXPECT_EQ(seen[0].second, playsBefore) << "the chirp played before the warm-up was reported";
  EXPECT_EQ(faults->callCount(BackendCall::kWritePlayback), playsBefore + 1) << "the step goes on";

  seen.clear();
  std::fill(program.settings.correlationBuffer.begin(), program.settings.correlationBuffer.end(),
            kUntouched);
  correlatedBeforeMessage = false;
  faults->failCall(BackendCall::kWritePlayback, faults->callCount(BackendCall::kWritePlayback) + 1,
                   kGone);
  keyPressed(app, VirtualKey::kEnter);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, "WaveOut Error!");
  EXPECT_FALSE(correlatedBeforeMessage) << "the recording was analysed before the report";
  EXPECT_NE(program.settings.correlationBuffer.front(), kUntouched) << "the step goes on";
}

// A device that reports a buffer done a second time, before it has really played or captured it
// again: the program cannot tell, but it neither hangs nor reports anything, keeps sweeping, and
// measures correctly again once the device behaves.
TEST_F(DeviceFaultTest, ADeviceThatCompletesTwiceKeepsTheSweepGoing) {
  start();
  ASSERT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
  tick(2);
  faults->setCompletion(FaultCompletion::kTwice);
  for (int i = 0; i < 30; ++i) {
    tick(1);
    paintPlot(app);
  }
  EXPECT_EQ(program.scan.scanColumn, 33u);
  EXPECT_EQ(program.scan.scanState, kRunning);
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(room->preparedHeaders(), 2u);
  expectWindowWorks();

  faults->clearFaults();
  tick(2);  // a buffer still queued from the stale completions is drained first
  expectSweepRestarts();
}

// The command line on the same faulty device: a sweep or pings that meet a failing device end
// with exit code 1 and one line on stderr with the device's own text; what was measured before
// the failure is on stdout.
class CliDeviceFaultTest : public ::testing::Test {
 protected:
  CliDeviceFaultTest() {
    applyResetValues(run.program.settings, run.program.scan);
    run.planOk = planBuffers(run.program.settings);
    auto fault = std::make_unique<FaultBackend>(makeRoom());
    faults = fault.get();
    run.program.backend = std::move(fault);
    openPairForPlan(run.program.settings, run.program.pair, *run.program.backend);
  }

  int command(int (*runCommand)(CliRun&), std::vector<std::string> args) {
    request.args = std::move(args);
    return runCommand(run);
  }

  CliRequest request;
  std::ostringstream out, err;
  CliRun run{request, out, err, {}, false};
  FaultBackend* faults = nullptr;
};

TEST_F(CliDeviceFaultTest, SweepStopsAtTheFailingPing) {
  // Start's warm-ups do not play: the sixth playback is the sixth timed ping.
  faults->failCallsFrom(BackendCall::kWritePlayback, 6, kGone);
  EXPECT_EQ(command(runSweepCommand, {"--columns", "20"}), kExitFailed);
  EXPECT_NE(err.str().find("WaveOut Error: " + faults->errorText(kGone)), std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("the sweep stopped after 5 columns"), std::string::npos) << err.str();
  const std::string errors = err.str();
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  EXPECT_EQ(out.str().rfind("sweep: 5 columns", 0), 0u) << out.str();
}

TEST_F(CliDeviceFaultTest, SweepOnADeviceThatNeverFinishes) {
  faults->setCompletion(FaultCompletion::kNever);
  EXPECT_EQ(command(runSweepCommand, {}), kExitFailed);
  EXPECT_NE(err.str().find(faults->errorText(kWaveTimedOut)), std::string::npos) << err.str();
  EXPECT_TRUE(out.str().empty());
}

TEST_F(CliDeviceFaultTest, PingNamesTheStepAndThePing) {
  faults->failCall(BackendCall::kWritePlayback, 2, kGone);
  EXPECT_EQ(command(runPingCommand, {"--count", "3"}), kExitFailed);
  EXPECT_EQ(err.str(),
            "mervane-cli: play and record of ping 2 failed: " + faults->errorText(kGone) + "\n");
  const std::string printed = out.str();
  EXPECT_EQ(printed.rfind("ping 1: offset ", 0), 0u) << printed;
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;

  out.str("");
  err.str("");
  faults->setCompletion(FaultCompletion::kNever);
  EXPECT_EQ(command(runPingCommand, {}), kExitFailed);
  EXPECT_EQ(err.str(),
            "mervane-cli: the warm-up failed: " + faults->errorText(kWaveTimedOut) + "\n");
  EXPECT_TRUE(out.str().empty());
}

TEST_F(CliDeviceFaultTest, JsonPingsFailingHalfWayStillFormOneDocument) {
  request.json = true;
  faults->failCall(BackendCall::kWritePlayback, 3, kGone);
  EXPECT_EQ(command(runPingCommand, {"--count", "5"}), kExitFailed);
  const std::string text = out.str();
  EXPECT_EQ(text.rfind("{\"pings\":[\n{\"foundOffset\":", 0), 0u) << text;
  EXPECT_NE(text.find("\n,{\"foundOffset\":"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 3), "]}\n");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);  // opening, two pings, closing
}

}  // namespace
