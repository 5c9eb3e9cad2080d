#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <QGuiApplication>
#include <filesystem>
#include <fstream>

#include "audio/sim_backend.h"
#include "display/analyze_traces.h"
#include "display/echogram.h"
#include "fuzz/drivers.h"

void ensureFuzzGui() {
  if (QGuiApplication::instance() != nullptr) return;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "mervane-fuzz";
  static char* argv[] = {name, nullptr};
  static QGuiApplication gui(argc, argv);
}

FuzzApp::FuzzApp()
    : surface(std::make_unique<PlotSurface>(kPlotClientWidth, kPlotClientHeight)),
      app{program, shell, *surface} {
  SimRoom room = defaultSimRoom();
  room.speedMps = speedOfSound(kAir);
  program.backend = std::make_unique<SimBackend>(room, SimPacing::kVirtual);
  startApplication(app);
}

FuzzApp::~FuzzApp() {
  closePair(*program.backend, program.pair);
}

ScratchFile::ScratchFile(std::string_view suffix, std::span<const uint8_t> bytes) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  path_ = (dir / ("mervane-fuzz-" + std::to_string(getpid()) + std::string(suffix))).string();
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

ScratchFile::~ScratchFile() {
  std::error_code ignored;
  std::filesystem::remove(path_, ignored);
}

void drawAnalyzeAtExtremes(const SonarSettings& settings) {
  PlotSurface window(kAnalyzeClientWidth, kAnalyzeClientHeight);
  const int lastStart = analyzeStartMaximum(settings.inBufferBytes);
  for (int start : {0, lastStart}) {
    drawAnalyzeTraces(window, settings, start, kAnalyzeMinZoom, kAnalyzeMinAmplification);
    drawAnalyzeTraces(window, settings, start, kAnalyzeMaxZoom, kAnalyzeMaxAmplification);
  }
}
