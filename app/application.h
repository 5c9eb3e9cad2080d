#pragma once
#include <functional>
#include <string>

#include "app/command_id.h"
#include "app/program.h"
#include "app/shell.h"
#include "audio/measurement.h"
#include "display/plot_surface.h"

// The application logic behind the main window, free of any window: the front ends feed it
// events and it answers through the shell. The desktop program and the command line use the same
// functions.
// What a measurement on the worker carries back to the window's thread. It lives in the App, so
// a ping allocates nothing, and one measurement is in flight at a time.
struct MeasurementInFlight {
  uint32_t column = 0;  // the column it measures
  // The envelope drawn before it, put back when a timed ping fails.
  std::array<int32_t, kEnvelopeBins> previousEnvelope{};
  WaveError warmUp = kWaveOk;
  MeasurementResult result;
  // Why the recording of the pings stopped at this measurement (told once); empty otherwise.
  std::string recordingStopped;
  // The echo distances the worker found after it (the latest few pings combined).
  EchoDistances echoes{};
  EchoDistances echoLags{};  // the same as lags beyond the direct sound [samples]
  bool finished = false;
};

struct App {
  App(Program& p, Shell& s, PlotSurface& surf) : program(p), shell(s), surface(surf) {}

  Program& program;
  Shell& shell;
  PlotSurface& surface;
  // Set while a command, a timed ping or a key step runs. A step that waits (a check, the offset
  // search, a modal dialog) lets the front end process events; ticks, keys and commands that
  // arrive meanwhile are dropped, so nothing pings into buffers that are being re-planned.
  bool busy = false;
  // The surface shows a replotted history that no scan has drawn over yet: the repaint keeps it
  // as it is, neither starting a fresh frame nor drawing the current column over it.
  bool replotOnSurface = false;
  // Runs the device waits of a measurement (warm-ups, play and record, and the analysis of what
  // they recorded) away from the window's thread: `waits` on a worker, then `done` back on the
  // window's thread. Left empty, both run at once, in order (the command line, the tests of the
  // cycle).
  std::function<void(std::function<void()> waits, std::function<void()> done)> offThread;
  // A measurement is on the worker: until its `done` runs, the device pair, the back end and the
  // working buffers of the settings are the worker's, and the front end holds back every event
  // that would use them.
  bool measuring = false;
  MeasurementInFlight inFlight;
};

// Window creation: reset to defaults and open the device pair (a failure is reported under
// "WaveOut 1 Error init" and start-up goes on).
void startApplication(App& app);

// The keys that take a manual step, numbered as the usual key codes (Enter 13, the arrows 38
// and 40) so logs and tests read them at a glance; kNone stands for every other key.
enum class VirtualKey : int { kNone = 0, kEnter = 13, kUp = 38, kDown = 40 };

// A command identifier from the menu, the menu bar or the toolbar. Returns false for the
// identifiers that have no handler (they go to default processing and do nothing else).
bool dispatchCommand(App& app, CommandId command);

// Every 25 ms. Says whether the tick took a timed ping, so a front end can count columns.
// kPingStarted: the ping went to the front end's worker; its end comes later.
enum class TickOutcome { kNoPing, kPinged, kPingFailed, kPingStarted };
TickOutcome timerTick(App& app);
// Lets the ticks a running scan waits for before its next ping pass at once: for a front end
// whose ticks take no real time (the command line on the simulated room), which would otherwise
// spin through all of them (a multiplier of 4294967295 is 4294967296 ticks per column).
void skipIdleTicks(App& app);
void keyPressed(App& app, VirtualKey key);  // Enter, Up and Down step; others do nothing
void stylusMoved(App& app, int x, int y);   // client coordinates

// The repaint: a fresh frame when the sweep is at its start, then the current column and the
// status strip, into the plot surface. The front end then shows the surface.
void paintPlot(App& app);
