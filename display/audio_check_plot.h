#pragma once
#include "display/plot_surface.h"
#include "engine/sonar_settings.h"

// The audio-system check's picture: a 460-pixel frame with a 10 x 10 dashed grid, the kHz axis
// labels, and one bar per 16-bit value of recordSamples from offsetBytes to the end of the sweep
// (outBufferBytes / 2), 1 pixel high per 100 units of amplitude.
void drawAudioCheckPlot(PlotSurface& surface, const SonarSettings& settings);
