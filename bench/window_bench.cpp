// How long the window's thread is kept from its events while the real main window sweeps: a
// probe timer every few milliseconds on that thread notes how late each of its events comes, over
// 100 timed pings (a ping on every tick, the heaviest load the scan cycle gives), on the simulated
// room paced in real time and on the PulseAudio test server (scripts/pulse-test-server.sh).
// Each repetition reports its longest delay as its time: the median and the worst of them are
// the rows to read (the aim: at most 50 ms).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "gui/audio_choice.h"
#include "gui/main_window.h"

namespace {

constexpr int kPings = 100;
constexpr int kProbeIntervalMs = 5;
// A ping that takes longer than this has stalled; the run is reported as failed, not timed.
constexpr int kLongestPingMs = 5000;

// Notes the lateness of every timeout of a fixed-interval timer on the calling thread.
class DelayProbe {
 public:
  DelayProbe() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kProbeIntervalMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    clock_.start();
    lastNs_ = clock_.nsecsElapsed();
    timer_.start();
  }
  double longestDelayMs() const { return static_cast<double>(longestNs_) / 1e6; }
  double meanDelayMs() const {
    return ticks_ == 0 ? 0.0 : static_cast<double>(totalNs_) / 1e6 / static_cast<double>(ticks_);
  }

 private:
  void tick() {
    const qint64 now = clock_.nsecsElapsed();
    const qint64 late = std::max<qint64>(0, now - lastNs_ - qint64{kProbeIntervalMs} * 1000000);
    lastNs_ = now;
    longestNs_ = std::max(longestNs_, late);
    totalNs_ += late;
    ++ticks_;
  }

  QTimer timer_;
  QElapsedTimer clock_;
  qint64 lastNs_ = 0;
  qint64 longestNs_ = 0;
  qint64 totalNs_ = 0;
  int64_t ticks_ = 0;
};

struct SweepDelays {
  std::string failure;  // empty when all pings were stored
  double longestMs = 0;
  double meanMs = 0;
  double pingsPerSecond = 0;
};

// One sweep of kPings timed pings in a shown main window, probed all along.
SweepDelays sweepOnce(AudioKind kind) {
  AudioSetup setup;
  setup.kind = kind;
  AudioChoice choice;
  if (const std::string reason = makeAudio(setup, choice); !reason.empty()) return {reason};
  MainWindow window(std::move(choice.backend), choice.kind);
  window.program().settings.clockMultiplier = 0;
  window.show();
  window.startScanTimer();
  window.runCommand(CommandId::kStartSonar);
  // Start's warm-ups run on the worker too; the run begins once they are done.
  while (window.app().measuring) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (window.program().scan.scanState != kRunning) return {"Start did not start the run"};
  QElapsedTimer wall;
  wall.start();
  const uint32_t first = window.program().scan.scanColumn;
  DelayProbe probe;
  SweepDelays delays;
  const ScanState& scan = window.program().scan;
  // The loop waits as the program's own does (no polling that would take a core from the
  // worker); a slow check ends it once the pings are in or the run has stopped.
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (scan.scanColumn >= first + kPings) {
      loop.quit();
    } else if (scan.scanState != kRunning) {
      delays.failure = "the sweep stopped at column " + std::to_string(scan.scanColumn);
      loop.quit();
    } else if (wall.elapsed() > qint64{kLongestPingMs} * kPings) {
      delays.failure = "the pings stalled";
      loop.quit();
    }
  });
  check.start(20);
  loop.exec();
  check.stop();
  delays.longestMs = probe.longestDelayMs();
  delays.meanMs = probe.meanDelayMs();
  delays.pingsPerSecond = 1000.0 * (scan.scanColumn - first) / static_cast<double>(wall.elapsed());
  window.scanTimer().stop();
  // Whatever a ping in flight still does ends before the window goes.
  while (window.app().measuring) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  window.program().sweepUnsaved = false;
  window.hide();
  return delays;
}

bool pulseServerReady() {
  return qEnvironmentVariable("MERVANE_PULSE_READY") == QLatin1String("1");
}

void windowThread(benchmark::State& state, AudioKind kind) {
  if (kind == AudioKind::kSoundCard && !pulseServerReady()) {
    state.SkipWithError(
        "skipped: no PulseAudio test server (source scripts/pulse-test-server.sh and call "
        "mervane_pulse_start first)");
    return;
  }
  for (auto _ : state) {
    const SweepDelays d = sweepOnce(kind);
    if (!d.failure.empty()) {
      state.SkipWithError(d.failure.c_str());
      return;
    }
    state.SetIterationTime(d.longestMs / 1000.0);
    state.counters["meanDelayMs"] = d.meanMs;
    state.counters["pingsPerSecond"] = d.pingsPerSecond;
  }
}

// The same probe for as long, with no window at all: what the machine itself (other processes,
// the scheduler, a virtual machine's host) adds to every row above.
void probeAlone(benchmark::State& state) {
  constexpr int kSpanMs = 15000;  // about as long as 100 pings on the simulated room
  for (auto _ : state) {
    DelayProbe probe;
    QEventLoop loop;
    QTimer::singleShot(kSpanMs, &loop, &QEventLoop::quit);
    loop.exec();
    state.SetIterationTime(probe.longestDelayMs() / 1000.0);
    state.counters["meanDelayMs"] = probe.meanDelayMs();
  }
}

double worst(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

const bool registered = [] {
  for (const auto& [name, kind] :
       {std::pair{"windowThread/simulatedRoom", AudioKind::kSimulatedRoom},
        std::pair{"windowThread/pulseAudio", AudioKind::kSoundCard}}) {
    benchmark::RegisterBenchmark(name, windowThread, kind)
        ->UseManualTime()
        ->Iterations(1)
        // Once is enough to say that a run was skipped.
        ->Repetitions(kind == AudioKind::kSoundCard && !pulseServerReady() ? 1 : 5)
        ->ComputeStatistics("worst", worst)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("windowThread/probeAlone", probeAlone)
      ->UseManualTime()
      ->Iterations(1)
      ->Repetitions(5)
      ->ComputeStatistics("worst", worst)
      ->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
