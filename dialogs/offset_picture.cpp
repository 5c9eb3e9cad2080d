#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include "dialogs/offset_dialog.h"

namespace {

// Design coordinates of the 115 x 44 drawing.
constexpr int kWidth = 115;
constexpr int kHeight = 44;
constexpr qreal kAxisY = 24;
constexpr qreal kPlayX = 6;
constexpr qreal kRecordX = 44;

void drawText(QPainter& p, const QRectF& rect, const QString& text, Qt::Alignment align) {
  p.setPen(Qt::black);
  p.drawText(rect, align | Qt::AlignVCenter, text);
}

void drawTimeAxis(QPainter& p) {
  p.setPen(QPen(Qt::black, 1));
  p.drawLine(QPointF(2, kAxisY), QPointF(111, kAxisY));
  const QPointF tip(112, kAxisY);
  p.setBrush(Qt::black);
  p.drawPolygon(QPolygonF({tip, QPointF(106, kAxisY - 3), QPointF(106, kAxisY + 3)}));
  drawText(p, QRectF(88, kAxisY + 2, 26, 9), QStringLiteral("time"), Qt::AlignRight);
}

void drawBars(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 170, 0));
  p.drawRect(QRectF(kPlayX, kAxisY - 5, 14, 4));
  drawText(p, QRectF(kPlayX - 2, kAxisY - 16, 24, 9), QStringLiteral("play"), Qt::AlignLeft);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(220, 0, 0));
  p.drawRect(QRectF(kRecordX, kAxisY - 5, 58, 4));
  drawText(p, QRectF(80, kAxisY - 16, 22, 9), QStringLiteral("rec."), Qt::AlignRight);
}

void drawOffsets(QPainter& p) {
  // The bracket under the axis spans the offset from the start of play to the recording.
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(Qt::NoBrush);
  const qreal y = kAxisY + 6;
  p.drawLine(QPointF(kPlayX, y - 3), QPointF(kPlayX, y));
  p.drawLine(QPointF(kPlayX, y), QPointF(kRecordX, y));
  p.drawLine(QPointF(kRecordX, y - 3), QPointF(kRecordX, y));
  drawText(p, QRectF(kPlayX, y + 1, kRecordX - kPlayX, 10), QStringLiteral("offset"),
           Qt::AlignHCenter);
  // The delta window starts where the recording starts.
  p.setPen(QPen(QColor(150, 130, 0), 0.7));
  p.setBrush(QColor(255, 230, 0));
  const QRectF window(kRecordX, 3, 34, 12);
  p.drawRect(window);
  drawText(p, window, QString(QChar(0x0394)) + QStringLiteral("offset"), Qt::AlignHCenter);
}

}  // namespace

QPixmap drawOffsetExplanation(int scale) {
  QImage image(kWidth * scale, kHeight * scale, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.scale(scale, scale);
  QFont font = p.font();
  font.setPixelSize(8);
  p.setFont(font);
  drawTimeAxis(p);
  drawBars(p);
  drawOffsets(p);
  p.end();
  return QPixmap::fromImage(image);
}
