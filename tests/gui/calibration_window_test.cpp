#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "app/commands.h"
#include "display/echogram.h"
#include "gui/calibration_dialog.h"
#include "gui/preferences.h"
#include "modal_closer.h"
#include "test_window.h"

// Settings > Calibration... in the window: the scale of the echogram, the Ruler and the status
// bar follow it, and each audio device keeps its own across restarts.

namespace {

class CalibrationWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QSettings().clear();
    window_ = makeTestWindow();
    window_->setAudioSetup(defaultRoom());
  }
  void TearDown() override {
    window_.reset();
    QSettings().clear();
  }
  static AudioSetup defaultRoom() {
    AudioSetup setup;
    setup.kind = AudioKind::kSimulatedRoom;
    return setup;
  }
  // Runs the dialog through the menu, filling it in with `fill` (which ends it).
  void runDialog(const std::function<void(CalibrationDialog&)>& fill) {
    ModalCloser closer([&](QWidget* modal) {
      auto* dialog = qobject_cast<CalibrationDialog*>(modal);
      ASSERT_NE(dialog, nullptr);
      fill(*dialog);
    });
    menuItem(*window_, CommandId::kCalibration)->trigger();
    ASSERT_TRUE(closer.sawModal());
  }
  // The calibration's pings run on the window's measuring thread; the dialog shows their end.
  static bool pingsEnd(CalibrationDialog& d) {
    return QTest::qWaitFor([&] { return !d.pinging(); }, 30000);
  }
  static QLineEdit* edit(CalibrationDialog& d, const char* name) {
    return d.findChild<QLineEdit*>(QString::fromLatin1(name));
  }
  // The label of the scale's last tick, as pixels: 8 x 53.625 rows down, right of the box.
  QImage lastLabel() const {
    return window_->app().surface.image().copy(373, 445, 458 - 373, 473 - 445);
  }

  std::unique_ptr<MainWindow> window_;
};

TEST_F(CalibrationWindowTest, TwentyFiveDegreesMovesTheScaleTheRulerAndTheStatus) {
  EXPECT_EQ(window_->calibrationStatus(), QStringLiteral("not calibrated"));
  dispatchCommand(window_->app(), CommandId::kReplot);
  const QImage before = lastLabel();
  keyPressed(window_->app(), VirtualKey::kEnter);
  ASSERT_TRUE(settle(*window_));  // the step measures on the window's worker
  const double plainNearest = window_->program().obstructionList[0];
  ASSERT_GT(plainNearest, 0.0);

  runDialog([](CalibrationDialog& d) {
    EXPECT_TRUE(edit(d, "temperature")->text().isEmpty());  // empty until the user sets it
    EXPECT_EQ(edit(d, "humidity")->text(), QStringLiteral("50"));
    edit(d, "temperature")->setText(QStringLiteral("25"));
    d.accept();
  });
  EXPECT_EQ(window_->calibrationStatus(), QStringLiteral("calibrated"));
  EXPECT_NEAR(speedInUse(window_->program().settings), 347.1, 0.2);
  // The axis is drawn anew at once: 8 ticks of 0.046 s x 347.1 m/s / 18 x 1.02 read 7.24m now,
  // not 7.04m.
  EXPECT_NE(lastLabel(), before);
  std::string label;
  for (const DrawnText& t : window_->app().surface.textLog()) {
    if (t.rect.left == 373 && t.rect.top == 445) label = t.text;
  }
  EXPECT_EQ(label, "7.24m");

  keyPressed(window_->app(), VirtualKey::kEnter);
  ASSERT_TRUE(settle(*window_));  // the step measures on the window's worker
  EXPECT_NEAR(window_->program().obstructionList[0], plainNearest * 347.1 / 337.6, 0.002);
}

TEST_F(CalibrationWindowTest, EachDeviceKeepsItsOwnAcrossARestart) {
  runDialog([](CalibrationDialog& d) {
    edit(d, "temperature")->setText(QStringLiteral("30"));
    edit(d, "humidity")->setText(QStringLiteral("70"));
    d.accept();
  });
  const Calibration kept = window_->program().settings.calibration;
  ASSERT_TRUE(calibrated(kept));

  // Another device reads with its own calibration: none yet.
  AudioSetup other = defaultRoom();
  other.room = "echo=1.2:0.1";
  window_->setAudioSetup(other);
  EXPECT_FALSE(calibrated(window_->program().settings.calibration));
  EXPECT_EQ(window_->calibrationStatus(), QStringLiteral("not calibrated"));

  window_ = makeTestWindow();  // a restart on the first device
  window_->setAudioSetup(defaultRoom());
  EXPECT_EQ(window_->calibrationStatus(), QStringLiteral("calibrated"));
  EXPECT_NEAR(speedInUse(window_->program().settings), speedInUse(kAir, kept), 1e-3);
  EXPECT_EQ(window_->program().settings.calibration.temperatureC, 30.0);
  EXPECT_EQ(window_->program().settings.calibration.humidityPercent, 70.0);

  runDialog([](CalibrationDialog& d) {
    d.findChild<QPushButton*>(QStringLiteral("forget"))->click();
    d.accept();
  });
  EXPECT_FALSE(calibrated(window_->program().settings.calibration));
  QSettings settings;
  EXPECT_FALSE(rememberedCalibration(settings, "simulated room: default").has_value());
}

