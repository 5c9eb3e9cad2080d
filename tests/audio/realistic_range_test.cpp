// Range accuracy in realistic rooms: image-source shoeboxes with a diffuse tail, loudspeakers that
// colour the chirp, microphones apart from the loudspeaker and from each other, noise; through the
// measurement sequence and the program's echo tracker, from the first ping alone and as the Ruler
// reads it after four pings. Every case runs at its own SNR; a wall whose echo cannot stand out
// of the noise after pulse compression is marked out of reach and counted apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "audio/sim_shoebox.h"
#include "audio_test_support.h"
#include "engine/echo_tracker.h"
#include "engine/pcm_samples.h"

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

// One reading of a case: the single first ping (a file analysed on its own), or the Ruler's four.
struct Reading {
  std::vector<double> found;
  std::vector<double> falseEchoes;
  size_t falseByImage = 0;  // were each image source judged alone
  bool hit = false;
  bool reachable =
      true;  // the wall's echo stands kLeastEchoSnrDb above the noise after compression
  double echoSnrDb = 0.0;
};

struct Outcome {
  double truth = 0.0;  // the facing wall's range
  Reading single, ruler;
};

// An echo whose own SNR after pulse compression is below this is out of any detector's reach.
constexpr double kLeastEchoSnrDb = 10.0;
// Reports count as real within this of a first-order reflection or of an image source above
// kLoudImage of the direct sound.
constexpr double kRealWithin = 0.01;
constexpr double kLoudImage = 0.01;  // -40 dB

// The facing wall's echo after pulse compression, from the simulation's truth: its amplitude at
// the first microphone times the played chirp's energy, over the white noise (and the 8-bit
// rounding) through the same matched filter, added over `pings` pings. The loudspeaker's own
// colouring is left out: it is near 0 dB over the chirp's band for every response in the table.
double wallEchoSnrDb(const SimRoom& room, const SonarSettings& s, int pings) {
  const double wall = facingWallRange(*room.shoebox, 0);
  double gain = 0.0;
  for (const ShoeboxArrival& a : shoeboxArrivals(room, 0, *room.speedMps)) {
    if (a.order == 1 && std::abs(a.rangeM - wall) < 1e-4) gain = a.gain;
  }
  const bool wide = isSixteenBit(s.waveFormat);
  const size_t channels = s.waveFormat.channels;
  const size_t values = pcmSampleCount({s.playBuffer.data(), s.outBufferBytes}, wide);
  double energy = 0.0;  // of the first channel's played chirp, in 16-bit units
  for (size_t i = 0; i < values; i += channels) {
    const double v = pcmSampleAt(s.playBuffer, i, wide) * (wide ? 1.0 : 256.0);
    energy += v * v;
  }
  const double rounding = wide ? 1.0 / 12.0 : 256.0 * 256.0 / 12.0;
  const double noise = room.noiseRms * room.noiseRms + rounding;
  return 10.0 * std::log10(gain * gain * energy * pings / noise);
}

// Where the room holds a reflection a report may stand for: every first-order reflection and
// every image source above kLoudImage, as each microphone hears it; and as the channels together
// hear them, since they are added, each anchored at its own direct sound: each image source at the
// mean of its ranges, and image sources within kCoincident of a carrier cycle of each other as one
// arrival whose sound adds (a reflection and its bounce off the desk the device stands on, the
// images a symmetric room puts at one range), with the phases their ranges give it.
constexpr double kCoincident = 0.125;
struct RealRanges {
  std::vector<double> images;    // each image source as one microphone hears it
  std::vector<double> arrivals;  // and those with what the channels together hear
};
bool loudEnough(int order, double gain) {
  return order == 1 || (order > 1 && std::abs(gain) >= kLoudImage * kDirect);
}

// Each image source as the channels together hear it: at the mean of its ranges and gains, nearest
// first. Every channel lists the image sources in the same order.
std::vector<ShoeboxArrival> heardTogether(const std::vector<std::vector<ShoeboxArrival>>& heard) {
  std::vector<ShoeboxArrival> together;
  const auto channels = static_cast<double>(heard.size());
  for (size_t k = 0; k < heard[0].size(); ++k) {
    if (heard[0][k].order == 0) continue;
    ShoeboxArrival a = heard[0][k];
    for (size_t ch = 1; ch < heard.size(); ++ch) {
      a.rangeM += heard[ch][k].rangeM;
      a.gain += heard[ch][k].gain;
    }
    a.rangeM /= channels;
    a.gain /= channels;
    together.push_back(a);
  }
  std::sort(together.begin(), together.end(),
            [](const ShoeboxArrival& x, const ShoeboxArrival& y) { return x.rangeM < y.rangeM; });
  return together;
}

