#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "app/application.h"
#include "audio/fault_backend.h"
#include "audio/sim_backend.h"
#include "display/echogram.h"
#include "tests/app/fake_shell.h"

// Names the cases of a parameter table by their `name` field.
struct CaseName {
  template <typename P>
  std::string operator()(const ::testing::TestParamInfo<P>& p) const {
    return p.param.name;
  }
};

// The default simulated room, its sound travelling at the speed of air.
inline std::unique_ptr<SimBackend> makeRoom(SimRoom room = defaultSimRoom()) {
  if (!room.speedMps) room.speedMps = speedOfSound(kAir);
  return std::make_unique<SimBackend>(room);
}

// A started application on the simulated room, with a fake shell and the desktop's surface.
// Tests that inject faults call useFaults() before start().
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program.backend = makeRoom();
    startApplication(app);
    shell.messages.clear();
    shell.repaints = 0;
  }

  // Replaces the back end by a fault injector around the room and starts the application again.
  FaultBackend& useFaults() {
    auto fault = std::make_unique<FaultBackend>(makeRoom());
    FaultBackend& f = *fault;
    closePair(*program.backend, program.pair);
    program.backend = std::move(fault);
    startApplication(app);
    shell.messages.clear();
    shell.repaints = 0;
    return f;
  }

  // Pings never held back: every manual step advances its column.
  void neverHoldBack() { program.settings.deltaOffsetBytes = 1000000; }

  void tick(int times) {
    for (int i = 0; i < times; ++i) timerTick(app);
  }

  ScanState& scan() { return program.scan; }

  Program program;
  FakeShell shell;
  PlotSurface surface{kPlotClientWidth, kPlotClientHeight};
  App app{program, shell, surface};
};
