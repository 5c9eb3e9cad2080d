#include "gui/main_window.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include "app/app_steps.h"
#include "app/commands.h"
#include "app/sonar_files.h"
#include "app/status_text.h"
#include "audio/wave_pair.h"
#include "dialogs/surface_view.h"
#include "display/echogram.h"
#include "engine/buffer_plan.h"
#include "gui/audio_device_dialog.h"
#include "gui/calibration_dialog.h"
#include "gui/plot_widget.h"
#include "gui/preferences.h"
#include "gui/qt_text.h"
#include "gui/toolbar_icons.h"
#include "gui/track_window.h"
#include "resources/command_layout.h"

namespace {

// The ping rate is taken over this many of the latest intervals: steady, and still quick to
// follow a change of the clock multiplier.
constexpr size_t kRateWindowPings = 8;
constexpr int kNoteTimeoutMs = 15000;

QString soundSystemText(AudioKind audio) {
  switch (audio) {
    case AudioKind::kSimulatedRoom:
      return QStringLiteral("Simulated room");
    case AudioKind::kRecordedSession:
      return QStringLiteral("Recorded session");
    case AudioKind::kSoundCard:
      break;
  }
  return QStringLiteral("Sound card");
}

AudioSetup setupFor(AudioKind audio) {
  AudioSetup setup;
  setup.kind = audio;
  return setup;
}

bool sameCapture(const SessionCapture& a, const SessionCapture& b) {
  return sameWaveFormat(a.format, b.format) && a.startFrequency == b.startFrequency &&
         a.endFrequency == b.endFrequency && a.chirpTime == b.chirpTime &&
         a.chirpShape == b.chirpShape && a.recordTime == b.recordTime &&
         a.offsetBytes == b.offsetBytes;
}

// A session's recordings were made with its own format, chirp, record time and offset: read with
// others (a dialog, the offset search) every distance would be wrong, so they are put back.
// Returns whether they were.
bool keepSessionCapture(App& app) {
  Program& p = app.program;
  const RecordedSession* session = replayedSession(p.backend.get());
  if (session == nullptr || app.measuring) return false;
  if (sameCapture(captureOf(p.settings), session->info.capture)) return false;
  applyCapture(session->info.capture, p.settings);
  planBuffers(p.settings);  // the session's plan was checked when it was chosen
  closePair(*p.backend, p.pair);
  takeUpPair(app, kCaptionWaveOut);
  replot(app);
  return true;
}

}  // namespace

VirtualKey virtualKeyFor(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VirtualKey::kEnter;
    case Qt::Key_Up:
      return VirtualKey::kUp;
    case Qt::Key_Down:
      return VirtualKey::kDown;
    default:
      return VirtualKey::kNone;
  }
}

MainWindow::MainWindow(std::unique_ptr<AudioBackend> backend, AudioKind audio, QWidget* parent)
    : QMainWindow(parent),
      surface_(kPlotClientWidth, kPlotClientHeight),
      shell_(*this, program_),
      app_{program_, shell_, surface_},
      audioKind_(audio),
      audioSetup_(setupFor(audio)) {
  setObjectName(toQString(kClassName));
  // The title is the program's own; which sound system runs is told in the status bar and the
  // About box.
  setWindowTitle(toQString(kWindowTitle));
  program_.backend = std::move(backend);
  app_.offThread = [this](std::function<void()> waits, std::function<void()> done) {
    worker_.run(std::move(waits), [this, done = std::move(done)] {
      done();
      measurementDone();
    });
  };
  watchStalls();
  clock_.start();

  // Defaults and devices come first; a device failure is reported and start-up goes on.
  startApplication(app_);
  // A session reads at the calibration it was recorded with until the user calibrates otherwise
  // (setAudioSetup looks for that).
  if (const RecordedSession* session = replayedSession(program_.backend.get())) {
    program_.settings.calibration = session->info.calibration;
  }

  plot_ = new PlotWidget(
      surface_, [this] { paintPlot(app_); }, this);
  setCentralWidget(plot_);
  shell_.setPlotWidget(plot_);
  connect(plot_, &PlotWidget::stylusMoved, this, [this](int x, int y) { stylusMoved(app_, x, y); });
  shell_.setAudioDeviceDialog([this] { return chooseAudioDevice(); });
  shell_.setCalibrationDialog([this] { return chooseCalibration(); });
  shell_.setRecentFilesChanged([this] { rebuildRecentFiles(); });

  createMenus();
  createToolBar();
  createStatusBar();
  createShortcuts();
  createMotionControls();
  setContextMenuPolicy(Qt::PreventContextMenu);
  plot_->setFocus();

  scanTimer_.setTimerType(Qt::PreciseTimer);
  scanTimer_.setInterval(kScanTimerPeriodMs);
  connect(&scanTimer_, &QTimer::timeout, this, &MainWindow::onScanTick);
  updateStatus();
}

