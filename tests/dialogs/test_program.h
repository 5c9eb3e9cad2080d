#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "app/program.h"
#include "audio/fault_backend.h"
#include "audio/measurement.h"
#include "audio/sim_backend.h"
#include "tests/app/fake_shell.h"

// A program at its defaults on the simulated room, with a shell that records its messages.
inline std::unique_ptr<AudioBackend> makeSimBackend() {
  SimRoom room = defaultSimRoom();
  room.speedMps = speedOfSound(kAir);
  return std::make_unique<SimBackend>(room);
}

class ProgramTest : public testing::Test {
 protected:
  explicit ProgramTest(std::unique_ptr<AudioBackend> backend = makeSimBackend()) {
    program.backend = std::move(backend);
    EXPECT_EQ(resetToDefaults(program.settings, program.scan, program.pair, *program.backend),
              kWaveOk);
  }

  SonarSettings& settings() { return program.settings; }

  Program program;
  FakeShell shell;
};

// The same on a back end that fails chosen calls.
class FaultProgramTest : public ProgramTest {
 protected:
  FaultProgramTest() : ProgramTest(std::make_unique<FaultBackend>(makeSimBackend())) {}

  FaultBackend& faults() { return static_cast<FaultBackend&>(*program.backend); }
  // The next call of `call` fails with `code`.
  void failNext(BackendCall call, WaveError code) {
    faults().failCall(call, faults().callCount(call) + 1, code);
  }
};
