#include "gui/plot_widget.h"

#include <QMouseEvent>
#include <QPainter>

#include "display/echogram.h"
#include "display/plot_surface.h"

PlotWidget::PlotWidget(const PlotSurface& surface, std::function<void()> paintSurface,
                       QWidget* parent)
    : QWidget(parent), surface_(surface), paintSurface_(std::move(paintSurface)) {
  // The layout is drawn in fixed device pixels, so the area never grows or shrinks with the
  // window.
  setFixedSize(kPlotClientWidth, kPlotClientHeight);
  // The whole area is covered by the surface on every paint: nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

void PlotWidget::showSurfaceNow() {
  copyOnly_ = true;
  repaint();
  copyOnly_ = false;
}

void PlotWidget::paintEvent(QPaintEvent* /*event*/) {
  if (!copyOnly_ && paintSurface_) paintSurface_();
  QPainter painter(this);
  // The surface is one pixel wider and higher than the area; the extra row and column are
  // never shown, as on the device the layout was made for.
  painter.drawImage(0, 0, surface_.image());
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  emit stylusMoved(position.x(), position.y());
  QWidget::mouseMoveEvent(event);
}
