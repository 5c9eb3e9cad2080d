#pragma once
#include <span>
#include "display/plot_surface.h"

#include "engine/change_view.h"
#include "engine/scan_state.h"
#include "engine/sonar_settings.h"

// The main picture: a fresh frame with colour key and distance scale, one column per scan with
// the status strip under the plot, and the replot of a stored history.
void drawEchogramFrame(PlotSurface& surface, const SonarSettings& settings);
void drawScanColumn(PlotSurface& surface, const SonarSettings& settings, const ScanState& scan,
                    StylusPosition stylus);
// The status strip of drawScanColumn alone (caption, offset bar, level meter, stylus reading),
// over whatever the plot box shows; it reads no working buffer.
void drawStatusStrip(PlotSurface& surface, const SonarSettings& settings, const ScanState& scan,
                     StylusPosition stylus);
// The same with the bin values to draw given: the change view's instead of the latest envelope.
void drawScanColumn(PlotSurface& surface, const SonarSettings& settings, const ScanState& scan,
                    StylusPosition stylus, std::span<const int32_t> column);
// Draws the stored columns into the surface only; the caller shows the surface afterwards.
void replotHistory(PlotSurface& surface, const SonarSettings& settings, const ScanHistory& history);
// The stored columns as the change view shows them, one column every `columnSeconds`.
void replotChanges(PlotSurface& surface, const SonarSettings& settings, const ScanHistory& history,
                   ChangeView& view, double columnSeconds);

// Where the status strip shows the distance of the stylus row.
constexpr PixelRect kStylusReadingRect{410, 480, 490, 510};

// The distance [m] the status strip shows for the stylus row (its own scale, 1/980 of the echo
// time's travel per row, apart from the frame's).
double stylusReadingMetres(const SonarSettings& settings, StylusPosition stylus);

Rgb linearPalette(int32_t level);
// Colour of a gained history value v against the cut-off c.
Rgb historyPalette(double v, int32_t cutOff);
// Colour of a bin value (after the cut-off) in angular mode: weak echoes red, strong ones blue,
// values below zero wrapping through the low eight bits.
Rgb angularPalette(double value);
// Colour of key stripe k (1 = top, the strongest, to 12 = bottom, the weakest).
Rgb historyKeyColour(int stripe);

// Size of the main window's client area that the layout was made for; the CLI renders this.
constexpr int kPlotClientWidth = 490;
constexpr int kPlotClientHeight = 511;

// Layout of the plot box: scan column c is drawn at x = c + kPlotLeft, bin i at y = i + kPlotTop.
constexpr int kPlotLeft = 9;
constexpr int kPlotTop = 30;
