#include <QFontDatabase>
#include <QPainter>
#include <QString>

#include "display/plot_surface.h"

namespace {

// The tightest text rectangle of the layout (the scan caption) is 10 rows high; at 11 pixels a
// digit fits it and every label fits its rectangle's width with room to spare.
constexpr int kTextPixelSize = 11;
const char* const kFontFamily = "DejaVu Sans";
const char* const kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

}  // namespace

const QFont& PlotSurface::textFont() {
  if (!font_) {
    // The family is known where fontconfig finds the system's fonts; a bare offscreen platform
    // may not look there, so the file is registered by path. A missing file leaves Qt's default.
    if (!QFontDatabase::hasFamily(kFontFamily)) QFontDatabase::addApplicationFont(kFontFile);
    QFont font(kFontFamily);
    font.setPixelSize(kTextPixelSize);
    font_ = font;
  }
  return *font_;
}

void PlotSurface::logText(DrawnText entry) {
  if (textLog_.size() >= kTextLogLimit) {
    textLog_.erase(textLog_.begin(), textLog_.begin() + kTextLogLimit / 2);
  }
  textLog_.push_back(std::move(entry));
}

void PlotSurface::drawText(PixelRect rect, std::string_view text, TextAlign align, TextClip clip) {
  logText({rect, std::string(text), align, clip});
  const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QRect box(rect.left, rect.top, std::max(rect.right - rect.left, 0),
                  std::max(rect.bottom - rect.top, 0));
  int flags = Qt::TextSingleLine | Qt::AlignVCenter;
  flags |= align == TextAlign::kLeft ? Qt::AlignLeft : Qt::AlignRight;
  if (clip == TextClip::kUnclipped) flags |= Qt::TextDontClip;

  QPainter painter(&image_);
  painter.setFont(textFont());
  // Text sits on a black cell as wide as itself, so a label drawn again over an old one of the
  // same length replaces it instead of piling up.
  QRect cell = painter.boundingRect(box, flags, qtext);
  if (clip == TextClip::kClipped) {
    cell = cell.intersected(box);
    painter.setClipRect(box);
  }
  painter.fillRect(cell, QColor(0, 0, 0));
  painter.setPen(QColor(kTextColour.r, kTextColour.g, kTextColour.b));
  painter.drawText(box, flags, qtext);
}
