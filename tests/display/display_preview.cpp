// Renders sample pictures from synthetic data for a look by eye:
//   display_preview [OUT_DIR]   (default /tmp)
// writes echogram-synthetic.png (live columns), echogram-replot.png, analyze-synthetic.png and
// audio-check-synthetic.png.
#include <QGuiApplication>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "display/analyze_traces.h"
#include "display/audio_check_plot.h"
#include "display/echogram.h"
#include "engine/buffer_plan.h"

namespace {

constexpr int kSweepColumns = 200;

// Echo strength of bin i in column c: the blast of the direct sound, a fixed wall at bin 80, a
// target drifting from bin 180 to 240, and noise.
int32_t syntheticBin(int c, int i, std::minstd_rand& noise) {
  const auto band = [i](double centre, double width, double peak) {
    const double d = (i - centre) / width;
    return peak * std::exp(-d * d);
  };
  double v = 250.0 * std::exp(-i / 6.0);
  v += band(80, 3, 230);
  v += band(180 + 60.0 * c / kSweepColumns, 5, 130);
  v += std::uniform_real_distribution<double>(0, 30)(noise);
  return static_cast<int32_t>(v);
}

bool save(const PlotSurface& surface, const std::string& path) {
  const bool ok = surface.savePng(path).empty();
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
  return ok;
}

bool renderLive(const std::string& dir, SonarSettings s) {
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  ScanState scan;
  std::minstd_rand noise(1);
  s.correlationBuffer.assign(439, 0);
  drawEchogramFrame(surface, s);
  for (int c = 1; c <= kSweepColumns; ++c) {
    for (int i = 0; i < 439; ++i) s.correlationBuffer[i] = syntheticBin(c, i, noise);
    scan.scanColumn = static_cast<uint32_t>(c);
    scan.latestScan = static_cast<uint32_t>(c);
    scan.scanOffsets.forScan(scan.latestScan) = 600 + static_cast<uint32_t>(c * 12);
    scan.peakAmplitude = 95000000;
    drawScanColumn(surface, s, scan, {200, 110});
  }
  return save(surface, dir + "/echogram-synthetic.png");
}

bool renderReplot(const std::string& dir, const SonarSettings& s) {
  PlotSurface surface(kPlotClientWidth, kPlotClientHeight);
  ScanHistory history;
  std::minstd_rand noise(2);
  for (int c = 0; c < 358; ++c) {
    for (int r = 0; r < 419; ++r) history.at(c, r) = syntheticBin(c, r, noise);
  }
  drawEchogramFrame(surface, s);
  replotHistory(surface, s, history);
  return save(surface, dir + "/echogram-replot.png");
}

bool renderAnalyze(const std::string& dir, SonarSettings s) {
  std::minstd_rand noise(3);
  std::normal_distribution<double> hiss(0, 300);
  for (size_t k = 0; k < s.recordSamples.size(); ++k) {
    const double t = static_cast<double>(k);
    const double chirp = k > 300 && k < 476 ? 9000 * std::sin(t * t * 0.0005) : 0.0;
    s.recordSamples[k] = static_cast<int16_t>(chirp + hiss(noise));
    s.correlationBuffer[k] = static_cast<int32_t>(300 * std::exp(-std::abs(t - 320) / 40.0));
  }
  PlotSurface surface(480, 530);
  drawAnalyzeTraces(surface, s, 400, 1, 1);
  return save(surface, dir + "/analyze-synthetic.png");
}

bool renderAudioCheck(const std::string& dir, SonarSettings s) {
  s.recordTime = 900;
  s.chirpTime = 900000;
  if (!planBuffers(s)) return false;
  const uint32_t values = s.outBufferBytes / 2;
  std::minstd_rand noise(4);
  std::normal_distribution<double> hiss(0, 400);
  for (uint32_t i = s.offsetBytes; i < values && i < s.recordSamples.size(); ++i) {
    // A speaker that passes the middle of the band best.
    const double x = static_cast<double>(i) / values;
    const double response = 20000 * std::exp(-std::pow((x - 0.4) / 0.25, 2));
    s.recordSamples[i] = static_cast<int16_t>(response * std::sin(i * 0.3) + hiss(noise));
  }
  PlotSurface surface(480, 530);
  drawAudioCheckPlot(surface, s);
  return save(surface, dir + "/audio-check-synthetic.png");
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const std::string dir = argc > 1 ? argv[1] : "/tmp";
  SonarSettings s;
  applyDefaultSettings(s);
  if (!planBuffers(s)) return 1;
  const bool ok = renderLive(dir, s) && renderReplot(dir, s) && renderAnalyze(dir, s) &&
                  renderAudioCheck(dir, s);
  return ok ? 0 : 1;
}
