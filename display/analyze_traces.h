#pragma once
#include "display/plot_surface.h"
#include "engine/sonar_settings.h"

// Slider ranges of the analyze window.
constexpr int kAnalyzeMinZoom = 1, kAnalyzeMaxZoom = 8;
constexpr int kAnalyzeMinAmplification = 1, kAnalyzeMaxAmplification = 10;

// The analyze window's picture: grid, start and end labels, and the traces of the played chirp,
// the recording and the correlation from `sliderStart` (bytes of the recording) on, `zoom`
// samples a pixel (clamped to 1..8), the recording amplified `amplification` times. Samples
// beyond the end of a buffer draw as silence.
void drawAnalyzeTraces(PlotSurface& surface, const SonarSettings& settings, int sliderStart,
                       int zoom, int amplification);
