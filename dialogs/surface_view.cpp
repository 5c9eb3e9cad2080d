#include "dialogs/surface_view.h"

#include <QPainter>

SurfaceView::SurfaceView(int clientWidth, int clientHeight, QWidget* parent)
    : QWidget(parent), surface_(clientWidth, clientHeight) {
  setFixedSize(clientWidth, clientHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void SurfaceView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, surface_.image());
}
