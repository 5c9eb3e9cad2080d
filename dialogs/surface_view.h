#pragma once
#include <QRectF>
#include <QSize>
#include <QWidget>

#include "display/plot_surface.h"

class QPainter;

// Where a picture drawn in fixed pixels lands in a widget of any size: scaled by one factor
// that keeps its proportions and centred. Whole device-pixel factors keep every pixel a crisp
// square, so a factor close above one is taken down to it; smaller or far-off factors are
// smoothed. `scale` is in logical pixels per picture pixel.
struct SurfacePlacement {
  QRectF target;
  double scale = 1.0;
  bool smooth = false;
};
SurfacePlacement placeSurface(QSize picture, QSize area, double devicePixelRatio);

// Paints the client part of a surface (without its extra row and column) as placed, on black.
void paintSurfaceScaled(QPainter& painter, const PlotSurface& surface, QSize area,
                        double devicePixelRatio);

// A drawing area over its own PlotSurface that scales the picture to its size: the owner draws
// into surface() and calls update(); paintEvent only copies the picture. It asks for the
// surface's size and accepts down to half of it, so a dialog fits small screens.
class SurfaceView : public QWidget {
 public:
  SurfaceView(int clientWidth, int clientHeight, QWidget* parent);

  PlotSurface& surface() { return surface_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  PlotSurface surface_;
};

// The size hint of a picture area of this client size, and the least it is allowed to shrink to.
QSize surfaceSizeHint(int clientWidth, int clientHeight);
QSize surfaceMinimumSize(int clientWidth, int clientHeight);

// Shrinks a top-level window that would not fit the available area of its screen so that it
// does, leaving room for the window frame; a window that fits keeps its size.
void fitToScreen(QWidget& window);
