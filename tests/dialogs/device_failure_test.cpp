#include <gtest/gtest.h>

#include "dialogs/audio_check_logic.h"
#include "dialogs/offset_logic.h"
#include "dialogs/out_signal_logic.h"
#include "dialogs/wave_format_logic.h"
#include "test_program.h"

namespace {

constexpr WaveError kPrepareFault = hostWaveError(11);
constexpr WaveError kPlayFault = hostWaveError(12);
constexpr WaveError kOpenFault = hostWaveError(13);

using Captions = std::vector<std::string>;

TEST_F(FaultProgramTest, FailedPrepareIsReportedAndThePingStillRuns) {
  failNext(BackendCall::kPrepare, kPrepareFault);
  const uint32_t queued = faults().callCount(BackendCall::kAddCaptureBuffer);
  commitOutSignal(program, shell, outSignalControlsFor(settings()));
  // The ping is tried on the half-prepared pair and reports its own failure.
  EXPECT_EQ(shell.captions(), (Captions{"WaveOut Error", "WaveOut Error"}));
  ASSERT_FALSE(shell.messages.empty());
  EXPECT_EQ(shell.messages[0].caption, "WaveOut Error");
  EXPECT_EQ(shell.messages[0].text, program.backend->errorText(kPrepareFault));
  EXPECT_EQ(shell.messages[0].owner, MessageOwner::kNoOwner);
  EXPECT_GT(faults().callCount(BackendCall::kAddCaptureBuffer), queued);
}

TEST_F(FaultProgramTest, PingFailureCaptionNamesTheDialog) {
  failNext(BackendCall::kWritePlayback, kPlayFault);
  commitOutSignal(program, shell, outSignalControlsFor(settings()));
  EXPECT_EQ(shell.captions(), Captions{"WaveOut Error"});

  shell.messages.clear();
  failNext(BackendCall::kWritePlayback, kPlayFault);
  playOutSignal(program, shell, outSignalControlsFor(settings()), nullptr);
  EXPECT_EQ(shell.captions(), Captions{"WaveOut Error"});

  shell.messages.clear();
  failNext(BackendCall::kWritePlayback, kPlayFault);
  commitWaveFormat(program, shell, waveFormatControlsFor(settings().waveFormat));
  EXPECT_EQ(shell.captions(), Captions{"WaveOut Error1"});
  EXPECT_EQ(shell.messages[0].text, program.backend->errorText(kPlayFault));
}

TEST_F(FaultProgramTest, ResetAfterAFailedPlanReportsItsOpenFailure) {
  OutSignalControls c = outSignalControlsFor(settings());
  c.recordTime = 3700;
  failNext(BackendCall::kOpen, kOpenFault);
  commitOutSignal(program, shell, c);
  ASSERT_FALSE(shell.messages.empty());
  EXPECT_EQ(shell.messages[0].caption, "WaveOut 1 Error init");
  EXPECT_EQ(shell.messages[0].text, program.backend->errorText(kOpenFault));
  EXPECT_EQ(settings().recordTime, 48u);
}

TEST_F(FaultProgramTest, OffsetOkReportsAFailedPrepareAndNeverPings) {
  const uint32_t writes = faults().callCount(BackendCall::kWritePlayback);
  failNext(BackendCall::kPrepare, kPrepareFault);
  commitOffset(program, shell, offsetControlsFor(settings()));
  EXPECT_EQ(shell.captions(), Captions{"WaveOut Error"});
  EXPECT_EQ(faults().callCount(BackendCall::kWritePlayback), writes);
}

TEST_F(FaultProgramTest, AudioCheckPingFailureShowsNoInfo) {
  failNext(BackendCall::kWritePlayback, kPlayFault);
  runAudioCheck(program, shell);
  EXPECT_EQ(shell.captions(), Captions{"WaveOut Error"});
  EXPECT_EQ(shell.messages[0].text, program.backend->errorText(kPlayFault));
}

TEST_F(FaultProgramTest, AudioCheckOnADeviceThatNeverFinishes) {
  faults().setCompletion(FaultCompletion::kNever);
  runAudioCheck(program, shell);  // must end, with the time-out reported
  ASSERT_FALSE(shell.messages.empty());
  EXPECT_EQ(shell.messages.back().caption, "WaveOut Error");
  EXPECT_EQ(shell.messages.back().text, program.backend->errorText(kWaveTimedOut));
}

}  // namespace
