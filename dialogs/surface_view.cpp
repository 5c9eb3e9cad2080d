#include "dialogs/surface_view.h"

#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace {

// A whole factor is preferred while it keeps at least this share of the possible size.
constexpr double kCrispShare = 0.85;
// Room for a window frame and a panel around a window that is fitted to the screen [px].
constexpr int kFrameAllowance = 48;

}  // namespace

SurfacePlacement placeSurface(QSize picture, QSize area, double devicePixelRatio) {
  SurfacePlacement placement;
  if (picture.isEmpty() || area.isEmpty() || devicePixelRatio <= 0.0) return placement;
  const double fit = std::min(static_cast<double>(area.width()) / picture.width(),
                              static_cast<double>(area.height()) / picture.height());
  double deviceScale = fit * devicePixelRatio;
  const double whole = std::floor(deviceScale);
  if (whole >= 1.0 && whole / deviceScale >= kCrispShare) {
    deviceScale = whole;
  } else {
    placement.smooth = true;
  }
  // Whole device pixels for the size and the corner, so a crisp factor stays crisp.
  const double width = std::round(picture.width() * deviceScale);
  const double height = std::round(picture.height() * deviceScale);
  const double left = std::floor((area.width() * devicePixelRatio - width) / 2.0);
  const double top = std::floor((area.height() * devicePixelRatio - height) / 2.0);
  placement.scale = deviceScale / devicePixelRatio;
  placement.target = QRectF(left / devicePixelRatio, top / devicePixelRatio,
                            width / devicePixelRatio, height / devicePixelRatio);
  return placement;
}

void paintSurfaceScaled(QPainter& painter, const PlotSurface& surface, QSize area,
                        double devicePixelRatio) {
  const QSize client(surface.clientWidth(), surface.clientHeight());
  const SurfacePlacement placement = placeSurface(client, area, devicePixelRatio);
  painter.fillRect(QRect(QPoint(0, 0), area), Qt::black);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, placement.smooth);
  // The surface is one pixel wider and higher than the area; the extra row and column are never
  // shown, as on the device the layout was made for.
  painter.drawImage(placement.target, surface.image(), QRectF(QPointF(0, 0), QSizeF(client)));
}

QSize surfaceSizeHint(int clientWidth, int clientHeight) {
  return {clientWidth, clientHeight};
}

QSize surfaceMinimumSize(int clientWidth, int clientHeight) {
  return {clientWidth / 2, clientHeight / 2};
}

void fitToScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  const QSize available =
      screen->availableGeometry().size() - QSize(kFrameAllowance, kFrameAllowance);
  const QSize wanted = window.size().isEmpty() ? window.sizeHint() : window.size();
  const QSize fitted = wanted.boundedTo(available).expandedTo(window.minimumSizeHint());
  if (fitted != window.size()) window.resize(fitted);
}

SurfaceView::SurfaceView(int clientWidth, int clientHeight, QWidget* parent)
    : QWidget(parent), surface_(clientWidth, clientHeight) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize SurfaceView::sizeHint() const {
  return surfaceSizeHint(surface_.clientWidth(), surface_.clientHeight());
}

QSize SurfaceView::minimumSizeHint() const {
  return surfaceMinimumSize(surface_.clientWidth(), surface_.clientHeight());
}

void SurfaceView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintSurfaceScaled(painter, surface_, size(), devicePixelRatioF());
}
