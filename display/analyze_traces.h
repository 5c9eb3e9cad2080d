#pragma once
#include "display/plot_surface.h"
#include "engine/sonar_settings.h"

// Slider ranges of the analyze window.
constexpr int kAnalyzeMinZoom = 1, kAnalyzeMaxZoom = 8;
constexpr int kAnalyzeMinAmplification = 1, kAnalyzeMaxAmplification = 10;
// The start slider's last position: 241 bytes before the end of the recording, 0 for a
// recording shorter than that.
int analyzeStartMaximum(uint32_t inBufferBytes);
// Client area the trace layout was made for: grid to x = 480, labels to y = 488.
constexpr int kAnalyzeClientWidth = 480;
constexpr int kAnalyzeClientHeight = 488;

// The analyze window's picture: grid, start and end labels, and the traces of the played chirp,
// the recording and the correlation from `sliderStart` (bytes of the recording) on, `zoom`
// samples a pixel (clamped to 1..8), the recording amplified `amplification` times. Samples
// beyond the end of a buffer draw as silence.
void drawAnalyzeTraces(PlotSurface& surface, const SonarSettings& settings, int sliderStart,
                       int zoom, int amplification);
