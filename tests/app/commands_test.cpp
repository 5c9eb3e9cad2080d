#include <algorithm>
#include <utility>

#include "app/commands.h"
#include "app/scan_cycle.h"
#include "display/reports.h"
#include "tests/app/app_fixture.h"

namespace {

using CommandTest = AppTest;

bool historyIsZero(const ScanHistory& h) {
  return std::all_of(h.values.begin(), h.values.end(), [](int32_t v) { return v == 0; });
}

// The numbers are part of the window's interface: its actions carry them as data and in their
// object names ("cmd201").
TEST(CommandIdentifiers, KeepTheirNumbers) {
  const std::pair<CommandId, int> expected[] = {{CommandId::kOpen, 199},
                                                {CommandId::kStartSonar, 201},
                                                {CommandId::kSave, 202},
                                                {CommandId::kPlayRecordBuffer, 204},
                                                {CommandId::kSingleChirp, 207},
                                                {CommandId::kAbout, 212},
                                                {CommandId::kAnalyzeAndRepaint, 213},
                                                {CommandId::kAutoCorrelate, 214},
                                                {CommandId::kSetOutSignal, 220},
                                                {CommandId::kAnalyzeWindow, 221},
                                                {CommandId::kPostProcessing, 225},
                                                {CommandId::kStopSonar, 226},
                                                {CommandId::kCheckAudioSystem, 227},
                                                {CommandId::kUnlabelled, 228},
                                                {CommandId::kSetWaveFormat, 229},
                                                {CommandId::kCheckRecording, 233},
                                                {CommandId::kHelp, 234},
                                                {CommandId::kPauseSonar, 235},
                                                {CommandId::kAnalyzeWindowTool, 236},
                                                {CommandId::kEmptyTool, 237},
                                                {CommandId::kClearScreen, 238},
                                                {CommandId::kLinearMode, 239},
                                                {CommandId::kAngularMode, 240},
                                                {CommandId::kSearchOffset, 241},
                                                {CommandId::kInfo, 242},
                                                {CommandId::kUseRecordedChirp, 243},
                                                {CommandId::kSetOffset, 244},
                                                {CommandId::kSetScale, 245},
                                                {CommandId::kRuler, 246},
                                                {CommandId::kReplot, 247},
                                                {CommandId::kCheckPlay, 248},
                                                {CommandId::kExit, 300}};
  for (const auto& [id, number] : expected) EXPECT_EQ(commandNumber(id), number);
}

TEST_F(CommandTest, IdentifiersWithoutAHandlerFallThrough) {
  for (const int id : {0, 198, 200, 203, 205, 243, 249, 299, 301, 401, 1500}) {
    EXPECT_FALSE(dispatchCommand(app, static_cast<CommandId>(id))) << id;
  }
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_EQ(shell.repaints, 0);
}

struct DialogCase {
  const char* name;
  CommandId id;
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
    ::testing::Values(
        DialogCase{"about", CommandId::kAbout, DialogId::kAbout, 0},
        DialogCase{"analyzeWithoutMenuEntry", CommandId::kAnalyzeAndRepaint, DialogId::kAnalyze, 1},
        DialogCase{"analyzeFromMenu", CommandId::kAnalyzeWindow, DialogId::kAnalyze, 0},
        DialogCase{"analyzeFromToolbar", CommandId::kAnalyzeWindowTool, DialogId::kAnalyze, 0},
        DialogCase{"outSignal", CommandId::kSetOutSignal, DialogId::kOutSignal, 0},
        DialogCase{"waveFormat", CommandId::kSetWaveFormat, DialogId::kWaveFormat, 0},
        DialogCase{"offset", CommandId::kSetOffset, DialogId::kOffset, 0},
        DialogCase{"scale", CommandId::kSetScale, DialogId::kScale, 0}),
    CaseName());

struct QuietCase {
  const char* name;
  CommandId id;
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
                         ::testing::Values(QuietCase{"autoCorrelate", CommandId::kAutoCorrelate, 1},
                                           QuietCase{"postProcessing", CommandId::kPostProcessing,
                                                     1},
                                           QuietCase{"unlabelled", CommandId::kUnlabelled, 0},
                                           QuietCase{"emptyButton", CommandId::kEmptyTool, 0}),
                         CaseName());

TEST_F(CommandTest, ClearScreenKeepsTheColumnAndBlanksAtOnce) {
  startSonar(app);
  scan().scanColumn = 40;
  program.history.at(5, 5) = 3;
  surface.setPixel(100, 100, Rgb{9, 9, 9});
  shell.repaints = 0;
  EXPECT_TRUE(dispatchCommand(app, CommandId::kClearScreen));
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
  EXPECT_TRUE(dispatchCommand(app, CommandId::kLinearMode));
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
  EXPECT_TRUE(dispatchCommand(app, CommandId::kAngularMode));
  EXPECT_EQ(program.settings.displayMode, 1);
  EXPECT_EQ(program.history.at(5, 5), 3);
  EXPECT_EQ(scan().scanColumn, 40u);
  EXPECT_EQ(shell.repaints, 0);
  EXPECT_EQ(shell.surfaceShows, 0);
}

TEST_F(CommandTest, InfoAndRulerShowTheirReportsOwnedByTheMainWindow) {
  program.obstructionList[0] = 0.8;
  EXPECT_TRUE(dispatchCommand(app, CommandId::kInfo));
  EXPECT_EQ(shell.repaints, 0);
  EXPECT_TRUE(dispatchCommand(app, CommandId::kRuler));
  EXPECT_EQ(shell.repaints, 1);
  ASSERT_EQ(shell.messages.size(), 2u);
  // The report, then the scale distances are read at.
  EXPECT_EQ(shell.messages[0].text, infoReportText(program.settings, program.scan) +
                                        "\r\nSpeed of sound 337.6 m/s\r\nOffset 0.000 m (not "
                                        "calibrated)");
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
  EXPECT_TRUE(dispatchCommand(app, CommandId::kReplot));
  PlotSurface expected(kPlotClientWidth, kPlotClientHeight);
  drawEchogramFrame(expected, program.settings);
  replotHistory(expected, program.settings, program.history);
  EXPECT_EQ(surface.image(), expected.image());
  EXPECT_NE(surface.pixel(3 + kPlotLeft, 10 + kPlotTop), Rgb{});
  EXPECT_EQ(shell.surfaceShows, 1);
  EXPECT_EQ(shell.repaints, 1);

  // Column 1: the replot stays until the scan cycle draws again, under a fresh status strip.
  paintPlot(app);
  drawStatusStrip(expected, program.settings, program.scan, program.scan.stylusPosition);
  EXPECT_EQ(surface.image(), expected.image());
  neverHoldBack();
  keyPressed(app, VirtualKey::kEnter);
  paintPlot(app);
  EXPECT_NE(surface.image(), expected.image());
}

TEST_F(CommandTest, ExitAndHelpGoToTheShell) {
  EXPECT_TRUE(dispatchCommand(app, CommandId::kExit));
  EXPECT_TRUE(dispatchCommand(app, CommandId::kHelp));
  EXPECT_EQ(shell.closes, 1);
  EXPECT_EQ(shell.helps, 1);
}

TEST_F(CommandTest, ToolbarRunCommandsGoThroughTheTable) {
  program.settings.clockMultiplier = 0;
  EXPECT_TRUE(dispatchCommand(app, CommandId::kStartSonar));
  EXPECT_EQ(scan().scanState, kRunning);
  tick(1);
  EXPECT_TRUE(dispatchCommand(app, CommandId::kPauseSonar));
  EXPECT_EQ(scan().scanState, kIdle);
  EXPECT_EQ(scan().scanColumn, 2u);
  EXPECT_TRUE(dispatchCommand(app, CommandId::kStopSonar));
  EXPECT_EQ(scan().scanColumn, 0u);
}

TEST_F(CommandTest, PlayingTheRecordBufferReportsOnlyFailures) {
  EXPECT_TRUE(dispatchCommand(app, CommandId::kPlayRecordBuffer));
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_TRUE(dispatchCommand(app, CommandId::kCheckPlay));
  EXPECT_TRUE(shell.messages.empty());

  FaultBackend& fault = useFaults();
  fault.failCall(BackendCall::kOpen, fault.callCount(BackendCall::kOpen) + 1, hostWaveError(5));
  fault.failCall(BackendCall::kWritePlayback, fault.callCount(BackendCall::kWritePlayback) + 1,
                 hostWaveError(6));
  EXPECT_TRUE(
      dispatchCommand(app, CommandId::kPlayRecordBuffer));  // a device of its own: the open fails
  EXPECT_TRUE(
      dispatchCommand(app, CommandId::kCheckPlay));  // the prepared pair: the playback fails
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(shell.messages[0].text, program.backend->errorText(hostWaveError(5)));
  EXPECT_EQ(shell.messages[1].text, program.backend->errorText(hostWaveError(6)));
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
  EXPECT_TRUE(dispatchCommand(app, CommandId::kCheckAudioSystem));
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
  EXPECT_TRUE(dispatchCommand(app, CommandId::kCheckRecording));
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
  fault.failCall(BackendCall::kOpen, fault.callCount(BackendCall::kOpen) + 1, hostWaveError(5));
  EXPECT_TRUE(dispatchCommand(app, CommandId::kCheckRecording));
  ASSERT_EQ(shell.messages.size(), 1u);  // the record step failed; playing worked
  EXPECT_EQ(shell.messages[0].caption, "WaveOut Error");
  EXPECT_EQ(shell.messages[0].text, program.backend->errorText(hostWaveError(5)));
  EXPECT_EQ(shell.repaints, 1);
}

}  // namespace
