#include <algorithm>

#include "app/commands.h"
#include "app/scan_cycle.h"
#include "display/reports.h"
#include "tests/app/app_fixture.h"

namespace {

using CommandTest = AppTest;

bool historyIsZero(const ScanHistory& h) {
  return std::all_of(h.values.begin(), h.values.end(), [](int32_t v) { return v == 0; });
}

TEST_F(CommandTest, IdentifiersWithoutAHandlerFallThrough) {
  for (const int id : {0, 198, 200, 203, 205, 243, 249, 299, 301, 401, 1500}) {
    EXPECT_FALSE(dispatchCommand(app, id)) << id;
  }
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(shell.repaints, 0);
}

struct DialogCase {
  const char* name;
  int id;
  DialogId dialog;
  int repaints;
};

class DialogCommandTest : public AppTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(DialogCommandTest, RunsItsDialog) {
  EXPECT_TRUE(dispatchCommand(app, GetParam().id));
  EXPECT_EQ(shell.dialogs, std::vector<DialogId>{GetParam().dialog});
  EXPECT_EQ(shell.repaints, GetParam().repaints);
  EXPECT_TRUE(shell.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, DialogCommandTest,
    ::testing::Values(DialogCase{"about", 212, DialogId::kAbout, 0},
                      DialogCase{"analyzeWithoutMenuEntry", 213, DialogId::kAnalyze, 1},
                      DialogCase{"analyzeFromMenu", 221, DialogId::kAnalyze, 0},
                      DialogCase{"analyzeFromToolbar", 236, DialogId::kAnalyze, 0},
                      DialogCase{"outSignal", 220, DialogId::kOutSignal, 0},
                      DialogCase{"waveFormat", 229, DialogId::kWaveFormat, 0},
                      DialogCase{"offset", 244, DialogId::kOffset, 0},
                      DialogCase{"scale", 245, DialogId::kScale, 0}),
    CaseName());

struct QuietCase {
  const char* name;
  int id;
  int repaints;
};

class QuietCommandTest : public AppTest, public ::testing::WithParamInterface<QuietCase> {};

TEST_P(QuietCommandTest, ChangesNothingButTheRepaint) {
  program.history.at(3, 3) = 9;
  EXPECT_TRUE(dispatchCommand(app, GetParam().id));
  EXPECT_EQ(shell.repaints, GetParam().repaints);
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_TRUE(shell.dialogs.empty());
  EXPECT_EQ(program.history.at(3, 3), 9);
  EXPECT_EQ(scan().scanColumn, 1u);
}

INSTANTIATE_TEST_SUITE_P(Quiet, QuietCommandTest,
                         ::testing::Values(QuietCase{"autoCorrelate", 214, 1},
                                           QuietCase{"postProcessing", 225, 1},
                                           QuietCase{"unnamed228", 228, 0},
                                           QuietCase{"emptyButton", 237, 0}),
                         CaseName());

TEST_F(CommandTest, ClearScreenKeepsTheColumnAndBlanksAtOnce) {
  startSonar(app);
  scan().scanColumn = 40;
  program.history.at(5, 5) = 3;
  surface.setPixel(100, 100, Rgb{9, 9, 9});
  shell.repaints = 0;
  EXPECT_TRUE(dispatchCommand(app, 238));
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(scan().scanColumn, 40u);
  EXPECT_TRUE(historyIsZero(program.history));
  EXPECT_EQ(surface.pixel(100, 100), Rgb{});
  EXPECT_EQ(surface.pixel(kPlotClientWidth - 1, kPlotClientHeight - 1), Rgb{});
  EXPECT_EQ(shell.surfaceShows, 1);
  EXPECT_EQ(shell.repaints, 0);
}

TEST_F(CommandTest, LinearModeStartsAFreshEchogram) {
  program.settings.displayMode = 1;
  startSonar(app);
  scan().scanColumn = 40;
  program.history.at(5, 5) = 3;
  shell.repaints = 0;
  EXPECT_TRUE(dispatchCommand(app, 239));
  EXPECT_EQ(program.settings.displayMode, 0);
  EXPECT_EQ(scan().scanColumn, 0u);
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_TRUE(historyIsZero(program.history));
  EXPECT_EQ(shell.surfaceShows, 1);
  EXPECT_EQ(shell.repaints, 1);
}

TEST_F(CommandTest, AngularModeKeepsTheEchogram) {
  program.history.at(5, 5) = 3;
  scan().scanColumn = 40;
  EXPECT_TRUE(dispatchCommand(app, 240));
  EXPECT_EQ(program.settings.displayMode, 1);
  EXPECT_EQ(program.history.at(5, 5), 3);
  EXPECT_EQ(scan().scanColumn, 40u);
  EXPECT_EQ(shell.repaints, 0);
  EXPECT_EQ(shell.surfaceShows, 0);
}

TEST_F(CommandTest, InfoAndRulerShowTheirReportsOwnedByTheMainWindow) {
  program.obstructionList[0] = 0.8;
  EXPECT_TRUE(dispatchCommand(app, 242));
  EXPECT_EQ(shell.repaints, 0);
  EXPECT_TRUE(dispatchCommand(app, 246));
  EXPECT_EQ(shell.repaints, 1);
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(shell.messages[0].text, infoReportText(program.settings, program.scan));
  EXPECT_EQ(shell.messages[0].caption, "Info");
  EXPECT_EQ(shell.messages[1].text, obstructionReportText(program.obstructionList));
  EXPECT_EQ(shell.messages[1].caption, "Ruler");
  for (const FakeShell::Message& m : shell.messages) {
    EXPECT_EQ(m.owner, MessageOwner::kMainWindow);
    EXPECT_EQ(m.icon, MessageIcon::kNone);
  }
}

TEST_F(CommandTest, ReplotDrawsTheHistoryAndKeepsItOverTheRepaint) {
  program.history.at(3, 10) = 300;
  EXPECT_TRUE(dispatchCommand(app, 247));
  PlotSurface expected(kPlotClientWidth, kPlotClientHeight);
  drawEchogramFrame(expected, program.settings);
  replotHistory(expected, program.settings, program.history);
  EXPECT_EQ(surface.image(), expected.image());
  EXPECT_NE(surface.pixel(3 + kPlotLeft, 10 + kPlotTop), Rgb{});
  EXPECT_EQ(shell.surfaceShows, 1);
  EXPECT_EQ(shell.repaints, 1);

  paintPlot(app);  // column 1: the replot stays until the scan cycle draws again
  EXPECT_EQ(surface.image(), expected.image());
  neverHoldBack();
  keyPressed(app, kKeyEnter);
  paintPlot(app);
  EXPECT_NE(surface.image(), expected.image());
}

TEST_F(CommandTest, ExitAndHelpGoToTheShell) {
  EXPECT_TRUE(dispatchCommand(app, 300));
  EXPECT_TRUE(dispatchCommand(app, 234));
  EXPECT_EQ(shell.closes, 1);
  EXPECT_EQ(shell.helps, 1);
}

TEST_F(CommandTest, ToolbarRunCommandsGoThroughTheTable) {
  program.settings.clockMultiplier = 0;
  EXPECT_TRUE(dispatchCommand(app, 201));
  EXPECT_EQ(scan().scanState, kRunning);
  tick(1);
  EXPECT_TRUE(dispatchCommand(app, 235));
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(scan().scanColumn, 2u);
  EXPECT_TRUE(dispatchCommand(app, 226));
  EXPECT_EQ(scan().scanColumn, 0u);
}

TEST_F(CommandTest, PlayingTheRecordBufferReportsOnlyFailures) {
  EXPECT_TRUE(dispatchCommand(app, 204));
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_TRUE(dispatchCommand(app, 248));
  EXPECT_TRUE(shell.messages.empty());

  FaultBackend& fault = useFaults();
  fault.failCall(BackendCall::kOpen, fault.callCount(BackendCall::kOpen) + 1, 5);
  fault.failCall(BackendCall::kWritePlayback, fault.callCount(BackendCall::kWritePlayback) + 1, 6);
  EXPECT_TRUE(dispatchCommand(app, 204));  // a device of its own: the open fails
  EXPECT_TRUE(dispatchCommand(app, 248));  // the prepared pair: the playback fails
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(shell.messages[0].text, program.backend->errorText(5));
  EXPECT_EQ(shell.messages[1].text, program.backend->errorText(6));
  for (const FakeShell::Message& m : shell.messages) {
    EXPECT_EQ(m.caption, "WaveOut Error");
    EXPECT_EQ(m.owner, MessageOwner::kNoOwner);
  }
  EXPECT_EQ(shell.repaints, 2);
}

// The audio-system check's dialog changes the four settings for its own measurements.
void changeCheckedSettings(SonarSettings& s) {
  s.recordTime = 900;
  s.chirpTime = 900000;
  s.startFrequency = 100;
  s.endFrequency = 20000;
  s.amplification = 55;
}

TEST_F(CommandTest, AudioSystemCheckPutsTheFourSettingsBack) {
  program.settings.recordTime = 60;
  shell.onDialog = [&](DialogId) { changeCheckedSettings(program.settings); };
  EXPECT_TRUE(dispatchCommand(app, 227));
  EXPECT_EQ(shell.dialogs, std::vector<DialogId>{DialogId::kAudioCheck});
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].text,
            "This will take around 1 min. Set speaker close to the microphone.");
  EXPECT_EQ(shell.messages[0].caption, "Info.");
  EXPECT_EQ(shell.messages[0].owner, MessageOwner::kNoOwner);
  const SonarSettings& s = program.settings;
  EXPECT_EQ(s.recordTime, 60u);
  EXPECT_EQ(s.chirpTime, 2000u);
  EXPECT_EQ(s.startFrequency, 8000u);
  EXPECT_EQ(s.endFrequency, 12000u);
  EXPECT_EQ(s.amplification, 55);      // not one of the four
  EXPECT_EQ(s.inBufferBytes, 11788u);  // planned again for the restored times
  EXPECT_EQ(s.outBufferBytes, 352u);
  neverHoldBack();
  singleChirpStep(app);  // the pair was prepared for the new buffers
  EXPECT_EQ(shell.messages.size(), 1u);
}

