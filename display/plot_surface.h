#pragma once
#include <QImage>
#include <cstdint>
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

// One line of text as drawn, kept so tests can check strings and their rectangles.
struct DrawnText {
  PixelRect rect;
  std::string text;
  TextAlign align = TextAlign::kLeft;
};

// The persistent off-screen picture of a window: one pixel wider and higher than the client
// area, black at creation. Every write is clipped to the image.
class PlotSurface {
 public:
  PlotSurface(int clientWidth, int clientHeight);

  int clientWidth() const { return clientWidth_; }
  int clientHeight() const { return clientHeight_; }

  void fillRect(PixelRect rect, Rgb colour);
  void setPixel(int x, int y, Rgb colour);
  Rgb pixel(int x, int y) const;  // black outside the image
  void drawLine(PixelPoint from, PixelPoint to, Rgb colour, int width = 1);
  // One line of text in RGB(250, 250, 50) on black, vertically centred in the rectangle.
  void drawText(PixelRect rect, std::string_view text, TextAlign align = TextAlign::kLeft,
                TextClip clip = TextClip::kClipped);

  const QImage& image() const { return image_; }
  bool savePng(const std::string& path) const;  // via a temporary file: all or nothing

  const std::vector<DrawnText>& textLog() const { return textLog_; }
  void clearTextLog() { textLog_.clear(); }

 private:
  int clientWidth_;
  int clientHeight_;
  QImage image_;
  std::vector<DrawnText> textLog_;
};