// The ranges of the arrivals that sorted image sources make where those within kCoincident of a
// carrier cycle of the first of them add up, with the phases their ranges give them.
void addCoincident(const std::vector<ShoeboxArrival>& sorted, double carrierM,
                   std::vector<double>& ranges) {
  for (size_t i = 0; i < sorted.size();) {
    double re = 0.0, im = 0.0, weighted = 0.0, weights = 0.0;
    bool first = false;
    size_t j = i;
    for (; j < sorted.size() && sorted[j].rangeM - sorted[i].rangeM <= kCoincident * carrierM;
         ++j) {
      const double phase = 2.0 * M_PI * (sorted[j].rangeM - sorted[i].rangeM) / carrierM;
      re += sorted[j].gain * std::cos(phase);
      im += sorted[j].gain * std::sin(phase);
      weighted += std::abs(sorted[j].gain) * sorted[j].rangeM;
      weights += std::abs(sorted[j].gain);
      first = first || sorted[j].order == 1;
    }
    if (first || std::hypot(re, im) >= kLoudImage * kDirect) ranges.push_back(weighted / weights);
    i = j;
  }
}

RealRanges realRanges(const SimRoom& room, size_t channels, double carrierM) {
  std::vector<std::vector<ShoeboxArrival>> heard(channels);
  RealRanges real;
  for (size_t ch = 0; ch < channels; ++ch) {
    heard[ch] = shoeboxArrivals(room, ch, *room.speedMps);
    for (const ShoeboxArrival& a : heard[ch]) {
      if (loudEnough(a.order, a.gain)) real.images.push_back(a.rangeM);
    }
  }
  real.arrivals = real.images;
  addCoincident(heardTogether(heard), carrierM, real.arrivals);
  return real;
}

// The facing wall's range as the channels together hear it: the mean of the microphones' ranges.
double facingWallTogether(const SimRoom& room, size_t channels) {
  double sum = 0.0;
  for (size_t ch = 0; ch < channels; ++ch) sum += facingWallRange(*room.shoebox, ch);
  return sum / static_cast<double>(channels);
}

bool near(const std::vector<double>& ranges, double d) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [&](double x) { return std::abs(d - x) <= kRealWithin; });
}

Reading readingOf(const EchoDistances& distances, const RealRanges& real, double truth) {
  Reading r;
  for (const double d : distances) {
    if (d <= 0.0) continue;
    r.found.push_back(d);
    r.hit = r.hit || std::abs(d - truth) <= kTolerance;
    if (!near(real.arrivals, d)) r.falseEchoes.push_back(d);
    r.falseByImage += near(real.images, d) ? 0 : 1;
  }
  return r;
}