TEST_F(CalibrationWindowTest, AKnownDistanceIsSolvedShownAndKeptOrRefusedWithTheReason) {
  QString refused, solved;
  runDialog([&](CalibrationDialog& d) {
    edit(d, "distance")->setText(QStringLiteral("3.0"));
    d.findChild<QPushButton*>(QStringLiteral("calibrate"))->click();
    ASSERT_TRUE(pingsEnd(d));
    refused = d.findChild<QLabel*>(QStringLiteral("result"))->text();
    edit(d, "distance")->setText(QStringLiteral("0,80"));
    d.findChild<QPushButton*>(QStringLiteral("calibrate"))->click();
    ASSERT_TRUE(pingsEnd(d));
    solved = d.findChild<QLabel*>(QStringLiteral("result"))->text();
    d.accept();
  });
  EXPECT_TRUE(refused.startsWith(QStringLiteral("Refused: no echo within 10 % of 3.000 m")))
      << refused.toStdString();
  EXPECT_TRUE(solved.startsWith(QStringLiteral("Offset "))) << solved.toStdString();
  EXPECT_TRUE(solved.contains(QStringLiteral("residual"))) << solved.toStdString();
  // The default room has no device geometry: its reflector at 0.80 m needs no offset.
  EXPECT_NEAR(window_->program().settings.calibration.offsetMetres, 0.0, 0.002);
  EXPECT_EQ(window_->calibrationStatus(), QStringLiteral("calibrated"));
}

TEST_F(CalibrationWindowTest, ABadFieldKeepsTheDialogOpenWithTheReason) {
  QString reason;
  bool stayedOpen = false;
  runDialog([&](CalibrationDialog& d) {
    edit(d, "temperature")->setText(QStringLiteral("warm"));
    d.accept();
    stayedOpen = d.isVisible();
    reason = d.findChild<QLabel*>(QStringLiteral("result"))->text();
    d.reject();
  });
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(reason.contains(QStringLiteral("temperature"))) << reason.toStdString();
  EXPECT_FALSE(calibrated(window_->program().settings.calibration));
}

// On a device that takes its time (the room paced in real time: 12 recordings of about 0.1 s),
// the window's thread goes on answering while the calibration pings, and the dialog waits for
// them before it closes.
TEST(CalibrationOffTheWindowThread, TheWindowAnswersWhileTheCalibrationPings) {
  QSettings().clear();
  SimRoom room = defaultSimRoom();
  room.speedMps = 337.6;
  auto window = std::make_unique<MainWindow>(
      std::make_unique<SimBackend>(room, SimPacing::kRealTime), AudioKind::kSimulatedRoom);
  QString during, after;
  bool heldOpen = false;
  int answered = 0;
  ModalCloser closer([&](QWidget* modal) {
    auto* d = qobject_cast<CalibrationDialog*>(modal);
    ASSERT_NE(d, nullptr);
    d->findChild<QLineEdit*>(QStringLiteral("distance"))->setText(QStringLiteral("0.80"));
    d->findChild<QPushButton*>(QStringLiteral("calibrate"))->click();
    // The click came back before the pings did.
    during = d->findChild<QLabel*>(QStringLiteral("result"))->text();
    EXPECT_TRUE(d->pinging());
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] { answered += d->pinging() ? 1 : 0; });
    answer.start(10);
    d->reject();
    heldOpen = d->isVisible();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d->pinging(); }, 30000));
    after = d->findChild<QLabel*>(QStringLiteral("result"))->text();
    d->accept();
  });
  menuItem(*window, CommandId::kCalibration)->trigger();
  ASSERT_TRUE(closer.sawModal());
  EXPECT_EQ(during, QStringLiteral("Pinging..."));
  EXPECT_TRUE(heldOpen);
  // The window's thread ran its timers while the pings were still being taken.
  EXPECT_GT(answered, 0);
  EXPECT_TRUE(after.startsWith(QStringLiteral("Offset "))) << after.toStdString();
  EXPECT_EQ(window->calibrationStatus(), QStringLiteral("calibrated"));
  window.reset();
  QSettings().clear();
}

TEST(CalibrationTypedNumber, ReadsAPointOrACommaAndNothingElse) {
  EXPECT_EQ(readTypedNumber(QStringLiteral(" 0.75 ")), 0.75);
  EXPECT_EQ(readTypedNumber(QStringLiteral("0,75")), 0.75);
  EXPECT_FALSE(readTypedNumber(QStringLiteral("")).has_value());
  EXPECT_FALSE(readTypedNumber(QStringLiteral("0.75m")).has_value());
  EXPECT_FALSE(readTypedNumber(QStringLiteral("nan")).has_value());
}

}  // namespace
