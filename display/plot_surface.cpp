#include "display/plot_surface.h"

#include "io/checked_save.h"

#include <QBuffer>
#include <algorithm>
#include <cstdlib>

namespace {

// Line positions are computed in 128 bits: a step count times a run of two 32-bit coordinates
// apart does not fit 64.
__extension__ using Wide = __int128;

constexpr int kMaxLineWidth = 64;
constexpr int64_t kDashLength = 4;

QRgb toQRgb(Rgb c) {
  return qRgb(c.r, c.g, c.b);
}

// Steps t of a line along its major axis whose pixel (stamp included) can touch [0, size).
struct StepRange {
  int64_t first, last;
};
StepRange visibleSteps(int64_t start, int64_t direction, int64_t steps, int width, int size) {
  const int64_t off = width / 2;
  const int64_t lowest = off - width + 1;  // smallest coordinate whose stamp reaches 0
  const int64_t highest = size - 1 + off;
  int64_t first = 0, last = -1;
  if (direction > 0) {
    first = lowest - start;
    last = highest - start;
  } else {
    first = start - highest;
    last = start - lowest;
  }
  return {std::max<int64_t>(first, 0), std::min<int64_t>(last, steps - 1)};
}

}  // namespace

PlotSurface::PlotSurface(int clientWidth, int clientHeight)
    : clientWidth_(std::max(clientWidth, 0)),
      clientHeight_(std::max(clientHeight, 0)),
      image_(clientWidth_ + 1, clientHeight_ + 1, QImage::Format_RGB32) {
  image_.fill(qRgb(0, 0, 0));
}

void PlotSurface::fillRect(PixelRect rect, Rgb colour) {
  fillPixels(rect, colour);
  if (rect.left <= 0 && rect.top <= 0 && rect.right >= clientWidth_ &&
      rect.bottom >= clientHeight_) {
    textLog_.clear();
  }
}

void PlotSurface::fillPixels(PixelRect rect, Rgb colour) {
  const int left = std::max(rect.left, 0);
  const int top = std::max(rect.top, 0);
  const int right = std::min(rect.right, image_.width());
  const int bottom = std::min(rect.bottom, image_.height());
  if (left >= right || top >= bottom) return;
  const QRgb value = toQRgb(colour);
  for (int y = top; y < bottom; ++y) {
    QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(y));
    std::fill(line + left, line + right, value);
  }
}

void PlotSurface::setPixel(int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return;
  reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = toQRgb(colour);
}

Rgb PlotSurface::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return Rgb{};
  const QRgb v = reinterpret_cast<const QRgb*>(image_.constScanLine(y))[x];
  return Rgb{static_cast<uint8_t>(qRed(v)), static_cast<uint8_t>(qGreen(v)),
             static_cast<uint8_t>(qBlue(v))};
}

// A DDA with exact integer rounding (the minor coordinate of step t is the major run's share
// rounded half up), which draws the same pixels as Bresenham's algorithm. Only the steps that can
// reach the image are walked, so a line to a far-away point costs no more than a short one.
void PlotSurface::drawLine(PixelPoint from, PixelPoint to, Rgb colour, int width, LineStyle style) {
  width = std::clamp(width, 1, kMaxLineWidth);
  const int64_t dx = int64_t{to.x} - from.x;
  const int64_t dy = int64_t{to.y} - from.y;
  const bool xMajor = std::llabs(dx) >= std::llabs(dy);
  const int64_t steps = std::max(std::llabs(dx), std::llabs(dy));
  if (steps == 0) return;  // the end point is never drawn, so nothing is left
  const int64_t major0 = xMajor ? from.x : from.y;
  const int64_t minor0 = xMajor ? from.y : from.x;
  const int64_t majorDir = (xMajor ? dx : dy) > 0 ? 1 : -1;
  const int64_t minorRun = xMajor ? dy : dx;
  const int64_t minorDir = minorRun >= 0 ? 1 : -1;
  const int majorSize = xMajor ? image_.width() : image_.height();
  const StepRange range = visibleSteps(major0, majorDir, steps, width, majorSize);
  const int off = width / 2;
  for (int64_t t = range.first; t <= range.last; ++t) {
    if (style == LineStyle::kDashed && (t / kDashLength) % 2 != 0) continue;
    const Wide share = (Wide{2} * t * std::llabs(minorRun) + steps) / (Wide{2} * steps);
    const int64_t major = major0 + majorDir * t;
    const int64_t minor = minor0 + minorDir * static_cast<int64_t>(share);
    const int64_t x = xMajor ? major : minor;
    const int64_t y = xMajor ? minor : major;
    if (x - off + width <= 0 || y - off + width <= 0 || x - off >= image_.width() ||
        y - off >= image_.height()) {
      continue;
    }
    if (width == 1) {
      setPixel(static_cast<int>(x), static_cast<int>(y), colour);
    } else {
      const int left = static_cast<int>(x) - off;
      const int top = static_cast<int>(y) - off;
      fillPixels({left, top, left + width, top + width}, colour);
    }
  }
}

std::string PlotSurface::savePng(const std::string& path,
                                 std::span<const std::string> inputs) const {
  CheckedSave save(path, inputs);
  if (!save.ready()) return save.problem();
  // Encoded in memory first: Qt's writer does not say whether its last bytes reached the disk.
  QByteArray png;
  QBuffer buffer(&png);
  if (!buffer.open(QIODevice::WriteOnly) || !image_.save(&buffer, "PNG")) {
    return "the picture could not be encoded as PNG";
  }
  save.write(std::span(reinterpret_cast<const uint8_t*>(png.constData()),
                       static_cast<size_t>(png.size())));
  save.commit();
  return save.problem();
}
