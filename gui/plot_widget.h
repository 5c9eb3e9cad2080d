#pragma once
#include <QWidget>
#include <functional>

class PlotSurface;

// The main window's client area. It owns no picture of its own: every paint event lets the
// application draw into the plot surface and then shows the surface, scaled to the widget with
// its proportions kept; mouse moves over it are the stylus, in surface pixels.
class PlotWidget : public QWidget {
  Q_OBJECT

 public:
  // `paintSurface` is the application's repaint step (frame when a sweep starts, then the
  // current column); it runs before every copy except those asked for by showSurfaceNow.
  PlotWidget(const PlotSurface& surface, std::function<void()> paintSurface,
             QWidget* parent = nullptr);

  // Copies the surface to the screen at once, without the repaint step.
  void showSurfaceNow();
  // The surface pixel under a point of the widget (outside the picture it lies beyond its edge).
  QPoint surfacePoint(QPointF widgetPoint) const;

  // The tool tip shown while the pointer rests on the distance readout of the status strip.
  void setReadoutToolTip(std::function<QString()> text) { readoutToolTip_ = std::move(text); }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  void stylusMoved(int x, int y);
  // A left click, in surface pixels.
  void clicked(int x, int y);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  const PlotSurface& surface_;
  std::function<void()> paintSurface_;
  bool copyOnly_ = false;
  std::function<QString()> readoutToolTip_;
};
