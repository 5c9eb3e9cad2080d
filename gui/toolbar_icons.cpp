#include "gui/toolbar_icons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <array>

#include "gui/qt_text.h"
#include "resources/command_layout.h"

QImage renderToolbarImage(int image, int sizePx) {
  QImage result(sizePx, sizePx, QImage::Format_ARGB32_Premultiplied);
  result.fill(Qt::transparent);
  const std::string_view path = toolbarImagePath(image);
  if (path.empty()) return result;
  QSvgRenderer renderer(toQString(path));
  if (!renderer.isValid()) return result;
  QPainter painter(&result);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(0, 0, sizePx, sizePx));
  return result;
}

QIcon toolbarIcon(int image) {
  // The design size, the toolbar's size, and both doubled for high-resolution screens.
  constexpr std::array kSizesPx{kToolbarImageSize, 24, 2 * kToolbarImageSize, 48};
  QIcon icon;
  for (const int size : kSizesPx)
    icon.addPixmap(QPixmap::fromImage(renderToolbarImage(image, size)));
  return icon;
}
