// The realistic simulated room against the physics it claims, each checked independently of the
// code that builds it: image-source geometry by hand, reverberation by Schroeder's integration,
// the device responses by a plain DFT of the filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "audio/sim_impulse.h"
#include "audio/sim_render.h"
#include "audio/sim_response.h"
#include "audio/sim_shoebox.h"
#include "audio_test_support.h"

namespace {

constexpr double kSpeed = 337.6;

SimRoom parsed(const char* text) {
  SimRoom room;
  EXPECT_EQ(parseSimRoom(text, room), "") << text;
  return room;
}

TEST(SimShoeboxParse, KeysPresetsAndTheirLimits) {
  const SimRoom room = parsed(
      "size=6:5:3,pos=4:2:1.2,facing=90,mic=-0.04:0.2:-0.05,mic=0.04:0.2:-0.05,rt=0.6,order=4,"
      "scatter=0.3,tail=0.5,air=0.2,beam=1,speaker=ringing:9500:15:10,micresponse=highpass:300,"
      "pink=12,dc=40,clip=0.5,noise=3");
  ASSERT_TRUE(room.shoebox.has_value());
  const SimShoebox& b = *room.shoebox;
  EXPECT_DOUBLE_EQ(b.size.y, 5.0);
  EXPECT_DOUBLE_EQ(b.position.z, 1.2);
  EXPECT_DOUBLE_EQ(b.facingDegrees, 90.0);
  ASSERT_EQ(b.microphones.size(), 2u);
  EXPECT_DOUBLE_EQ(b.microphones[1].x, 0.04);
  EXPECT_EQ(b.order, 4);
  EXPECT_DOUBLE_EQ(b.reverberationSeconds, 0.6);
  EXPECT_EQ(room.speaker.kind, ResponseKind::kRinging);
  EXPECT_DOUBLE_EQ(room.speaker.q, 15.0);
  EXPECT_EQ(room.microphone.kind, ResponseKind::kHighPass);
  EXPECT_DOUBLE_EQ(room.pinkRms, 12.0);
  EXPECT_DOUBLE_EQ(room.clipLevel, 0.5);
  EXPECT_TRUE(room.realistic());
  EXPECT_FALSE(parsed("echo=1:0.1,noise=5").realistic());
  EXPECT_TRUE(parsed("speaker=phase:90").realistic());

  // Every preset is a laptop with two microphones in a room it stands inside; later keys refine.
  for (const std::string_view name : simRoomPresets()) {
    const SimRoom p = parsed(("preset=" + std::string(name) + ",rt=0.3").c_str());
    ASSERT_TRUE(p.shoebox.has_value()) << name;
    EXPECT_EQ(p.shoebox->microphones.size(), 2u) << name;
    EXPECT_DOUBLE_EQ(p.shoebox->reverberationSeconds, 0.3) << name;
    EXPECT_GT(facingWallRange(*p.shoebox, 0), 0.3) << name;
  }
  EXPECT_EQ(parsed("preset=desk,mic=0:0.1:0").shoebox->microphones.size(), 1u);
}

class SimShoeboxRejects : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(SimShoeboxRejects, WithTheKeyNamed) {
  SimRoom room;
  const std::string problem = parseSimRoom(GetParam().first, room);
  EXPECT_NE(problem.find(GetParam().second), std::string::npos) << problem;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimShoeboxRejects,
    testing::Values(std::pair{"size=0.2:3:3", "size"}, std::pair{"size=4:3", "size"},
                    std::pair{"size=4:3:2.5,pos=4.5:1:1", "pos"},
                    std::pair{"pos=2:2:1,mic=0:5:0", "mic"}, std::pair{"order=2.5", "order"},
                    std::pair{"order=13", "order"}, std::pair{"rt=0", "rt"},
                    std::pair{"speaker=wobbly", "speaker"}, std::pair{"speaker=lowpass", "speaker"},
                    std::pair{"micresponse=ringing:1:2", "micresponse"},
                    std::pair{"clip=0", "clip"}, std::pair{"scatter=2", "scatter"},
                    std::pair{"preset=cellar", "cellar"},
                    std::pair{"rt=0.5,preset=desk", "preset must come first"}));

// The wall in front of a device at (2, 1.5, 1) facing +x in a 5 m long room: the image of the
// loudspeaker across x = 5 lies at x = 8, and its echo reaches the microphone 10 cm above
// after sqrt(6^2 + 0.1^2) m.
TEST(SimShoeboxGeometry, TheFacingWallsEchoIsWhereTheImageSays) {
  SimRoom room = parsed("size=5:4:2.5,pos=2:1.5:1,facing=0,spacing=0.1,order=1,beam=0,air=0");
  room.latencyMs = 5.0;
  const double path = std::hypot(6.0, 0.1);
  EXPECT_NEAR(facingWallRange(*room.shoebox, 0), (path - 0.1) / 2.0, 1e-12);
  const auto arrivals = shoeboxArrivals(room, 0, kSpeed);
  EXPECT_EQ(arrivals.size(), 7u);  // the direct sound and one image per wall
  const auto direct = std::find_if(arrivals.begin(), arrivals.end(),
                                   [](const ShoeboxArrival& a) { return a.order == 0; });
  ASSERT_NE(direct, arrivals.end());
  EXPECT_DOUBLE_EQ(direct->delaySeconds, 0.005);
  EXPECT_DOUBLE_EQ(direct->gain, room.directGain);
  const auto wall = std::find_if(arrivals.begin(), arrivals.end(), [&](const ShoeboxArrival& a) {
    return std::abs(a.rangeM - (path - 0.1) / 2.0) < 1e-9;
  });
  ASSERT_NE(wall, arrivals.end());
  EXPECT_NEAR(wall->delaySeconds, 0.005 + (path - 0.1) / kSpeed, 1e-12);
  // Spreading and the walls' reflection alone (an all-round loudspeaker, no air): a ratio of
  // path lengths times the reflection factor Eyring's formula gives for RT60 0.4 s.
  const double volume = 5 * 4 * 2.5, surface = 2 * (20 + 12.5 + 10);
  const double absorption =
      1.0 - std::exp(-24.0 * std::numbers::ln10 * volume / (kSpeed * surface * 0.4));
  EXPECT_NEAR(wall->gain / direct->gain,
              0.1 / path * std::sqrt(1.0 - absorption) * std::sqrt(1.0 - room.shoebox->scatter),
              1e-9);
  // Order N holds every image with |i| + |j| + |k| <= N: (4N^3 + 6N^2 + 8N + 3) / 3 of them.
  room.shoebox->order = 6;
  EXPECT_EQ(shoeboxArrivals(room, 0, kSpeed).size(), (4u * 216 + 6 * 36 + 8 * 6 + 3) / 3);
}

// Schroeder's backward integration of the room's response, from the first reflections on, falls
// 30 dB over half of RT60.
double measuredReverberation(const SimRoom& room) {
  const RoomImpulse impulse = buildRoomImpulse(room, kSpeed, 44100);
  const std::vector<double>& h = impulse.channels[0];
  const auto skip = static_cast<size_t>(-impulse.startFrame + 0.010 * 44100);
  std::vector<double> energy(h.size() + 1, 0.0);
  for (size_t i = h.size(); i-- > skip;) energy[i] = energy[i + 1] + h[i] * h[i];
  double at5 = 0.0, at35 = 0.0;
  for (size_t i = skip; i < h.size(); ++i) {
    const double db = 10.0 * std::log10(energy[i] / energy[skip]);
    if (at5 == 0.0 && db < -5.0) at5 = i / 44100.0;
    if (at35 == 0.0 && db < -35.0) at35 = i / 44100.0;
  }
  return 2.0 * (at35 - at5);
}

TEST(SimShoeboxReverberation, DecaysAtTheReverberationTimeAsked) {
  for (const double rt : {0.25, 0.8}) {
    SimRoom room = parsed("size=6:5:2.8,pos=4:2:1.1,order=10,spacing=0.1");
    room.shoebox->reverberationSeconds = rt;
    EXPECT_NEAR(measuredReverberation(room), rt, 0.15 * rt) << rt;
  }
}

// The loudspeaker's filter, transformed by a DFT written here, against the analog response it
// stands for, over the band any chirp uses.
TEST(SimShoeboxResponses, TheFilterHasTheResponseOfItsPrototype) {
  const double rate = 44100.0;
  for (const char* text :
       {"lowpass:15000", "highpass:2000", "phase:90", "phase:30", "resonant", "ringing"}) {
    const SimResponse speaker = parsed((std::string("speaker=") + text).c_str()).speaker;
    const ResponseFilter f = designResponse(speaker, SimResponse{}, rate);
    for (double hz = 500.0; hz < 0.9 * rate / 2; hz += 1000.0) {
      std::complex<double> sum = 0.0;
      for (size_t n = 0; n < f.taps.size(); ++n) {
        const double t = static_cast<double>(n) - f.leadTaps;
        sum += f.taps[n] * std::polar(1.0, -2.0 * std::numbers::pi * hz * t / rate);
      }
      const std::complex<double> want = responseAt(speaker, hz);
      EXPECT_NEAR(std::abs(sum), std::abs(want), 0.02 * std::abs(want) + 1e-3) << text << " " << hz;
      EXPECT_NEAR(std::abs(std::arg(sum / want)), 0.0, 0.02) << text << " " << hz;
    }
  }
}

// White and pink noise at the microphone, a DC offset and clipping, all deterministic by seed.
TEST(SimShoeboxRecording, NoiseOffsetAndClippingAsAskedAndRepeatable) {
  const auto record = [](const char* text) {
    SimRig rig(parsed(text));
    EXPECT_EQ(rig.open(), kWaveOk);
    rig.measure();
    std::vector<int16_t> samples(rig.settings.inBufferBytes / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
      samples[i] = static_cast<int16_t>(rig.settings.recordBuffer[2 * i] |
                                        (rig.settings.recordBuffer[2 * i + 1] << 8));
    }
    return samples;
  };
  const auto a = record("preset=desk,seed=7");
  EXPECT_EQ(a, record("preset=desk,seed=7"));
  EXPECT_NE(a, record("preset=desk,seed=8"));

  // A DC offset moves the mean of a silent room; clipping caps a loud direct sound.
  const auto offset = record("direct=0,noise=0,dc=300,speaker=lowpass:9000");
  EXPECT_TRUE(std::all_of(offset.begin(), offset.end(), [](int16_t v) { return v == 300; }));
  const auto clipped = record("direct=1.5,noise=0,clip=0.5,speaker=lowpass:20000");
  EXPECT_EQ(*std::max_element(clipped.begin(), clipped.end()), 16384);
  EXPECT_EQ(*std::min_element(clipped.begin(), clipped.end()), -16384);

  // Pink noise of unit RMS whose slow part is far stronger than white noise's: averages over 64
  // frames keep a large share of its power, where white noise keeps 1/64.
  double power = 0.0, slow = 0.0;
  constexpr int kBlocks = 400, kBlock = 64;
  for (int b = 0; b < kBlocks; ++b) {
    double mean = 0.0;
    for (int i = 0; i < kBlock; ++i) {
      const double v = roomPinkNoise(3, 1, static_cast<uint64_t>(b * kBlock + i), 0);
      power += v * v;
      mean += v / kBlock;
    }
    slow += mean * mean;
  }
  EXPECT_NEAR(std::sqrt(power / (kBlocks * kBlock)), 1.0, 0.15);
  EXPECT_GT(slow / kBlocks, 8.0 / kBlock);
}

// A recording's pink noise is the counter-based noise of each frame and channel, wherever in the
// stream the buffer starts (the renderer keeps the slow rows between frames).
TEST(SimShoeboxRecording, PinkNoiseOfABufferIsThatOfItsFrames) {
  RoomSound sound;
  sound.realistic = true;
  sound.pinkRms = 1000.0;
  sound.seed = 5;
  CaptureSpan span;
  span.firstFrame = 12345;  // not on a row's boundary
  span.firstTick = span.firstFrame * simTicksPerFrame(44100);
  span.streamSerial = 2;
  span.format.channels = 2;
  span.format.bitsPerSample = 16;
  span.format.samplesPerSec = 44100;
  span.format.blockAlign = 4;
  std::vector<uint8_t> bytes(4 * 3000);
  std::vector<float> scratch;
  renderCapture(sound, {}, span, bytes, scratch);
  for (uint64_t f = 0; f < 3000; ++f) {
    for (uint16_t c = 0; c < 2; ++c) {
      const size_t i = 4 * f + 2 * c;
      const auto got = static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8));
      const double want = 1000.0 * roomPinkNoise(5, 2, span.firstFrame + f, c);
      ASSERT_EQ(got, std::lround(want)) << f << " " << c;
    }
  }
}

}  // namespace
