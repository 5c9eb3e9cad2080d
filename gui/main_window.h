#pragma once
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

#include "app/application.h"
#include "app/program.h"
#include "display/plot_surface.h"
#include "gui/audio_choice.h"
#include "gui/device_worker.h"
#include "gui/qt_shell.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QToolBar;
class PlotWidget;
class TrackWindow;

// The program's one window: the echogram, the menus, the toolbar at the bottom, the status bar
// and the scan timer. Every menu item and toolbar button goes to the application's command
// dispatch with its identifier; the window itself decides nothing about the measurement.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Takes the audio back end and runs the application's start-up (defaults, device pair).
  MainWindow(std::unique_ptr<AudioBackend> backend, AudioKind audio, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Starts the 25 ms scan timer; start-up does this once the window is shown.
  void startScanTimer();
  // What a menu item or toolbar button with this identifier does.
  void runCommand(CommandId command);
  // Brings the window to the front (a second start asked for it).
  void bringToFront();
  // The size and place of the last run, or else a first size that fits the screen.
  void restoreGeometryOrFit();
  // What Settings > Audio device... starts from (the choice this back end was made from).
  // The device's remembered calibration comes with it (or none).
  void setAudioSetup(const AudioSetup& setup);
  // Puts a status text up for a while (a remembered device that could not be used, ...).
  void showNote(const QString& text);
  // File > Record pings... without its folder dialog (the tests call these, between pings). Start
  // says why it cannot in a message box and returns false.
  bool startRecordingPings(const QString& folder);
  void stopRecordingPings();

  App& app() { return app_; }
  Program& program() { return program_; }
  QtShell& shell() { return shell_; }
  PlotWidget* plotWidget() const { return plot_; }
  QToolBar* toolBar() const { return toolBar_; }
  QMenu* recentFilesMenu() const { return recentMenu_; }
  QTimer& scanTimer() { return scanTimer_; }
  // Analyze > Track echo...'s window, null until it was first shown.
  TrackWindow* trackWindow() const { return trackWindow_; }
  // Follows the echo under this pixel of the echogram, in the tracking window (a click).
  void pickEchoAt(int x, int y);
  // The status bar's texts: the run (nearest echo, state, ping rate) and the sound system; and
  // what the distance readout under the echogram tells (its tool tip).
  QString runStatus() const;
  QString pointerStatus() const;
  QString soundStatus() const;
  // "calibrated" or "not calibrated".
  QString calibrationStatus() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void createMenus();
  void createRecentFilesMenu(QMenu* fileMenu);
  void createRecordPingsAction(QMenu* fileMenu);
  void toggleRecordingPings();
  void updateRecordStatus();
  void rebuildRecentFiles();
  void openRecent(const QString& path);
  void createToolBar();
  void createStatusBar();
  void updateAboutContent();
  void createShortcuts();
  void onScanTick();
  void startOrPause();
  DialogResult chooseAudioDevice();
  // Settings > Calibration... (main_window_calibration.cpp).
  DialogResult chooseCalibration();
  void useRememberedCalibration();
  void showCalibration();
  void useAudio(AudioChoice choice);
  void watchStalls();
  // The two colouring buttons follow the setting, whichever way it changed (a loaded file too).
  void syncModeButtons();
  // The change view and tracking one echo (main_window_motion.cpp): the toolbar button and the
  // Analyze item of the change view show whether it is on, whichever was used.
  void createMotionControls();
  void syncChangeViewChecks();
  void showTrackWindow();
  void updateStatus();
  void notePing();
  // While a ping is on the worker, what the user does waits here and runs, in order, once the
  // ping has been stored: the cycle takes it as if the ping had blocked the window.
  bool holdBackWhileMeasuring(std::function<void()> event);
  void measurementDone();
  // A replayed session's capture settings, put back when something changed them.
  void keepSessionCaptureNoted();
  double pingRate() const;

  Program program_;
  PlotSurface surface_;
  QtShell shell_;
  App app_;
  PlotWidget* plot_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QActionGroup* modeGroup_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QLabel* runLabel_ = nullptr;
  QLabel* soundLabel_ = nullptr;
  QLabel* calibrationLabel_ = nullptr;
  QTimer scanTimer_;
  QAction* recordAction_ = nullptr;
  QLabel* recordLabel_ = nullptr;  // made at the first recording
  QTimer recordStatusTimer_;
  AudioKind audioKind_;
  AudioSetup audioSetup_;
  QElapsedTimer clock_;
  std::deque<qint64> pingTimesMs_;  // the latest pings of the run, oldest first
  std::deque<std::function<void()>> heldBack_;
  bool timedPingOnWorker_ = false;
  // The close button was pressed while a waiting step ran: the window closes when it ends.
  bool closeAfterStep_ = false;
  TrackWindow* trackWindow_ = nullptr;
  DeviceWorker worker_;
};

// The key the application expects for a Qt key: Enter, Up, Down, or kNone for the rest (which the
// application ignores).
VirtualKey virtualKeyFor(int qtKey);

// A menu label with a keyboard mnemonic: '&' before the first letter that no label before it in
// the same menu has taken (`taken` collects them, lower case). A label without a free letter
// stays as it is.
QString withMnemonic(const QString& label, QString& taken);
