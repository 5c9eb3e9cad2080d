#pragma once
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <utility>

#include "display/plot_surface.h"
#include "engine/sonar_settings.h"

inline void PrintTo(const Rgb& c, std::ostream* os) {
  *os << "RGB(" << int{c.r} << ", " << int{c.g} << ", " << int{c.b} << ")";
}
inline void PrintTo(const PixelRect& r, std::ostream* os) {
  *os << "(" << r.left << ", " << r.top << ")-(" << r.right << ", " << r.bottom << ")";
}

namespace displaytest {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

// Defaults with the buffers the drawing reads at a small size, all silent.
inline SonarSettings defaultSettings() {
  SonarSettings s;
  applyDefaultSettings(s);
  s.correlationBuffer.assign(439, 0);
  return s;
}

// Names table cases after their `name` field.
struct CaseName {
  template <typename Case>
  std::string operator()(const testing::TestParamInfo<Case>& info) const {
    return info.param.name;
  }
};

using PixelSet = std::set<std::pair<int, int>>;

// Every pixel of the colour in the rectangle.
inline PixelSet pixelsOf(const PlotSurface& surface, Rgb colour, PixelRect area) {
  PixelSet found;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      if (surface.pixel(x, y) == colour) found.insert({x, y});
    }
  }
  return found;
}

inline PixelRect wholeImage(const PlotSurface& surface) {
  return {0, 0, surface.image().width(), surface.image().height()};
}

}  // namespace displaytest
