// mervane-bench's entry point. The display benchmarks draw text, which needs a QGuiApplication,
// and the window benchmarks a whole QApplication; the offscreen platform needs no display.
#include <benchmark/benchmark.h>

#ifdef MERVANE_BENCH_WINDOW
#include <QApplication>
#include <QStandardPaths>
#elif defined(MERVANE_BENCH_DISPLAY)
#include <QGuiApplication>
#endif
#ifdef MERVANE_BENCH_DISPLAY
#include "io/runtime_folder.h"
#endif

int main(int argc, char** argv) {
#ifdef MERVANE_BENCH_DISPLAY
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  provideRuntimeFolder();
#endif
#ifdef MERVANE_BENCH_WINDOW
  // The windows the benchmarks open leave the user's own settings alone.
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("MervaneBench"));
#elif defined(MERVANE_BENCH_DISPLAY)
  QGuiApplication app(argc, argv);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