Outcome runCase(const RoomCase& c, int seed) {
  SimRoom room;
  const std::string text = roomText(c, seed);
  EXPECT_EQ(parseSimRoom(text, room), "") << text;
  room.directGain = kDirect;
  room.speedMps = speedOfSound(kAir);
  room.noiseRms = kDirect * 32767.0 / std::sqrt(2.0) / std::pow(10.0, c.snrDb / 20.0);
  SimRig rig(room);
  if (c.format != Format::kStereo16) useFormat(rig, c.format);
  EXPECT_EQ(rig.open(), kWaveOk);
  // As the scan cycle does: each ping taken in, then the Ruler's distances of the latest few; and
  // the first ping's own, as a file analysed alone gives them.
  auto tracker = std::make_unique<EchoTracker>();
  EchoDistances first{}, distances{};
  for (int i = 0; i < kPings; ++i) {
    const MeasurementResult r = rig.measure();
    observeMeasurement(rig.settings, r.arrival, *tracker);
    if (i == 0) first = latestEchoes(*tracker);
    distances = averagedEchoes(*tracker);
  }
  const size_t channels = rig.settings.waveFormat.channels;
  Outcome o;
  o.truth = facingWallTogether(room, channels);
  const double centreHz = 0.5 * (rig.settings.startFrequency + rig.settings.endFrequency);
  const RealRanges real = realRanges(room, channels, *room.speedMps / (2.0 * centreHz));
  o.single = readingOf(first, real, o.truth);
  o.ruler = readingOf(distances, real, o.truth);
  o.single.echoSnrDb = wallEchoSnrDb(room, rig.settings, 1);
  o.ruler.echoSnrDb = wallEchoSnrDb(room, rig.settings, kPings);
  o.single.reachable = o.single.echoSnrDb >= kLeastEchoSnrDb;
  o.ruler.reachable = o.ruler.echoSnrDb >= kLeastEchoSnrDb;
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

struct Totals {
  size_t reachable = 0, hits = 0, falseEchoes = 0, falseByImage = 0;
  double worst = 0.0;
};

void print(const char* mode, const Reading& r, double truth, Totals& t) {
  std::printf("   %-6s echo %5.1f dB%s found", mode, r.echoSnrDb,
              r.reachable ? "" : " (out of reach)");
  for (const double d : r.found) std::printf(" %.3f", d);
  if (!r.hit) std::printf("  MISSED");
  for (const double d : r.falseEchoes) std::printf("  false %.3f", d);
  std::printf("\n");
  t.falseEchoes += r.falseEchoes.size();
  t.falseByImage += r.falseByImage;
  if (!r.reachable) return;
  ++t.reachable;
  t.hits += r.hit ? 1 : 0;
  double error = INFINITY;
  for (const double d : r.found) error = std::min(error, std::abs(d - truth));
  if (r.hit) t.worst = std::max(t.worst, error);
}

void summarise(const char* mode, const Totals& t, size_t cases) {
  std::printf(
      "%s: facing wall within %.0f cm in %zu of %zu reachable cases (%.0f %%), worst error of "
      "those %.4f m; %zu cases out of reach; false echoes %zu (%.2f per case; %zu were each image "
      "source judged alone)\n",
      mode, kTolerance * 100, t.hits, t.reachable,
      100.0 * t.hits / std::max<size_t>(t.reachable, 1), t.worst, cases - t.reachable,
      t.falseEchoes, static_cast<double>(t.falseEchoes) / cases, t.falseByImage);
}

// Cases within reach whose facing wall the detector still misses, by reading: the expectation of
// every case, so that a change for better or worse shows here.
// Cases 41 and 51 are walls 4 and 3 m away (-35 and -25 dB) in rooms of 0.4 and 0.8 s that stand
// no higher above the room's mean clutter than the weak image sources around them.
constexpr std::array<size_t, 5> kSingleMisses{10, 25, 41, 51, 54};
constexpr std::array<size_t, 3> kRulerMisses{41, 51, 54};
// Where the false echoes stand today against the target of one per ten cases (not met). Of the
// Ruler's 44, about 14 are real reflections read one carrier cycle (15-19 mm) off: weak ones, whose
// envelope the clutter around them bends; about 10 lie between two reflections 3 to 10 cm apart,
// which the chirp's 4 kHz does not tell apart; the rest are image sources of -40 to -55 dB, alone
// or a few merged.
constexpr size_t kSingleFalseEchoesToday = 36;
constexpr size_t kRulerFalseEchoesToday = 44;

// The false echoes of each case today, from its single ping and as the Ruler reads it: none may
// come back where a case had fewer.
struct FalseEchoes {
  size_t single, ruler;
};
constexpr std::array<FalseEchoes, 58> kFalseEchoesToday{{
    {0, 0}, {0, 0}, {0, 0}, {0, 1}, {1, 1}, {0, 0}, {1, 1}, {2, 1}, {0, 0}, {1, 1}, {0, 0}, {1, 1},
    {1, 0}, {2, 2}, {3, 4}, {0, 0}, {2, 3}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {3, 4}, {1, 3}, {0, 0},
    {2, 1}, {0, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 1}, {0, 0}, {3, 2}, {1, 2},
    {1, 1}, {0, 0}, {1, 0}, {0, 0}, {0, 1}, {0, 0}, {3, 3}, {0, 2}, {0, 0}, {0, 1}, {1, 2}, {0, 0},
    {1, 0}, {0, 0}, {1, 2}, {0, 0}, {1, 0}, {2, 2}, {0, 0}, {0, 0}, {0, 1}, {0, 0},
}};

template <size_t N>
bool listed(const std::array<size_t, N>& list, size_t i) {
  return std::find(list.begin(), list.end(), i) != list.end();
}

void target(const char* what, bool met) {
  std::printf("target %s: %s\n", what, met ? "met" : "NOT MET");
}

// Every case at its own SNR, read from its first ping alone and as the Ruler reads four. The
// targets: the facing wall within 2 cm in 90 % of the cases within reach, both ways, and at most
// one false echo per ten cases; each case as expected.
TEST(RealisticRooms, FacingWallWithinTwoCentimetresAndFewFalseEchoes) {
  const std::vector<RoomCase> cases = tableCases();
  Totals single, ruler;
  const char* only = std::getenv("MERVANE_CASE");
  for (size_t i = 0; i < cases.size(); ++i) {
    if (only != nullptr && std::atoi(only) != static_cast<int>(i)) continue;
    const RoomCase& c = cases[i];
    const Outcome o = runCase(c, static_cast<int>(i) + 1);
    std::printf("%2zu wall %.1f m rt %.1f snr %2.0f %-13s spacing %.2f%s%s %-13s: truth %.3f\n", i,
                c.wallM, c.reverberationSeconds, c.snrDb, c.speaker, c.spacingM,
                c.micsApart ? " apart" : "      ", c.onDesk ? " desk" : "     ",
                formatName(c.format), o.truth);
    print("single", o.single, o.truth, single);
    print("ruler", o.ruler, o.truth, ruler);
    if (o.single.reachable) {
      EXPECT_EQ(o.single.hit, !listed(kSingleMisses, i)) << "case " << i;
    }
    if (o.ruler.reachable) {
      EXPECT_EQ(o.ruler.hit, !listed(kRulerMisses, i)) << "case " << i;
    }
    ASSERT_LT(i, kFalseEchoesToday.size());
    EXPECT_LE(o.single.falseEchoes.size(), kFalseEchoesToday[i].single) << "case " << i;
    EXPECT_LE(o.ruler.falseEchoes.size(), kFalseEchoesToday[i].ruler) << "case " << i;
  }
  const size_t n = only != nullptr ? 1 : cases.size();
  summarise("single pings", single, n);
  summarise("the Ruler", ruler, n);
  target("single pings, 90 % within reach", single.hits * 10 >= single.reachable * 9);
  target("the Ruler, 90 % within reach", ruler.hits * 10 >= ruler.reachable * 9);
  target("single pings, a false echo per ten cases", single.falseEchoes * 10 <= n);
  target("the Ruler, a false echo per ten cases", ruler.falseEchoes * 10 <= n);
  if (only != nullptr) return;
  EXPECT_GE(ruler.hits * 10, ruler.reachable * 9);
  EXPECT_LE(single.falseEchoes, kSingleFalseEchoesToday);
  EXPECT_LE(ruler.falseEchoes, kRulerFalseEchoesToday);
}

// The desk preset at heights above the desk: the laptop hears its own sound a second time off
// the desk, 1.8 cm of way later at 1 cm up (2.4 lags, about 0.8 of the direct sound), 5.7 cm
// later at 3 cm. Without calibration the facing wall is to be read within 2 mm of the
// simulation's own range (averaged over the two microphones), from every single ping and from
// eight pings combined; the nearest report is the one read.
struct DeskHeight {
  double metres;               // of the loudspeaker above the desk
  const char* miss = nullptr;  // how the detector misses it today
};

constexpr double kDeskToleranceM = 0.002;
constexpr int kDeskPings = 8;

class DeskHeights : public testing::TestWithParam<DeskHeight> {};

double nearestReport(const EchoDistances& d) {
  return d[0] > 0.0 ? d[0] : INFINITY;
}

TEST_P(DeskHeights, TheFacingWallWithoutCalibration) {
  const DeskHeight& h = GetParam();
  char text[96];
  std::snprintf(text, sizeof text, "preset=desk,pos=2.25:1.0:%.3f", h.metres);
  SimRoom room;
  ASSERT_EQ(parseSimRoom(text, room), "") << text;
  room.speedMps = speedOfSound(kAir);
  SimRig rig(room);
  ASSERT_EQ(rig.open(), kWaveOk);
  const double truth = facingWallTogether(room, rig.settings.waveFormat.channels);
  auto tracker = std::make_unique<EchoTracker>();
  restartEchoAverage(*tracker, 0);  // every ping of the run combined, as ping --average
  double worstSingle = 0.0;
  for (int i = 0; i < kDeskPings; ++i) {
    const MeasurementResult r = rig.measure();
    observeMeasurement(rig.settings, r.arrival, *tracker);
    const double single = nearestReport(latestEchoes(*tracker));
    worstSingle = std::max(worstSingle, std::abs(single - truth));
  }
  const double combined = nearestReport(averagedEchoes(*tracker));
  std::printf("desk %.3f m up: truth %.4f, combined %.4f, worst single ping %.4f off\n", h.metres,
              truth, combined, worstSingle);
  const bool right =
      worstSingle <= kDeskToleranceM && std::abs(combined - truth) <= kDeskToleranceM;
  if (h.miss != nullptr) {
    EXPECT_FALSE(right) << "a known miss reads right now: " << h.miss;
    GTEST_SKIP() << "known miss: " << h.miss;
  }
  EXPECT_NEAR(combined, truth, kDeskToleranceM);
  EXPECT_LE(worstSingle, kDeskToleranceM);
}

INSTANTIATE_TEST_SUITE_P(
    Desk, DeskHeights,
    testing::Values(
        DeskHeight{0.01,
                   "the direct sound's bounce, 2.4 lags late at 0.8 of it, goes into the learnt "
                   "shape, and the wall, which comes without it, reads a carrier cycle long "
                   "(0.7151 m)"},
        DeskHeight{0.015, "2.2 mm long (0.6988 m): the bounce 3.6 lags late, in the shape"},
        DeskHeight{0.02},
        DeskHeight{0.03, "2.8 mm long (0.6994 m): the bounce 7.2 lags late, in the shape"}),
    [](const auto& p) {
      return "up" + std::to_string(static_cast<int>(std::lround(p.param.metres * 1000))) + "mm";
    });

}  // namespace
