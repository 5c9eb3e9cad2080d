// The main window's part in showing what moves: the change view's toggle and the tracking window.
#include <QAction>
#include <QToolBar>

#include "app/tracking.h"
#include "display/echogram.h"
#include "gui/main_window.h"
#include "gui/plot_widget.h"
#include "gui/track_window.h"

void MainWindow::createMotionControls() {
  // The menu item shows its state like the toolbar button; both only ask the command, which
  // toggles the setting, and then follow it.
  for (QAction* action : findChildren<QAction*>()) {
    if (action->data().toInt() == commandNumber(CommandId::kChangeView)) {
      action->setCheckable(true);
    }
  }
  shell_.setTrackWindow([this] { showTrackWindow(); });
  connect(plot_, &PlotWidget::clicked, this, [this](int x, int y) { pickEchoAt(x, y); });
  syncChangeViewChecks();
}

void MainWindow::syncChangeViewChecks() {
  const bool on = program_.changeView.on;
  for (QAction* action : findChildren<QAction*>()) {
    if (action->isCheckable() && action->data().toInt() == commandNumber(CommandId::kChangeView)) {
      action->setChecked(on);
    }
  }
}

void MainWindow::showTrackWindow() {
  if (trackWindow_ == nullptr)
    trackWindow_ = new TrackWindow(
        program_, [this](CommandId id) { runCommand(id); }, this);
  trackWindow_->show();
  trackWindow_->raise();
  trackWindow_->activateWindow();
}

void MainWindow::pickEchoAt(int x, int y) {
  // The row's distance is read off the latest envelope, which a ping in flight is writing.
  if (holdBackWhileMeasuring([this, x, y] { pickEchoAt(x, y); })) return;
  // Only the echogram's rows of bins pick an echo; the frame, key and status strip do not.
  const int bin = y - kPlotTop;
  if (x < kPlotLeft || x >= kPlotLeft + static_cast<int>(kHistoryColumns) || bin < 1 ||
      bin >= static_cast<int>(kEnvelopeBins)) {
    return;
  }
  showTrackWindow();
  trackWindow_->follow(binDistanceMetres(program_.settings, bin));
}
