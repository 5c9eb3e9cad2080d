#include <string>

#include "app/scan_cycle.h"
#include "audio/measurement.h"
#include "cli/settings_fields.h"
#include "dialogs/device_steps.h"
#include "dialogs/offset_logic.h"
#include "dialogs/out_signal_logic.h"
#include "dialogs/scale_logic.h"
#include "dialogs/wave_format_logic.h"
#include "engine/buffer_plan.h"
#include "fuzz/drivers.h"
#include "fuzz/fuzz_support.h"

namespace {

// Every field at any value its type holds, as a file or a script may leave it; the wave format's
// derived fields are recomputed, as every editor of the format does.
void setEveryField(SonarSettings& s, InputReader& in) {
  s.startFrequency = in.u32();
  s.endFrequency = in.u32();
  s.chirpTime = in.u32();
  s.recordTime = in.u32();
  s.offsetBytes = in.u32();
  s.deltaOffsetBytes = in.u32();
  s.clockMultiplier = in.u32();
  s.tuneScale = in.u32();
  s.cutOff = static_cast<int32_t>(in.u32());
  s.amplification = static_cast<int32_t>(in.u32());
  s.gain = static_cast<int32_t>(in.u32());
  s.gainEnabled = in.byte();
  s.medium = static_cast<int8_t>(in.byte());
  s.chirpShape = in.byte();
  s.displayMode = in.byte();
  s.waveFormat.channels = in.u16();
  s.waveFormat.bitsPerSample = in.u16();
  s.waveFormat.samplesPerSec = in.u32();
  recomputeDerivedFormat(s.waveFormat);
  // A file brings the gain without a new ramp; the dialog and --set rebuild it.
  if (in.flag()) rebuildGainTable(s);
}

// `--set FIELD=VALUE` with values in and out of each field's range; rejected ones change nothing.
void setThroughScript(SonarSettings& s, InputReader& in) {
  const auto& names = settingsFieldNames();
  const uint8_t count = in.byte() % 24;
  for (uint8_t i = 0; i < count; ++i) {
    const std::string_view name = names[in.byte() % names.size()];
    const auto value = static_cast<int64_t>(uint64_t{in.u32()} | (uint64_t{in.u32()} << 32));
    // Mostly values near the 32-bit range, now and then anything a 64-bit number holds.
    const int64_t shown = in.flag() ? value : static_cast<int32_t>(value);
    setSettingsField(s, std::string(name) + "=" + std::to_string(shown));
  }
}

// The settings dialogs' Done/OK with whatever the fields and boxes say; each plans and pings.
void commitThroughDialogs(Program& p, Shell& shell, InputReader& in) {
  const uint8_t which = in.byte();
  if (which & 1) {
    OutSignalControls c;
    for (bool& b : c.mediumChecked) b = in.flag();
    c.chirpBothChecked = in.flag();
    c.chirpRisingChecked = in.flag();
    c.startFrequency = in.u32();
    c.endFrequency = in.u32();
    c.recordTime = in.u32();
    c.chirpTime = in.u32();
    commitOutSignal(p, shell, c);
  }
  if (which & 2) {
    WaveFormatControls c;
    c.stereoChecked = in.flag();
    c.sixteenBitChecked = in.flag();
    for (bool& b : c.rateChecked) b = in.flag();
    commitWaveFormat(p, shell, c);
  }
  if (which & 4) commitOffset(p, shell, OffsetControls{in.u32(), in.u32(), in.u32()});
  if (which & 8) {
    ScaleControls c{in.u32(), in.u32(), in.u32(), in.u32(), in.flag()};
    commitScale(p.settings, c);
  }
}

// No new plan, the command line's plan (devices only when it holds), or the dialogs' re-plan
// with the defaults when it fails.
void planOrNot(Program& p, Shell& shell, uint8_t choice) {
  if (choice % 3 == 1) {
    if (planBuffers(p.settings)) openPairForPlan(p.settings, p.pair, *p.backend);
  } else if (choice % 3 == 2) {
    replanOrReset(p, shell);
    openPlannedPair(p);
  }
}

void measure(FuzzApp& f) {
  App& app = f.app;
  dispatchCommand(app, CommandId::kStartSonar);
  timedPing(app);
  paintPlot(app);
  keyPressed(app, VirtualKey::kEnter);
  paintPlot(app);
  dispatchCommand(app, CommandId::kInfo);
  drawAnalyzeAtExtremes(app.program.settings);
}

}  // namespace

void runSettingsInput(std::span<const uint8_t> bytes) {
  InputReader in(bytes);
  FuzzApp f;
  Program& p = f.program;
  const uint8_t routes = in.byte();
  if (routes & 1) setEveryField(p.settings, in);
  if (routes & 2) setThroughScript(p.settings, in);
  if (routes & 4) commitThroughDialogs(p, f.shell, in);
  planOrNot(p, f.shell, in.byte());
  measure(f);
}
