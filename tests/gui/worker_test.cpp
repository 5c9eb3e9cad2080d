#include <gtest/gtest.h>

#include <QLabel>
#include <QAbstractButton>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStatusBar>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "display/echogram.h"
#include "gui/plot_widget.h"
#include "modal_closer.h"
#include "test_window.h"

// The window while a ping is on its worker: it goes on handling events, holds back what would
// need the devices and takes it, in order, once the ping is stored.

namespace {

// A device whose playback does not start until the test opens the gate (or two seconds pass):
// a sound server that blocks a ping.
class GatedBackend final : public AudioBackend {
 public:
  explicit GatedBackend(std::unique_ptr<AudioBackend> inner) : inner_(std::move(inner)) {}

  void close() {
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  bool blocking() const { return blocking_.load(); }

  WaveError writePlayback(StreamHandle handle, WaveHeader& header) override {
    {
      std::unique_lock lock(mutex_);
      blocking_ = !open_;
      changed_.wait_for(lock, std::chrono::seconds(2), [this] { return open_; });
      blocking_ = false;
    }
    return inner_->writePlayback(handle, header);
  }
  WaveError open(StreamDirection d, const WaveFormat& f, StreamHandle& h) override {
    return inner_->open(d, f, h);
  }
  WaveError close(StreamHandle h) override { return inner_->close(h); }
  WaveError prepare(StreamHandle h, WaveHeader& w) override { return inner_->prepare(h, w); }
  WaveError unprepare(StreamHandle h, WaveHeader& w) override { return inner_->unprepare(h, w); }
  WaveError addCaptureBuffer(StreamHandle h, WaveHeader& w) override {
    return inner_->addCaptureBuffer(h, w);
  }
  WaveError startCapture(StreamHandle h) override { return inner_->startCapture(h); }
  void waitForDone(uint32_t timeoutMs) override { inner_->waitForDone(timeoutMs); }
  std::string errorText(WaveError code) const override { return inner_->errorText(code); }
  uint64_t clockMs() const override { return inner_->clockMs(); }

 private:
  std::unique_ptr<AudioBackend> inner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  std::atomic<bool> blocking_{false};
};

struct GatedWindow {
  GatedWindow() {
    SimRoom room = defaultSimRoom();
    room.speedMps = 337.6;
    auto gated =
        std::make_unique<GatedBackend>(std::make_unique<SimBackend>(room, SimPacing::kVirtual));
    gate = gated.get();
    window = std::make_unique<MainWindow>(std::move(gated), AudioKind::kSimulatedRoom);
    window->program().settings.clockMultiplier = 0;
    window->scanTimer().setInterval(1);
  }
  ~GatedWindow() {
    gate->open();
    window->program().sweepUnsaved = false;
  }
  GatedBackend* gate = nullptr;
  std::unique_ptr<MainWindow> window;
};

TEST(PingWorker, TheWindowHandlesEventsWhileAPingIsBlockedAndTakesAPauseAfterIt) {
  GatedWindow w;
  MainWindow& window = *w.window;
  window.show();
  window.runCommand(CommandId::kStartSonar);
  ASSERT_TRUE(settle(window));
  const uint32_t column = window.program().scan.scanColumn;

  w.gate->close();
  window.startScanTimer();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.gate->blocking(); }, 5000));
  window.scanTimer().stop();
  ASSERT_TRUE(window.app().measuring);

  // Posted events, a repaint and a pointer move are handled while the ping is held.
  bool posted = false;
  QMetaObject::invokeMethod(
      &window, [&] { posted = true; }, Qt::QueuedConnection);
  PlotWidget* plot = window.plotWidget();
  plot->setFixedSize(kPlotClientWidth, kPlotClientHeight);
  const QPointF at(100.5, 200.5);
  QApplication::postEvent(plot, new QMouseEvent(QEvent::MouseMove, at, plot->mapToGlobal(at),
                                                Qt::NoButton, Qt::NoButton, Qt::NoModifier));
  EXPECT_TRUE(QTest::qWaitFor([&] { return posted; }, 1000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.program().scan.stylusPosition.y == 200; }, 1000));
  EXPECT_TRUE(w.gate->blocking()) << "the window waited for the device";

  // Pause waits for the ping in flight: that ping is still stored, then the run pauses.
  window.runCommand(CommandId::kPauseSonar);
  EXPECT_EQ(window.program().scan.scanState, kRunning);
  EXPECT_EQ(window.program().scan.scanColumn, column);
  w.gate->open();
  ASSERT_TRUE(settle(window));
  EXPECT_EQ(window.program().scan.scanColumn, column + 1);
  EXPECT_EQ(window.program().scan.scanState, kIdle);
  EXPECT_TRUE(window.program().measured[column + 1].stored);
}

TEST(PingWorker, ClosingDuringAPingClosesOnceItIsStored) {
  GatedWindow w;
  MainWindow& window = *w.window;
  window.show();
  window.runCommand(CommandId::kStartSonar);
  ASSERT_TRUE(settle(window));
  w.gate->close();
  window.startScanTimer();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.gate->blocking(); }, 5000));
  window.scanTimer().stop();
  EXPECT_FALSE(window.close()) << "the ping still uses the devices";
  EXPECT_TRUE(window.isVisible());
  // The ping, once stored, is an unsaved measurement: the close asks about it, then closes.
  ModalCloser discard([](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    box->button(QMessageBox::Discard)->click();
  });
  w.gate->open();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
  EXPECT_TRUE(discard.sawModal());
}

// While a modal window keeps the pings from running, the status bar does not claim a run.
TEST(PingWorker, TheStatusBarSaysPausedWhileAModalWindowHoldsThePings) {
  GatedWindow w;
  MainWindow& window = *w.window;
  window.show();
  window.runCommand(CommandId::kStartSonar);
  ASSERT_TRUE(settle(window));
  ASSERT_EQ(window.program().scan.scanState, kRunning);
  QString duringRuler;
  ModalCloser closer([&](QWidget*) {
    duringRuler = window.statusBar()->findChild<QLabel*>(QStringLiteral("statusRun"))->text();
  });
  window.runCommand(CommandId::kRuler);
  ASSERT_TRUE(closer.sawModal());
  EXPECT_TRUE(duringRuler.endsWith(QStringLiteral("| Paused"))) << duringRuler.toStdString();
  EXPECT_TRUE(window.runStatus().contains(QStringLiteral("Running")));
}

}  // namespace
