#include <algorithm>

#include "display/echogram.h"

namespace {

constexpr uint32_t kReplotColumns = 358;
constexpr uint32_t kReplotRows = 419;

}  // namespace

// Columns 358 and 359 and rows 419 to 439 of the history are stored but never shown. The gain
// applies only while it is switched on, as for the live columns: the scale dialog leaves a table
// of zeros behind whenever its gain is 0, and applied regardless that table blacked out every
// stored sweep at the next replot.
namespace {

void replotColumn(PlotSurface& surface, const SonarSettings& settings, uint32_t c,
                  std::span<const int32_t> column) {
  for (uint32_t r = 0; r < kReplotRows; ++r) {
    const int32_t raw = r < column.size() ? column[r] : 0;
    const double v = settings.gainEnabled != 0 ? raw * settings.gainTable[r] : raw;
    surface.setPixel(static_cast<int>(c) + kPlotLeft, static_cast<int>(r) + kPlotTop,
                     historyPalette(v, settings.cutOff));
  }
}

std::span<const int32_t> storedColumn(const ScanHistory& history, uint32_t c) {
  const size_t from = std::min(history.values.size(), size_t{c} * kHistoryRows);
  const size_t count = std::min<size_t>(kHistoryRows, history.values.size() - from);
  return std::span<const int32_t>(history.values).subspan(from, count);
}

}  // namespace

void replotHistory(PlotSurface& surface, const SonarSettings& settings,
                   const ScanHistory& history) {
  if (settings.displayMode != 0) return;
  for (uint32_t c = 0; c < kReplotColumns; ++c) {
    replotColumn(surface, settings, c, storedColumn(history, c));
  }
}

// Column 0 carries the settings in its first rows, not echoes: the still room starts at column 1.
void replotChanges(PlotSurface& surface, const SonarSettings& settings, const ScanHistory& history,
                   ChangeView& view, double columnSeconds) {
  if (settings.displayMode != 0) return;
  restartChangeView(view);
  replotColumn(surface, settings, 0, storedColumn(history, 0));
  for (uint32_t c = 1; c < kReplotColumns; ++c) {
    const std::span<const int32_t> column = storedColumn(history, c);
    observeChangeColumn(view, column.first(std::min<size_t>(column.size(), kEnvelopeBins)),
                        c * columnSeconds);
    replotColumn(surface, settings, c, view.column);
  }
}
