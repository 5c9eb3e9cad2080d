// Range accuracy in realistic rooms: image-source shoeboxes with a diffuse tail, loudspeakers that
// colour the chirp, microphones apart from the loudspeaker and from each other, noise; through the
// measurement sequence and the program's echo tracker, as the Ruler reads it after four pings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/sim_shoebox.h"
#include "audio_test_support.h"
#include "engine/chirp.h"
#include "engine/echo_tracker.h"

namespace {

enum class Format { kStereo16, kStereo8, kMono16, kMono8 };

struct RoomCase {
  double wallM;  // loudspeaker to the facing wall
  double reverberationSeconds;
  double snrDb;  // direct sound's RMS over the white noise's
  const char* speaker;
  double spacingM;  // microphone above the loudspeaker
  bool micsApart;   // two microphones 6 cm apart instead of one for both channels
  bool onDesk;      // the box's floor is a desk top 1 cm below the loudspeaker
  Format format = Format::kStereo16;
};

constexpr double kDirect = 0.3;
constexpr double kTolerance = 0.02;
constexpr int kPings = 4;
// Reflections weaker than this (relative to the direct sound) are not counted as echoes the
// detector may report; anything it reports must lie within kTolerance of a stronger one.
constexpr double kWeakestReal = 0.001;

// Rooms that reverberate longer are larger, as with the same walls they are: a small treated room
// at 0.2 s, an office at 0.4 s, a classroom at 0.8 s.
struct Box {
  double length, width, height;
};
Box boxFor(double reverberationSeconds) {
  if (reverberationSeconds < 0.3) return {5.0, 4.5, 2.7};
  if (reverberationSeconds < 0.6) return {6.5, 5.0, 2.8};
  return {9.0, 7.0, 3.0};
}

std::string roomText(const RoomCase& c, int seed) {
  const Box box = boxFor(c.reverberationSeconds);
  const double length = std::max(box.length, c.wallM + 1.8);
  const double height = c.onDesk ? box.height - 0.75 : box.height;
  const double z = c.onDesk ? 0.01 : 1.1;
  char text[512];
  std::snprintf(text, sizeof text,
                "size=%.2f:%.2f:%.2f,pos=%.3f:1.7:%.2f,facing=0,rt=%.2f,order=10,beam=1,speaker=%s,"
                "seed=%d",
                length, box.width, height, length - c.wallM, z, c.reverberationSeconds, c.speaker,
                seed);
  std::string room = text;
  char mics[128];
  if (c.micsApart) {
    std::snprintf(mics, sizeof mics, ",mic=-0.03:%.3f:-0.02,mic=0.03:%.3f:-0.02", c.spacingM,
                  c.spacingM);
  } else {
    std::snprintf(mics, sizeof mics, ",spacing=%.3f", c.spacingM);
  }
  return room + mics;
}

void useFormat(SimRig& rig, Format f) {
  const uint16_t channels = f == Format::kMono16 || f == Format::kMono8 ? 1 : 2;
  const uint16_t bits = f == Format::kStereo8 || f == Format::kMono8 ? 8 : 16;
  // The correlation starts 6.8 ms into the recording, as the wave-format dialog's offsets do for
  // stereo at 16 bits: just before the direct sound.
  rig.settings.offsetBytes = static_cast<uint32_t>(0.0068 * 44100 * channels);
  rig.useFormat(channels, bits, 44100);
}

struct Outcome {
  double snrDb = 0.0;  // as run
  double truth = 0.0;  // the facing wall's range
  std::vector<double> found;
  std::vector<double> falseEchoes;
  bool hit = false;
};

Outcome runCase(const RoomCase& c, int seed) {
  SimRoom room;
  const std::string text = roomText(c, seed);
  EXPECT_EQ(parseSimRoom(text, room), "") << text;
  room.directGain = kDirect;
  room.speedMps = speedOfSound(kAir);
  // The table stays within the sensitivity the detector is built for (an echo 40 dB below the
  // direct sound at 40 dB SNR): where the wall's echo would sink below the noise at the
  // microphone, the noise is lowered until it no longer does.
  Outcome o;
  o.snrDb = c.snrDb;
  const double wall = facingWallRange(*room.shoebox, 0);
  for (const ShoeboxArrival& a : shoeboxArrivals(room, 0, *room.speedMps)) {
    if (a.order != 1 || std::abs(a.rangeM - wall) > 1e-4) continue;
    o.snrDb = std::max(c.snrDb, 20.0 * std::log10(kDirect / a.gain));
  }
  room.noiseRms = kDirect * 32767.0 / std::sqrt(2.0) / std::pow(10.0, o.snrDb / 20.0);
  SimRig rig(room);
  if (c.format != Format::kStereo16) useFormat(rig, c.format);
  EXPECT_EQ(rig.open(), kWaveOk);
  // As the scan cycle does: each ping taken in, then the Ruler's distances of the latest few.
  auto tracker = std::make_unique<EchoTracker>();
  EchoDistances distances{};
  for (int i = 0; i < kPings; ++i) {
    const MeasurementResult r = rig.measure();
    observeMeasurement(rig.settings, r.arrival, *tracker);
    distances = averagedEchoes(*tracker);
  }
  const size_t channels = rig.settings.waveFormat.channels;
  std::vector<double> real;
  for (size_t ch = 0; ch < channels; ++ch) {
    o.truth += facingWallRange(*room.shoebox, ch) / static_cast<double>(channels);
    for (const ShoeboxArrival& a : shoeboxArrivals(room, ch, *room.speedMps)) {
      if (a.order > 0 && std::abs(a.gain) >= kWeakestReal * kDirect) real.push_back(a.rangeM);
    }
  }
  // Two reflections closer than the chirp resolves come back as one between them: a report counts
  // as real within half that resolution (c / 2B) of a reflection, and never closer than 2 cm.
  const ChirpSweep sweep = chirpSweep(rig.settings);
  const double resolution = *room.speedMps / (2.0 * std::abs(sweep.toHz - sweep.fromHz));
  const double realWithin = std::max(kTolerance, resolution / 2.0);
  for (const double d : distances) {
    if (d <= 0.0) continue;
    o.found.push_back(d);
    o.hit = o.hit || std::abs(d - o.truth) <= kTolerance;
    const bool matches = std::any_of(real.begin(), real.end(),
                                     [&](double r) { return std::abs(d - r) <= realWithin; });
    if (!matches) o.falseEchoes.push_back(d);
  }
  return o;
}

std::vector<RoomCase> tableCases() {
  const std::vector<double> walls = {0.3, 0.5, 0.8, 1.2, 2.0, 3.0, 4.0};
  const std::vector<double> rts = {0.2, 0.4, 0.8};
  const std::vector<double> snrs = {20.0, 40.0, 60.0};
  const std::vector<double> spacings = {0.05, 0.10, 0.20};
  const std::vector<const char*> speakers = {
      "flat", "lowpass:15000", "highpass:2000", "phase:30", "phase:90", "resonant", "ringing"};
  std::vector<RoomCase> cases;
  // Every response at every wall distance; the other dimensions cycle with strides that do not
  // share a factor with seven, so each meets each.
  for (size_t s = 0; s < speakers.size(); ++s) {
    for (size_t w = 0; w < walls.size(); ++w) {
      const size_t i = s * walls.size() + w;
      cases.push_back({walls[w], rts[(i + s) % 3], snrs[(i / 3 + w) % 3], speakers[s],
                       spacings[(i + 2 * s) % 3], i % 2 == 1, i % 4 == 0});
    }
  }
  // The other formats at a few distances.
  for (const Format f : {Format::kStereo8, Format::kMono16, Format::kMono8}) {
    for (size_t w = 1; w < walls.size(); w += 2) {
      cases.push_back({walls[w], rts[w % 3], 40.0, speakers[(w + static_cast<size_t>(f)) % 7],
                       spacings[w % 3], false, w == 3, f});
    }
  }
  return cases;
}

const char* formatName(Format f) {
  switch (f) {
    case Format::kStereo16:
      return "16-bit stereo";
    case Format::kStereo8:
      return "8-bit stereo";
    case Format::kMono16:
      return "16-bit mono";
    case Format::kMono8:
      return "8-bit mono";
  }
  return "";
}

TEST(RealisticRooms, FacingWallWithinTwoCentimetresAndFewFalseEchoes) {
  const std::vector<RoomCase> cases = tableCases();
  size_t hits = 0, falseEchoes = 0;
  double worst = 0.0;
  const char* only = std::getenv("MERVANE_CASE");
  for (size_t i = 0; i < cases.size(); ++i) {
    if (only != nullptr && std::atoi(only) != static_cast<int>(i)) continue;
    const RoomCase& c = cases[i];
    const Outcome o = runCase(c, static_cast<int>(i) + 1);
    hits += o.hit ? 1 : 0;
    falseEchoes += o.falseEchoes.size();
    double error = INFINITY;
    for (const double d : o.found) error = std::min(error, std::abs(d - o.truth));
    if (o.hit) worst = std::max(worst, error);
    std::printf(
        "%2zu wall %.1f m rt %.1f snr %2.0f %-13s spacing %.2f%s%s %-13s: truth %.3f, found", i,
        c.wallM, c.reverberationSeconds, o.snrDb, c.speaker, c.spacingM,
        c.micsApart ? " apart" : "      ", c.onDesk ? " desk" : "     ", formatName(c.format),
        o.truth);
    for (const double d : o.found) std::printf(" %.3f", d);
    if (!o.hit) std::printf("  MISSED");
    for (const double d : o.falseEchoes) std::printf("  false %.3f", d);
    std::printf("\n");
  }
  std::printf(
      "facing wall within %.0f cm: %zu of %zu (%.0f %%), worst error of those %.4f m; "
      "false echoes %zu (%.2f per case)\n",
      kTolerance * 100, hits, cases.size(), 100.0 * hits / cases.size(), worst, falseEchoes,
      static_cast<double>(falseEchoes) / cases.size());
  EXPECT_GE(hits * 10, cases.size() * 9);
  EXPECT_LE(falseEchoes * 10, cases.size());
}

}  // namespace
