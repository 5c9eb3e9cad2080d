#include <gtest/gtest.h>

#include "test_helpers.h"

#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <algorithm>
#include <charconv>

#include "app/scan_cycle.h"
#include "audio/recorded_session.h"
#include "gui/audio_device_dialog.h"
#include "gui/preferences.h"
#include "modal_closer.h"
#include "test_window.h"

// A session recorded in the desktop program (File > Record pings...) replays there through
// Settings > Audio device > Recorded session...: the same history and distances as the live
// run, byte for byte, and an end told as a device that ran out. The command line's
// `analyze DIR` reads each ping's distances as the live run found them.

namespace {

constexpr int kTimedPings = 6;

// Distances as the command line prints them: found ones only, nearest first, in millimetres.
std::string printed(const EchoDistances& echoes) {
  std::vector<double> found;
  for (const double d : echoes) {
    if (d > 0.0) found.push_back(d);
  }
  std::sort(found.begin(), found.end());
  std::string text;
  for (const double d : found) {
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 3).ptr;
    if (!text.empty()) text += ',';
    text.append(buf, end);
  }
  return text;
}

// The "obstructions" of each ping line of `analyze --json` (one ping object per line).
std::vector<std::string> pingObstructions(const std::string& json) {
  std::vector<std::string> pings;
  const std::string marker = "\"obstructions\":[";
  size_t lineStart = 0;
  for (size_t end = json.find('\n'); end != std::string::npos; end = json.find('\n', lineStart)) {
    const std::string line = json.substr(lineStart, end - lineStart);
    lineStart = end + 1;
    // The closing line carries the average of the run, not a ping.
    const size_t at = line.find(marker);
    if (at == std::string::npos || line.find("\"average\":") != std::string::npos) continue;
    const size_t from = at + marker.size();
    pings.push_back(line.substr(from, line.find(']', from) - from));
  }
  return pings;
}

class SessionReplay : public ::testing::Test {
 protected:
  void SetUp() override { QSettings().clear(); }
  void TearDown() override { QSettings().clear(); }

  // One timed ping of the running scan, through the ticks as the scan timer gives them.
  static void timedPingNow(MainWindow& window) {
    for (int tick = 0; tick < 100000; ++tick) {
      if (timerTick(window.app()) == TickOutcome::kPingStarted) break;
    }
    ASSERT_TRUE(settle(window));
  }

  // Settings > Audio device..., the recorded session in `folder`, OK.
  static void chooseSession(MainWindow& window, const QString& folder) {
    ModalCloser closer([&](QWidget* modal) {
      auto* dialog = qobject_cast<AudioDeviceDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      dialog->findChild<QLineEdit*>(QStringLiteral("sessionFolder"))->setText(folder);
      dialog->findChild<QRadioButton*>(QStringLiteral("recordedSession"))->click();
      dialog->accept();
    });
    window.runCommand(CommandId::kAudioDevice);
    ASSERT_TRUE(closer.sawModal());
    ASSERT_TRUE(settle(window));
  }
};

TEST_F(SessionReplay, ARecordedRunReplaysToTheSameHistoryAndDistancesAndAnalyzeReadsThemAlike) {
  auto window = makeTestWindow();
  window->show();
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("s"));
  ASSERT_TRUE(window->startRecordingPings(folder));
  window->runCommand(CommandId::kStartSonar);
  ASSERT_TRUE(settle(*window));
  std::vector<std::string> livePerPing;
  for (int i = 0; i < kTimedPings; ++i) {
    timedPingNow(*window);
    livePerPing.push_back(printed(latestEchoes(window->program().echoTracker)));
  }
  window->runCommand(CommandId::kPauseSonar);
  window->stopRecordingPings();
  const Program& p = window->program();
  const ScanHistory liveHistory = p.history;
  const auto liveMeasured = p.measured;
  const uint32_t lastColumn = p.scan.scanColumn;
  ASSERT_EQ(lastColumn, 1u + kTimedPings);
  ASSERT_FALSE(livePerPing.back().empty());

  // The command line's reading of the same session, ping by ping.
  QProcess cli;
  cli.setProcessChannelMode(QProcess::SeparateChannels);
  cli.start(QStringLiteral(MERVANE_CLI),
            {QStringLiteral("analyze"), folder, QStringLiteral("--json")});
  ASSERT_TRUE(cli.waitForFinished(60000));
  ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  EXPECT_EQ(pingObstructions(cli.readAllStandardOutput().toStdString()), livePerPing);

  // Replayed in the same window, over an emptied history: the room is gone, only the session
  // speaks.
  chooseSession(*window, folder);
  EXPECT_EQ(window->soundStatus(), QStringLiteral("Recorded session"));
  Program& q = window->program();
  std::fill(q.history.values.begin() + kHistoryRows, q.history.values.end(), 0);
  q.measured.fill(ColumnMeasurement{});
  window->runCommand(CommandId::kStartSonar);
  ASSERT_TRUE(settle(*window));
  for (int i = 0; i < kTimedPings; ++i) timedPingNow(*window);
  EXPECT_EQ(q.scan.scanColumn, lastColumn);
  EXPECT_TRUE(q.history.values == liveHistory.values);
  for (uint32_t column = 0; column < kHistoryColumns; ++column) {
    EXPECT_EQ(q.measured[column].stored, liveMeasured[column].stored) << column;
    EXPECT_EQ(q.measured[column].foundOffset, liveMeasured[column].foundOffset) << column;
    EXPECT_TRUE(q.measured[column].lags == liveMeasured[column].lags) << column;
    EXPECT_EQ(q.measured[column].samplesPerSec, liveMeasured[column].samplesPerSec) << column;
  }

  // One ping more than was recorded: the session has ended, as a device that ran out.
  QString told;
  ModalCloser closer([&](QWidget* modal) {
    if (auto* box = qobject_cast<QMessageBox*>(modal)) told = box->text();
  });
  timedPingNow(*window);
  EXPECT_TRUE(told.contains(QStringLiteral("The recorded session has ended: all 6 pings")))
      << told.toStdString();
  EXPECT_EQ(q.scan.scanState, kIdle);
  EXPECT_EQ(q.scan.scanColumn, lastColumn);
}

