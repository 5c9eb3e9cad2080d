#include "gui/toolbar_icons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <array>

#include "gui/qt_text.h"
#include "resources/command_layout.h"

namespace {

QImage renderSvg(std::string_view path, QSize sizePx) {
  QImage result(sizePx, QImage::Format_ARGB32_Premultiplied);
  result.fill(Qt::transparent);
  if (path.empty()) return result;
  QSvgRenderer renderer(toQString(path));
  if (!renderer.isValid()) return result;
  QPainter painter(&result);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(sizePx)));
  return result;
}

}  // namespace

QImage renderToolbarImage(int image, int sizePx) {
  return renderSvg(toolbarImagePath(image), QSize(sizePx, sizePx));
}

QPixmap renderResourcePicture(std::string_view path, QSize size, double devicePixelRatio) {
  const double ratio = devicePixelRatio > 0.0 ? devicePixelRatio : 1.0;
  QPixmap picture = QPixmap::fromImage(renderSvg(path, (QSizeF(size) * ratio).toSize()));
  picture.setDevicePixelRatio(ratio);
  return picture;
}

QIcon toolbarIcon(int image) {
  // The design size, the toolbar's size, and both doubled for high-resolution screens.
  constexpr std::array kSizesPx{kToolbarImageSize, 24, 2 * kToolbarImageSize, 48};
  QIcon icon;
  for (const int size : kSizesPx)
    icon.addPixmap(QPixmap::fromImage(renderToolbarImage(image, size)));
  return icon;
}
