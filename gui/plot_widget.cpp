#include "gui/plot_widget.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <cmath>

#include "dialogs/surface_view.h"
#include "display/echogram.h"
#include "display/plot_surface.h"

PlotWidget::PlotWidget(const PlotSurface& surface, std::function<void()> paintSurface,
                       QWidget* parent)
    : QWidget(parent), surface_(surface), paintSurface_(std::move(paintSurface)) {
  // The layout is drawn in fixed pixels; the widget grows and shrinks with the window and shows
  // that picture scaled.
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  // The whole area is covered on every paint: nothing to erase first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

QSize PlotWidget::sizeHint() const {
  return surfaceSizeHint(surface_.clientWidth(), surface_.clientHeight());
}

QSize PlotWidget::minimumSizeHint() const {
  return surfaceMinimumSize(surface_.clientWidth(), surface_.clientHeight());
}

void PlotWidget::showSurfaceNow() {
  copyOnly_ = true;
  repaint();
  copyOnly_ = false;
}

QPoint PlotWidget::surfacePoint(QPointF widgetPoint) const {
  const SurfacePlacement placement = placeSurface(
      QSize(surface_.clientWidth(), surface_.clientHeight()), size(), devicePixelRatioF());
  const QPointF inPicture = (widgetPoint - placement.target.topLeft()) / placement.scale;
  return {static_cast<int>(std::floor(inPicture.x())), static_cast<int>(std::floor(inPicture.y()))};
}

bool PlotWidget::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QPoint at = surfacePoint(help->pos());
  const PixelRect r = kStylusReadingRect;
  const bool onReadout =
      at.x() >= r.left && at.x() < r.right && at.y() >= r.top && at.y() < r.bottom;
  if (onReadout && readoutToolTip_) {
    QToolTip::showText(help->globalPos(), readoutToolTip_(), this);
  } else {
    QToolTip::hideText();
    event->ignore();
  }
  return true;
}

void PlotWidget::paintEvent(QPaintEvent* /*event*/) {
  if (!copyOnly_ && paintSurface_) paintSurface_();
  QPainter painter(this);
  paintSurfaceScaled(painter, surface_, size(), devicePixelRatioF());
}

void PlotWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint position = surfacePoint(event->position());
  emit stylusMoved(position.x(), position.y());
  QWidget::mouseMoveEvent(event);
}

void PlotWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const QPoint position = surfacePoint(event->position());
    emit clicked(position.x(), position.y());
  }
  QWidget::mousePressEvent(event);
}
