#include "display/echogram.h"

namespace {

constexpr uint32_t kReplotColumns = 358;
constexpr uint32_t kReplotRows = 419;

}  // namespace

// Columns 358 and 359 and rows 419 to 439 of the history are stored but never shown. The gain
// applies only while it is switched on, as for the live columns: the scale dialog leaves a table
// of zeros behind whenever its gain is 0, and applied regardless that table blacked out every
// stored sweep at the next replot.
void replotHistory(PlotSurface& surface, const SonarSettings& settings,
                   const ScanHistory& history) {
  if (settings.displayMode != 0) return;
  const size_t stored = history.values.size();
  for (uint32_t c = 0; c < kReplotColumns; ++c) {
    for (uint32_t r = 0; r < kReplotRows; ++r) {
      const size_t at = size_t{c} * kHistoryRows + r;
      const int32_t raw = at < stored ? history.values[at] : 0;
      const double v = settings.gainEnabled != 0 ? raw * settings.gainTable[r] : raw;
      surface.setPixel(static_cast<int>(c) + kPlotLeft, static_cast<int>(r) + kPlotTop,
                       historyPalette(v, settings.cutOff));
    }
  }
}
