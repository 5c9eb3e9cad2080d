// mervane-bench's entry point. The display benchmarks draw text, which needs a QGuiApplication;
// the offscreen platform needs no display.
#include <benchmark/benchmark.h>

#ifdef MERVANE_BENCH_DISPLAY
#include <QGuiApplication>

#include "io/runtime_folder.h"
#endif

int main(int argc, char** argv) {
#ifdef MERVANE_BENCH_DISPLAY
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  provideRuntimeFolder();
  QGuiApplication app(argc, argv);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