MainWindow::~MainWindow() {
  scanTimer_.stop();
  worker_.stop();  // a ping in flight still uses the pair and the buffers
  if (program_.backend) {
    program_.backend->setStallHook({});  // the window is going
    closePair(*program_.backend, program_.pair);
  }
}

void MainWindow::createToolBar() {
  toolBar_ = new QToolBar(QStringLiteral("Toolbar"), this);
  toolBar_->setObjectName(QStringLiteral("toolbar%1").arg(kToolbarId));
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setIconSize(QSize(24, 24));
  modeGroup_ = new QActionGroup(toolBar_);
  modeGroup_->setExclusive(true);
  for (const ToolButtonSpec& entry : kToolbar) {
    if (entry.style == ToolStyle::kSeparator) {
      toolBar_->addSeparator();
      continue;
    }
    QAction* action = toolBar_->addAction(toolbarIcon(entry.image), toQString(entry.toolTip));
    action->setToolTip(toQString(entry.toolTip));
    action->setData(commandNumber(entry.command));
    action->setObjectName(QStringLiteral("cmd%1").arg(commandNumber(entry.command)));
    if (entry.style == ToolStyle::kCheckGroup || entry.style == ToolStyle::kCheck) {
      action->setCheckable(true);
      action->setChecked(entry.checked);
    }
    if (entry.style == ToolStyle::kCheckGroup) modeGroup_->addAction(action);
    const CommandId id = entry.command;
    connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
  }
  addToolBar(Qt::BottomToolBarArea, toolBar_);
}

void MainWindow::createStatusBar() {
  runLabel_ = new QLabel(this);
  runLabel_->setObjectName(QStringLiteral("statusRun"));
  soundLabel_ = new QLabel(soundSystemText(audioKind_), this);
  soundLabel_->setObjectName(QStringLiteral("statusSound"));
  statusBar()->addPermanentWidget(runLabel_, 1);
  statusBar()->addPermanentWidget(soundLabel_);
  calibrationLabel_ = new QLabel(calibrationStatus(), this);
  calibrationLabel_->setObjectName(QStringLiteral("statusCalibration"));
  statusBar()->addPermanentWidget(calibrationLabel_);
  // The number at the bottom right of the echogram says what it is when the pointer rests on it.
  plot_->setReadoutToolTip([this] {
    return pointerStatus() +
           QStringLiteral(" (the distance of the echogram row under the pointer)");
  });
  updateAboutContent();
}

void MainWindow::updateAboutContent() {
  shell_.setAboutContent(AboutContent{
      renderResourcePicture(kAboutBannerPath, QSize(kAboutBannerWidth, kAboutBannerHeight),
                            devicePixelRatioF()),
      renderResourcePicture(kAboutEmblemPath, QSize(kAboutEmblemSize, kAboutEmblemSize),
                            devicePixelRatioF()),
      soundSystemText(audioKind_), calibrationAboutText(program_.settings)});
}

void MainWindow::startScanTimer() {
  scanTimer_.start();
}

