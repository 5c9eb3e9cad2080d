#pragma once
#include <QWidget>

#include "display/plot_surface.h"

// A fixed-size drawing area over its own PlotSurface: the owner draws into surface() and calls
// update(); paintEvent only copies the picture.
class SurfaceView : public QWidget {
 public:
  SurfaceView(int clientWidth, int clientHeight, QWidget* parent);

  PlotSurface& surface() { return surface_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PlotSurface surface_;
};
