#pragma once
#include <QMainWindow>
#include <QTimer>
#include <memory>

#include "app/application.h"
#include "app/program.h"
#include "display/plot_surface.h"
#include "gui/audio_choice.h"
#include "gui/qt_shell.h"

class QActionGroup;
class QToolBar;
class PlotWidget;

// The program's one window: the echogram, the menus, the toolbar at the bottom and the scan
// timer. Every menu item and toolbar button goes to the application's command dispatch with its
// identifier; the window itself decides nothing.
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

  App& app() { return app_; }
  Program& program() { return program_; }
  PlotWidget* plotWidget() const { return plot_; }
  QToolBar* toolBar() const { return toolBar_; }
  QTimer& scanTimer() { return scanTimer_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void createMenus();
  void createToolBar();
  void onScanTick();
  // The two colouring buttons follow the setting, whichever way it changed (a loaded file too).
  void syncModeButtons();

  Program program_;
  PlotSurface surface_;
  QtShell shell_;
  App app_;
  PlotWidget* plot_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QActionGroup* modeGroup_ = nullptr;
  QTimer scanTimer_;
};

// The key the application expects for a Qt key: Enter, Up, Down, or kNone for the rest (which the
// application ignores).
VirtualKey virtualKeyFor(int qtKey);