// A session the command line recorded at 48000 Hz and 25 °C: MERVANE_AUDIO=replay:DIR or the
// remembered choice plays it (a room in the environment changes nothing), and the window starts
// on it in the session's format, at the session's calibration. A folder that holds no session,
// or a remembered one that is gone, is refused with the reason.
TEST_F(SessionReplay, TheEnvironmentOrTheRememberedChoicePlaysASessionInItsOwnSettings) {
  QTemporaryDir dir;
  const QString folder = dir.filePath(QStringLiteral("s"));
  QProcess cli;
  cli.start(QStringLiteral(MERVANE_CLI),
            {QStringLiteral("--set"), QStringLiteral("samplesPerSec=48000"),
             QStringLiteral("--temperature"), QStringLiteral("25"), QStringLiteral("ping"),
             QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--record"), folder});
  ASSERT_TRUE(cli.waitForFinished(60000));
  ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();

  QProcessEnvironment env;
  env.insert(QStringLiteral("MERVANE_AUDIO"), QStringLiteral("replay:") + folder);
  env.insert(QStringLiteral("MERVANE_ROOM"), QStringLiteral("echo=3.00:0.2"));
  AudioChoice choice;
  ASSERT_EQ(chooseAudio(env, nullptr, choice), "");
  EXPECT_EQ(choice.kind, AudioKind::kRecordedSession);
  ASSERT_NE(replayedSession(choice.backend.get()), nullptr);
  EXPECT_EQ(replayedSession(choice.backend.get())->pings.size(), 3u);
  {
    MainWindow window(std::move(choice.backend), AudioKind::kRecordedSession);
    const Program& p = window.program();
    EXPECT_EQ(p.settings.waveFormat.samplesPerSec, 48000u);
    EXPECT_NE(p.pair.in, 0u);  // opened in the session's format
    EXPECT_EQ(window.calibrationStatus(), QStringLiteral("calibrated"));
    EXPECT_NEAR(speedInUse(p.settings), 347.1, 0.2);
    EXPECT_EQ(window.soundStatus(), QStringLiteral("Recorded session"));

    // Calibrated otherwise for this session, it reads at that calibration; without, at its own.
    AudioSetup replayed;
    replayed.kind = AudioKind::kRecordedSession;
    replayed.session = folder.toStdString();
    QSettings settings;
    CalibrationRecord freezing;
    freezing.calibration.temperatureC = 0.0;
    freezing.device = calibrationDeviceText(replayed);
    freezing.made = "2026-12-09T07:00:00Z";
    rememberCalibration(settings, freezing.device, freezing);
    window.setAudioSetup(replayed);
    EXPECT_NEAR(speedInUse(p.settings), 331.5, 0.5);
    rememberCalibration(settings, freezing.device, std::nullopt);
    window.setAudioSetup(replayed);
    EXPECT_NEAR(speedInUse(p.settings), 347.1, 0.2);
    for (int i = 0; i < 3; ++i) keyPressed(window.app(), VirtualKey::kEnter);
    ASSERT_TRUE(settle(window));
    EXPECT_GT(p.obstructionList[0], 0.0);

    // A chirp another than the session's, as the out-signal dialog would leave it, is put back.
    const uint32_t start = p.settings.startFrequency;
    window.program().settings.startFrequency = start + 500;
    window.runCommand(CommandId::kReplot);
    EXPECT_EQ(p.settings.startFrequency, start);
    EXPECT_NE(p.pair.in, 0u);
    EXPECT_TRUE(window.statusBar()->currentMessage().contains(QStringLiteral("put back")));
  }

  env.insert(QStringLiteral("MERVANE_AUDIO"), QStringLiteral("replay:") + dir.path());
  std::string reason = chooseAudio(env, nullptr, choice);
  EXPECT_NE(reason.find("cannot replay"), std::string::npos) << reason;
  EXPECT_NE(reason.find("not a recorded session"), std::string::npos) << reason;
  env.insert(QStringLiteral("MERVANE_AUDIO"), QStringLiteral("replay:"));
  EXPECT_NE(chooseAudio(env, nullptr, choice), "");

  QSettings settings;
  AudioSetup setup;
  setup.kind = AudioKind::kRecordedSession;
  setup.session = folder.toStdString();
  rememberAudio(settings, setup);
  ASSERT_EQ(rememberedAudio(settings), setup);
  const auto noCard = [] { return false; };
  ASSERT_EQ(chooseAudio(QProcessEnvironment(), noCard, choice, rememberedAudio(settings)), "");
  EXPECT_EQ(choice.kind, AudioKind::kRecordedSession);
  EXPECT_TRUE(choice.note.empty()) << choice.note;
  ASSERT_TRUE(QDir(folder).removeRecursively());
  ASSERT_EQ(chooseAudio(QProcessEnvironment(), noCard, choice, rememberedAudio(settings)), "");
  EXPECT_EQ(choice.kind, AudioKind::kSimulatedRoom);
  EXPECT_NE(choice.note.find(setup.session), std::string::npos) << choice.note;
}

}  // namespace
