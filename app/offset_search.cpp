#include "app/offset_search.h"

#include <cstdio>
#include <numeric>
#include <optional>

#include "app/app_steps.h"
#include "audio/measurement.h"
#include "engine/buffer_plan.h"

namespace {

constexpr std::string_view kCaption = "Search offset";

// The texts print their numbers as signed 32-bit values, like the rest of the program's reports.
std::string formatted(const char* format, uint32_t a) {
  char text[160];
  std::snprintf(text, sizeof text, format, static_cast<int32_t>(a));
  return text;
}

std::string formatted(const char* format, uint32_t a, uint32_t b) {
  char text[160];
  std::snprintf(text, sizeof text, format, static_cast<int32_t>(a), static_cast<int32_t>(b));
  return text;
}

void showProgressOfRun(App& app, uint32_t run) {
  char text[64];
  std::snprintf(text, sizeof text, "Search offset: run %u of %u", run, kOffsetSearchRuns);
  app.shell.showProgress(text);
}

}  // namespace

uint32_t averageOffsetRuns(const OffsetRuns& foundOffsets) {
  const uint32_t sum = std::accumulate(foundOffsets.begin() + 1, foundOffsets.end(), uint32_t{0});
  return sum / (kOffsetSearchRuns - 1);
}

OffsetSearchOutcome judgeOffsetSearch(uint32_t result, uint32_t peakAmplitude) {
  OffsetSearchOutcome o;
  o.result = result;
  o.peakAmplitude = peakAmplitude;
  o.strong = peakAmplitude >= kStrongAmplitude;
  if (o.strong) {
    o.storedOffset = result - result / 10;
    o.message =
        formatted("The found offset is: %d bytes with amplitude of %d", result, peakAmplitude);
    // The offset set is a tenth lower, so the correlation starts ahead of the direct sound; the
    // message says so, or Info and the offset dialog would seem to disagree with it.
    if (o.storedOffset != result) {
      o.message += formatted("\r\nThe offset is set a tenth lower, to %d bytes.", o.storedOffset);
    }
  } else {
    o.storedOffset = result;
    o.message = formatted(
        "The sound amplitude %d to weak!!! Check your sound system, volume and connections.",
        peakAmplitude);
  }
  return o;
}

namespace {

// Everything the search replaces, from the reset on: a search that fails gives it all back, so
// no offset is left paired with a format or record time it was not found with.
struct BeforeSearch {
  SonarSettings settings;
  ScanState scan;
};

void restoreAfterFailure(App& app, BeforeSearch& before) {
  Program& p = app.program;
  p.settings = std::move(before.settings);
  p.scan = before.scan;
  p.scan.scanState = kIdle;
  // The devices were prepared over the search's buffers, which went with its settings. The
  // failure was told already; a device still gone is told at the next ping.
  openPairForPlan(p.settings, p.pair, *p.backend);
}

}  // namespace

std::optional<uint32_t> searchOffset(App& app) {
  Program& p = app.program;
  BeforeSearch before{p.settings, p.scan};
  // The first device failure ends the search: the runs after it would only wait on a device
  // that is gone and average what it never recorded. The user keeps the settings they had.
  const auto failed = [&](WaveError code) {
    if (code == kWaveOk) return false;
    reportWaveError(app, code, kCaptionWaveOut);
    restoreAfterFailure(app, before);
    return true;
  };
  if (!resetAndReport(app)) {
    restoreAfterFailure(app, before);
    return std::nullopt;
  }
  SonarSettings& s = p.settings;
  s.recordTime = kOffsetSearchRecordTimeMs;
  s.chirpTime = kOffsetSearchChirpTimeUs;
  s.offsetBytes = kOffsetSearchStartOffsetBytes;
  planBuffers(s);
  if (failed(openPairForPlan(s, p.pair, *p.backend))) return std::nullopt;
  app.shell.showProgress("Search offset: warming up the microphone");
  for (uint32_t i = 0; i < kWarmUpsBeforeRun; ++i) {
    if (failed(flushInput(*p.backend, p.pair, s.waveFormat))) return std::nullopt;
  }
  OffsetRuns found{};
  for (uint32_t k = 0; k < kOffsetSearchRuns; ++k) {
    showProgressOfRun(app, k + 1);
    const MeasurementResult r = runMeasurement(s, p.pair, *p.backend, MeasureCaller::kOffsetSearch);
    if (failed(r.warmUp) || failed(r.ping)) return std::nullopt;
    p.scan.peakAmplitude = r.peakAmplitude;
    found[k] = r.arrival.offset;
  }
  const uint32_t average = averageOffsetRuns(found);
  s.deltaOffsetBytes = kOffsetSearchDeltaOffsetBytes;
  s.offsetBytes = average;
  // The found offset stands where the reset put the default one, so the plot's caption and Info
  // show what the search found beside the offset it set.
  for (uint32_t k = 0; k <= 2; ++k) p.scan.scanOffsets.forScan(k) = average;
  return average;
}

OffsetSearchOutcome searchOffsetCommand(App& app) {
  app.shell.showMessage(
      "The device will try to find the offset. Set the sound volume to max. The test will be "
      "performed 10 times. Be patient. ",
      kCaption, MessageIcon::kNone, MessageOwner::kMainWindow);
  const std::optional<uint32_t> result = searchOffset(app);
  if (!result) {
    OffsetSearchOutcome failed;
    failed.deviceFailed = true;
    failed.peakAmplitude = app.program.scan.peakAmplitude;
    failed.storedOffset = app.program.settings.offsetBytes;
    return failed;
  }
  OffsetSearchOutcome outcome = judgeOffsetSearch(*result, app.program.scan.peakAmplitude);
  app.shell.showMessage(outcome.message, kCaption, MessageIcon::kNone, MessageOwner::kMainWindow);
  app.program.settings.offsetBytes = outcome.storedOffset;
  // Weak or strong, the caption under the plot shows the offset just found.
  app.shell.requestRepaint();
  return outcome;
}
