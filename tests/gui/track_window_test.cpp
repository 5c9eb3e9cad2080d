#include <gtest/gtest.h>

#include "test_helpers.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QTest>
#include <cmath>
#include <numbers>

#include "app/tracking.h"
#include "dialogs/surface_view.h"
#include "display/echogram.h"
#include "gui/plot_widget.h"
#include "gui/track_window.h"
#include "test_window.h"

// The tracking window on the simulated room, driven as a user drives it: Analyze > Track echo...
// or a click on the echogram, the toolbar's Start, the scan timer's ticks.

namespace {

std::unique_ptr<MainWindow> windowOnRoom(const std::string& keys) {
  SimRoom room;
  EXPECT_EQ(parseSimRoom(keys, room), "");
  room.speedMps = 337.6;
  return std::make_unique<MainWindow>(std::make_unique<SimBackend>(room, SimPacing::kVirtual),
                                      AudioKind::kSimulatedRoom);
}

class TrackWindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (window_) window_->program().sweepUnsaved = false;
    window_.reset();
    EXPECT_EQ(visibleTopLevelWindows(), 0) << "a test left a window open";
  }

  void open(const std::string& keys) {
    window_ = windowOnRoom(keys);
    window_->show();
    window_->program().settings.clockMultiplier = 0;
    window_->scanTimer().setInterval(1);
  }

  // Runs timed pings until the track holds `points` points (or the sweep ends).
  void runUntil(size_t points) {
    toolButton(*window_, CommandId::kStartSonar)->trigger();
    window_->startScanTimer();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window_->program().tracking.count >= points; }, 60000));
    window_->scanTimer().stop();
    ASSERT_TRUE(settle(*window_));
  }

  std::unique_ptr<MainWindow> window_;
};

// Pixels of the plot drawn in the curve's green.
int curvePixels(const QImage& picture) {
  int count = 0;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const QColor c = picture.pixelColor(x, y);
      count += c.green() > 150 && c.red() < 100 ? 1 : 0;
    }
  }
  return count;
}

// A reflector swinging ±3 mm at 0.25 Hz at 40 dB: the window's track follows the room's truth
// to a fraction of a millimetre, shows the latest distance and its scatter, and draws the curve.
TEST_F(TrackWindowTest, FollowsASwingingEchoPickedFromTheMenu) {
  open("echo=1.00:0.2:move=0.003@0.25,noise=46");
  menuItem(*window_, CommandId::kTrackEcho)->trigger();
  TrackWindow* track = window_->trackWindow();
  ASSERT_NE(track, nullptr);
  EXPECT_TRUE(track->isVisible());
  EXPECT_EQ(track->valueText().toStdString(), "no echo picked");
  track->follow(1.0);
  // The room's clock starts with the first chirp, the first tracked ping: the track's times are
  // the room's.
  runUntil(60);
  const Tracking& t = window_->program().tracking;
  double sum = 0.0, truthSum = 0.0;
  size_t n = 0;
  for (size_t i = 0; i < t.count; ++i) {
    const TrackPoint& p = trackRow(t, i);
    ASSERT_EQ(p.state, TrackState::kTracking) << i;
    sum += p.distanceM;
    truthSum += 0.003 * std::sin(2 * std::numbers::pi * 0.25 * p.seconds);
    ++n;
  }
  const double mean = sum / static_cast<double>(n), truthMean = truthSum / static_cast<double>(n);
  double squares = 0.0;
  for (size_t i = 0; i < t.count; ++i) {
    const TrackPoint& p = trackRow(t, i);
    const double truth = 0.003 * std::sin(2 * std::numbers::pi * 0.25 * p.seconds);
    squares += std::pow((p.distanceM - mean) - (truth - truthMean), 2);
  }
  const double rms = std::sqrt(squares / static_cast<double>(n));
  std::printf("tracking window: %zu pings, displacement RMS error %.4f mm, mean %.5f m\n", n,
              rms * 1000, mean);
  EXPECT_LE(rms, 0.0003);
  EXPECT_NEAR(mean, 1.0, 0.002);

  const QString value = track->valueText();
  EXPECT_TRUE(value.endsWith(QStringLiteral(" m"))) << value.toStdString();
  EXPECT_NEAR(value.chopped(2).toDouble(), trackRow(t, t.count - 1).distanceM, 0.00006);
  EXPECT_TRUE(track->scatterText().startsWith(QStringLiteral("scatter ")))
      << track->scatterText().toStdString();
  EXPECT_GT(curvePixels(track->plot()->grab().toImage()), 100);
  track->close();
}