void MainWindow::runCommand(CommandId command) {
  if (holdBackWhileMeasuring([this, command] { runCommand(command); })) return;
  // A modal window the command opens stops the pings: the status bar says so meanwhile.
  QTimer::singleShot(0, this, &MainWindow::updateStatus);
  // A sweep opened from a file is shown in the file's own settings; the next command or step
  // measures in the session's again.
  keepSessionCaptureNoted();
  dispatchCommand(app_, command);
  if (command != CommandId::kOpen) keepSessionCaptureNoted();
  syncModeButtons();
  syncChangeViewChecks();
  if (program_.scan.scanState != kRunning) pingTimesMs_.clear();
  updateStatus();
  if (closeAfterStep_ && !app_.busy) {
    closeAfterStep_ = false;
    QTimer::singleShot(0, this, &QWidget::close);
  }
}

void MainWindow::keepSessionCaptureNoted() {
  if (keepSessionCapture(app_)) {
    showNote(
        QStringLiteral("A recorded session plays back in its own format, chirp, record time "
                       "and offset; they were put back."));
  }
}

bool MainWindow::holdBackWhileMeasuring(std::function<void()> event) {
  if (!app_.measuring) return false;
  heldBack_.push_back(std::move(event));
  return true;
}

void MainWindow::measurementDone() {
  if (timedPingOnWorker_) {
    timedPingOnWorker_ = false;
    notePing();
  }
  // Drawn now, while the buffers are free: the next tick may hand them to the worker again
  // before the repaint comes, and a repaint during a ping draws the status strip alone.
  paintPlot(app_);
  plot_->update();
  updateStatus();
  if (trackWindow_ != nullptr) trackWindow_->refresh();
  // A held-back event may hand a new step to the worker; the rest wait for that one in turn.
  while (!app_.measuring && !heldBack_.empty()) {
    std::function<void()> event = std::move(heldBack_.front());
    heldBack_.pop_front();
    event();
  }
}

void MainWindow::startOrPause() {
  // Decided when it runs: a ping in flight may end the sweep.
  if (holdBackWhileMeasuring([this] { startOrPause(); })) return;
  runCommand(program_.scan.scanState == kRunning ? CommandId::kPauseSonar : CommandId::kStartSonar);
}

void MainWindow::bringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void MainWindow::restoreGeometryOrFit() {
  QSettings settings;
  if (restoreGeometry(windowGeometry(settings))) return;
  resize(sizeHint());
  fitToScreen(*this);
}

void MainWindow::showNote(const QString& text) {
  statusBar()->showMessage(text, kNoteTimeoutMs);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  const VirtualKey key = virtualKeyFor(event->key());
  auto press = [this, key] {
    if (key != VirtualKey::kNone) keepSessionCaptureNoted();
    keyPressed(app_, key);
    updateStatus();
  };
  if (key == VirtualKey::kNone || !holdBackWhileMeasuring(press)) press();
  QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A step that waits (a check, the offset search) still uses the buffers: the window stays
  // until it ends. Otherwise a measured sweep is saved or given up first, with no tick pinging
  // while the question is open.
  if (holdBackWhileMeasuring([this] { close(); })) {
    event->ignore();
    return;
  }
  BusyScope scope(app_);
  if (!scope.entered()) {
    closeAfterStep_ = true;
    event->ignore();
    return;
  }
  if (!settleUnsavedSweep(app_)) {
    event->ignore();
    return;
  }
  QSettings settings;
  setWindowGeometry(settings, saveGeometry());
  event->accept();
}

void MainWindow::onScanTick() {
  // A waiting step lets the event loop run to keep the window painted; it must not ping.
  if (shell_.isPumpingEvents()) return;
  switch (timerTick(app_)) {
    case TickOutcome::kPingStarted:
      timedPingOnWorker_ = true;
      break;
    case TickOutcome::kPinged:
    case TickOutcome::kPingFailed:
      notePing();
      break;
    case TickOutcome::kNoPing:
      break;
  }
}

