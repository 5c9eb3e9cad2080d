#pragma once
#include <QFont>
#include <QImage>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Device-pixel geometry of the drawing: rectangles exclude their right column and bottom row,
// lines exclude their end point.
struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
struct PixelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};
struct PixelPoint {
  int x = 0, y = 0;
};

enum class TextAlign { kLeft, kRight };
enum class TextClip { kClipped, kUnclipped };
// A dashed line is 4 pixels on, 4 off, counted from its start point.
enum class LineStyle { kSolid, kDashed };

constexpr Rgb kTextColour{250, 250, 50};

// One line of text as drawn, kept so tests can check strings and their rectangles.
struct DrawnText {
  PixelRect rect;
  std::string text;
  TextAlign align = TextAlign::kLeft;
  TextClip clip = TextClip::kClipped;
};

// The persistent off-screen picture of a window: one pixel wider and higher than the client
// area, black at creation. Every write is clipped to the image, so a client area smaller than a
// layout only loses what falls outside it.
//
// Text is drawn with QPainter, which in Qt 6 needs a QGuiApplication to exist (the offscreen
// platform will do: QT_QPA_PLATFORM=offscreen). The desktop program, the command line and the
// tests each create one before drawing text. Everything else works without one.
class PlotSurface {
 public:
  PlotSurface(int clientWidth, int clientHeight);

  int clientWidth() const { return clientWidth_; }
  int clientHeight() const { return clientHeight_; }

  void fillRect(PixelRect rect, Rgb colour);
  void setPixel(int x, int y, Rgb colour);
  Rgb pixel(int x, int y) const;  // black outside the image
  // Pixel exact: every pixel of the line but its end point, stamped `width` pixels square
  // (centred on the line, the odd pixel up and to the left).
  void drawLine(PixelPoint from, PixelPoint to, Rgb colour, int width = 1,
                LineStyle style = LineStyle::kSolid);
  // One line of text in RGB(250, 250, 50), vertically centred in the rectangle, on a black cell
  // as wide as the text.
  void drawText(PixelRect rect, std::string_view text, TextAlign align = TextAlign::kLeft,
                TextClip clip = TextClip::kClipped);

  const QImage& image() const { return image_; }
  // Writes the picture as a PNG through CheckedSave (all or nothing; `inputs` are files the
  // caller read, which the picture must not replace). Returns the reason on failure, else empty.
  std::string savePng(const std::string& path, std::span<const std::string> inputs = {}) const;

  // The log keeps the newest texts only (kTextLogLimit), so a window that repaints for hours
  // does not grow it without bound; filling the whole picture empties it.
  static constexpr size_t kTextLogLimit = 1024;
  const std::vector<DrawnText>& textLog() const { return textLog_; }
  void clearTextLog() { textLog_.clear(); }

 private:
  void fillPixels(PixelRect rect, Rgb colour);
  void logText(DrawnText entry);
  const QFont& textFont();

  int clientWidth_;
  int clientHeight_;
  QImage image_;
  std::vector<DrawnText> textLog_;
  std::optional<QFont> font_;
};