// An echo that runs out of the recording is said to be lost, and the window keeps saying so
// while nothing is found near where it was.
TEST_F(TrackWindowTest, SaysLostWhenTheEchoLeaves) {
  open("echo=6.5:0.2:vel=1.5");
  window_->runCommand(CommandId::kTrackEcho);
  TrackWindow* track = window_->trackWindow();
  ASSERT_NE(track, nullptr);
  track->follow(6.5);
  runUntil(40);
  EXPECT_GE(window_->program().tracking.lostTimes, 1u);
  EXPECT_EQ(track->valueText().toStdString(), "lost");
  EXPECT_EQ(track->findChild<QLabel*>(QStringLiteral("trackValue"))->text().toStdString(), "lost");
  track->close();
}

// A click on the echogram's row of an echo opens the window following that echo; a click on the
// status strip picks nothing.
TEST_F(TrackWindowTest, AClickOnTheEchogramPicksTheEchoOfItsRow) {
  open("echo=1.20:0.2,noise=46");
  window_->runCommand(CommandId::kSingleChirp);
  ASSERT_TRUE(settle(*window_));
  window_->pickEchoAt(100, kStylusReadingRect.top + 5);
  EXPECT_EQ(window_->trackWindow(), nullptr);
  // The row where the drawn column is brightest around 1.2 m.
  const QImage picture = window_->app().surface.image();
  const int x = kPlotLeft + static_cast<int>(window_->program().scan.scanColumn);
  int row = -1, best = -1;
  for (int bin = 1; bin < static_cast<int>(kEnvelopeBins); ++bin) {
    const double metres = binDistanceMetres(window_->program().settings, bin);
    if (std::abs(metres - 1.2) > 0.1) continue;
    const QColor c = picture.pixelColor(x, bin + kPlotTop);
    const int brightness = c.red() + c.green() + c.blue();
    if (brightness > best) {
      best = brightness;
      row = bin + kPlotTop;
    }
  }
  ASSERT_GT(best, 0) << "the echo is drawn";
  // A real click at the middle of that surface pixel, wherever the widget placed the picture.
  PlotWidget* plot = window_->plotWidget();
  const SurfacePlacement place = placeSurface(QSize(kPlotClientWidth, kPlotClientHeight),
                                              plot->size(), plot->devicePixelRatioF());
  const QPointF at = place.target.topLeft() + QPointF(x + 0.5, row + 0.5) * place.scale;
  ASSERT_EQ(plot->surfacePoint(QPointF(at.toPoint())), QPoint(x, row));
  QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, at.toPoint());
  TrackWindow* track = window_->trackWindow();
  ASSERT_NE(track, nullptr);
  runUntil(5);
  const TrackPoint& p = trackRow(window_->program().tracking, 4);
  ASSERT_EQ(p.state, TrackState::kTracking);
  EXPECT_NEAR(p.distanceM, 1.20, 0.005);
  track->close();
}

// Escape closes the tracking window, from wherever the keyboard is in it, and leaves the program's
// own window and the track alone.
TEST_F(TrackWindowTest, EscapeClosesTheWindow) {
  open("echo=1.00:0.2");
  window_->runCommand(CommandId::kTrackEcho);
  TrackWindow* track = window_->trackWindow();
  ASSERT_NE(track, nullptr);
  track->follow(1.0);
  for (QWidget* target :
       {static_cast<QWidget*>(track->findChild<QDoubleSpinBox*>(QStringLiteral("trackNear"))),
        static_cast<QWidget*>(track)}) {
    ASSERT_NE(target, nullptr);
    window_->runCommand(CommandId::kTrackEcho);
    ASSERT_TRUE(track->isVisible());
    track->activateWindow();
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Escape);
    EXPECT_FALSE(track->isVisible()) << target->objectName().toStdString();
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(window_->program().tracking.on);
  }
}

// The change view's toolbar button and its Analyze item show the same state, whichever was used.
TEST_F(TrackWindowTest, TheChangeViewButtonAndMenuItemGoTogether) {
  open("echo=1.00:0.2");
  QAction* button = toolButton(*window_, CommandId::kChangeView);
  QAction* item = menuItem(*window_, CommandId::kChangeView);
  ASSERT_NE(button, nullptr);
  ASSERT_NE(item, nullptr);
  ASSERT_TRUE(button->isCheckable() && item->isCheckable());
  EXPECT_FALSE(button->isChecked() || item->isChecked());
  button->trigger();
  EXPECT_TRUE(window_->program().changeView.on);
  EXPECT_TRUE(button->isChecked() && item->isChecked());
  item->trigger();
  EXPECT_FALSE(window_->program().changeView.on);
  EXPECT_FALSE(button->isChecked() || item->isChecked());
  // Pressed while a ping is on the worker, the toggle waits for it and still ends in step.
  window_->runCommand(CommandId::kSingleChirp);
  button->trigger();
  ASSERT_TRUE(settle(*window_));
  EXPECT_TRUE(window_->program().changeView.on);
  EXPECT_TRUE(button->isChecked() && item->isChecked());
}

}  // namespace
