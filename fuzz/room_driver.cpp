#include <algorithm>
#include <string>
#include <string_view>

#include "audio/measurement.h"
#include "audio/sim_backend.h"
#include "engine/buffer_plan.h"
#include "fuzz/drivers.h"

namespace {

// Long enough for any key list a person would type; longer inputs only repeat keys.
constexpr size_t kMostRoomBytes = 512;

}  // namespace

void runRoomInput(std::span<const uint8_t> bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()),
                              std::min(bytes.size(), kMostRoomBytes));
  SimRoom room;
  if (!parseSimRoom(text, room).empty()) return;
  // A room that parses must also sound: one measurement at the default plan, as a ping of the
  // command line takes it.
  if (!room.speedMps) room.speedMps = speedOfSound(kAir);
  SimBackend backend(room);
  SonarSettings settings;
  ScanState scan;
  WavePair pair;
  applyResetValues(settings, scan);
  planBuffers(settings);
  if (openPairForPlan(settings, pair, backend) == kWaveOk) {
    runMeasurement(settings, pair, backend, MeasureCaller::kTimedPing);
  }
  closePair(backend, pair);
}
