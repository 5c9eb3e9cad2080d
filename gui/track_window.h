#pragma once
#include <QMainWindow>
#include <functional>

#include "app/command_id.h"

class QDoubleSpinBox;
class QLabel;
class QMenu;
struct Program;
struct Tracking;

// The picture of a track: distance against time over the latest pings, the points where the echo
// was not followed marked along the bottom.
class TrackPlot : public QWidget {
 public:
  TrackPlot(const Tracking& tracking, QWidget* parent);
  QSize sizeHint() const override { return {520, 260}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const Tracking& tracking_;
};

// Analyze > Track echo...: follows the one echo the user picked (a click on the echogram, a
// Ruler entry or a distance typed in) from ping to ping, plots its distance against time live
// with the latest value and its scatter, and says "lost" while the echo is lost. File > Export...
// writes the table `mervane-cli track --csv` writes. The points come from the program's
// tracking, which the scan cycle feeds on the window's thread; the window only reads them.
class TrackWindow : public QMainWindow {
  Q_OBJECT

 public:
  TrackWindow(Program& program, std::function<void(CommandId)> runCommand, QWidget* parent);

  // Follows the echo nearest `nearM` metres from the next ping on; the table starts afresh.
  void follow(double nearM);
  // Shows what the latest pings added.
  void refresh();

  // What the window tells: the latest distance or "lost", and the scatter.
  QString valueText() const;
  QString scatterText() const;
  TrackPlot* plot() const { return plot_; }
  QMenu* rulerMenu() const { return rulerMenu_; }

 protected:
  // Escape closes the window as it closes the program's dialogs.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void createMenus(const std::function<void(CommandId)>& runCommand);
  void fillRulerMenu();

  Program& program_;
  TrackPlot* plot_ = nullptr;
  QDoubleSpinBox* near_ = nullptr;
  QMenu* rulerMenu_ = nullptr;
  QLabel* value_ = nullptr;
  QLabel* scatter_ = nullptr;
};

// The scatter of a track: the standard deviation [m] of the latest `pings` followed distances,
// and how many there were (fewer than two: no scatter).
struct TrackScatter {
  double metres = 0.0;
  size_t pings = 0;
};
TrackScatter trackScatter(const Tracking& tracking, size_t pings);