TEST_F(CommandTest, RecordingCheckRecordsPlaysAndRestores) {
  program.settings.chirpTime = 3000;
  EXPECT_TRUE(dispatchCommand(app, 233));
  ASSERT_EQ(shell.messages.size(), 1u);
  EXPECT_EQ(shell.messages[0].text,
            "The sound was successfully recorded. Pres Ok to play the sound. After that "
            "everything will be set to deafolt");
  EXPECT_EQ(shell.messages[0].caption, "Info.");
  EXPECT_EQ(program.settings.chirpTime, 3000u);
  EXPECT_EQ(program.settings.outBufferBytes, 528u);
  EXPECT_GE(shell.progress.size(), 8u);
}

TEST_F(CommandTest, RecordingCheckGoesOnAfterAFailedRecording) {
  FaultBackend& fault = useFaults();
  fault.failCall(BackendCall::kOpen, fault.callCount(BackendCall::kOpen) + 1, 5);
  EXPECT_TRUE(dispatchCommand(app, 233));
  ASSERT_EQ(shell.messages.size(), 1u);  // the record step failed; playing worked
  EXPECT_EQ(shell.messages[0].caption, "WaveOut Error");
  EXPECT_EQ(shell.messages[0].text, program.backend->errorText(5));
  EXPECT_EQ(shell.repaints, 1);
}

}  // namespace