void MainWindow::notePing() {
  pingTimesMs_.push_back(clock_.elapsed());
  while (pingTimesMs_.size() > kRateWindowPings + 1) pingTimesMs_.pop_front();
  if (program_.scan.scanState != kRunning) pingTimesMs_.clear();
  updateStatus();
}

double MainWindow::pingRate() const {
  if (pingTimesMs_.size() < 2) return 0.0;
  const qint64 spanMs = pingTimesMs_.back() - pingTimesMs_.front();
  if (spanMs <= 0) return 0.0;
  return 1000.0 * static_cast<double>(pingTimesMs_.size() - 1) / static_cast<double>(spanMs);
}

void MainWindow::updateStatus() {
  runLabel_->setText(runStatus());
}

QString MainWindow::runStatus() const {
  // A rate is only told while pings come.
  const double rate = program_.scan.scanState == kRunning ? pingRate() : 0.0;
  return toQString(runStatusText(program_, rate, app_.busy ? PingsHeld::kYes : PingsHeld::kNo));
}

QString MainWindow::pointerStatus() const {
  return toQString(pointerReadingText(program_));
}

QString MainWindow::soundStatus() const {
  return soundLabel_->text();
}

void MainWindow::syncModeButtons() {
  const bool linear = program_.settings.displayMode == 0;
  for (QAction* action : modeGroup_->actions()) {
    const auto id = static_cast<CommandId>(action->data().toInt());
    if (id == CommandId::kLinearMode) action->setChecked(linear);
    if (id == CommandId::kAngularMode) action->setChecked(!linear);
  }
}

DialogResult MainWindow::chooseAudioDevice() {
  std::vector<AudioDeviceInfo> devices;
  listAudioDevices(devices);  // without PortAudio the lists offer the defaults alone
  // The program's own pair lets go of the devices while the dialog listens to one: many sound
  // cards open a device only once. Nothing pings meanwhile (the command keeps the program busy).
  closePair(*program_.backend, program_.pair);
  AudioDeviceDialog dialog(audioSetup_, program_.settings.waveFormat, devices, this);
  if (dialog.exec() != QDialog::Accepted) {
    takeUpPair(app_, kCaptionWaveOut);
    return DialogResult::kCancel;
  }
  audioSetup_ = dialog.setup();
  QSettings settings;
  rememberAudio(settings, audioSetup_);
  useAudio(dialog.takeChoice());
  useRememberedCalibration();
  return DialogResult::kOk;
}

// A device that is late (a frozen or vanished sound server) is given up within seconds; the
// window stays painted meanwhile.
void MainWindow::watchStalls() {
  if (!program_.backend) return;
  program_.backend->setStallHook([this] {
    static constexpr std::string_view kWaiting = "Waiting for the sound device...";
    if (QThread::currentThread() == thread()) {
      shell_.showProgress(kWaiting);
      return;
    }
    // From the worker: the window's thread is free and paints by itself; it is only told.
    QMetaObject::invokeMethod(
        this, [this] { showNote(toQString(kWaiting)); }, Qt::QueuedConnection);
  });
}

void MainWindow::useAudio(AudioChoice choice) {
  closePair(*program_.backend, program_.pair);  // closed already; a no-op then
  program_.backend = std::move(choice.backend);
  watchStalls();
  audioKind_ = choice.kind;
  soundLabel_->setText(soundSystemText(audioKind_));
  updateAboutContent();
  // Another device is another sound path: the tracker learns it afresh from its first ping.
  program_.echoTracker.learnt.key = LearntPath::Key{};
  if (replayedSession(program_.backend.get()) != nullptr) {
    // A session plays back as the program first met it: from the reset, in its own capture
    // settings, so its pings read as they did when they were recorded.
    resetAndReport(app_);
    app_.shell.requestRepaint();
    return;
  }
  // A run goes on with the new devices; one that cannot open them is told so.
  takeUpPair(app_, kCaptionWaveOut);
}
