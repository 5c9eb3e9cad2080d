#include <gtest/gtest.h>

#include <cmath>

#include "audio/sim_impulse.h"
#include "audio/sim_room.h"

namespace {

TEST(SimRoomParse, KeysOverTheDefaultsWithoutReflectors) {
  SimRoom room;
  ASSERT_EQ(
      parseSimRoom("latency=3.25,echo=1.5:0.2,noise=0,echo=0.4:-0.1,seed=77,speed=1480", room), "");
  EXPECT_DOUBLE_EQ(room.latencyMs, 3.25);
  EXPECT_DOUBLE_EQ(room.directGain, 0.3);
  EXPECT_DOUBLE_EQ(room.noiseRms, 0.0);
  EXPECT_EQ(room.seed, 77u);
  EXPECT_DOUBLE_EQ(room.speedMps.value_or(0.0), 1480.0);
  ASSERT_EQ(room.echoes.size(), 2u);
  EXPECT_DOUBLE_EQ(room.echoes[1].distanceM, 0.4);
  EXPECT_DOUBLE_EQ(room.echoes[1].gain, -0.1);

  ASSERT_EQ(parseSimRoom("", room), "");
  EXPECT_TRUE(room.echoes.empty());
  EXPECT_FALSE(room.speedMps.has_value());
  EXPECT_EQ(defaultSimRoom().echoes.size(), 2u);
}

struct BadRoom {
  const char* text;
  const char* named;  // what the message must name
};

class SimRoomRejects : public testing::TestWithParam<BadRoom> {};

TEST_P(SimRoomRejects, WithAMessageNamingTheProblem) {
  SimRoom room;
  const std::string problem = parseSimRoom(GetParam().text, room);
  EXPECT_NE(problem.find(GetParam().named), std::string::npos) << problem;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimRoomRejects,
    testing::Values(BadRoom{"colour=3", "colour"}, BadRoom{"latency=fast", "latency"},
                    BadRoom{"latency=-1", "latency"}, BadRoom{"latency=7.4ms", "latency"},
                    BadRoom{"noise=nan", "noise"}, BadRoom{"speed=0", "speed"},
                    BadRoom{"seed=-3", "seed"}, BadRoom{"echo=2", "echo"},
                    BadRoom{"echo=1:x", "echo"}, BadRoom{"echo=5000:0.1", "echo"},
                    BadRoom{"latency", "latency"}, BadRoom{"latency=1,,noise=2", "''"},
                    BadRoom{"case=0.2", "case"}, BadRoom{"case=0.2:x", "case"},
                    BadRoom{"case=9:0", "case"}, BadRoom{"case=0.2:90", "case"},
                    BadRoom{"case=0.2:6:bogus", "case"}, BadRoom{"case=-0.1:6", "case"}));

// A path through the case: the direct sound's copy MS earlier, DB louder, through its response
// (a low-pass at 4 kHz unless another is given). Its impulse stands where the key puts it.
TEST(SimRoomCase, ThePathThroughTheCaseArrivesAheadOfTheDirectSound) {
  SimRoom room;
  ASSERT_EQ(parseSimRoom("case=0.25:6", room), "");
  ASSERT_TRUE(room.casePath.has_value());
  EXPECT_DOUBLE_EQ(room.casePath->leadMs, 0.25);
  EXPECT_DOUBLE_EQ(room.casePath->db, 6.0);
  EXPECT_EQ(room.casePath->response.kind, ResponseKind::kLowPass);
  EXPECT_DOUBLE_EQ(room.casePath->response.hz, 4000.0);
  EXPECT_TRUE(room.realistic());

  // At 8000 frames a second every delay here is a whole frame, where the interpolator is exact:
  // the direct sound at 80, the case 2 frames earlier, the wall 40 frames later.
  ASSERT_EQ(parseSimRoom("latency=10,echo=1:0.1,case=0.25:6:flat", room), "");
  const double rate = 8000.0, speed = 400.0;
  const RoomImpulse impulse = buildRoomImpulse(room, speed, 8000);
  ASSERT_FALSE(impulse.channels.empty());
  const std::vector<double>& h = impulse.channels[0];
  // Sample k sounds at frame startFrame + k.
  const auto at = [&](double seconds) {
    return static_cast<size_t>(std::llround(seconds * rate) - impulse.startFrame);
  };
  const double direct = room.latencyMs * 1e-3;
  const size_t caseAt = at(direct - 0.25e-3);
  ASSERT_LT(at(direct + 2.0 / speed), h.size());
  EXPECT_NEAR(h[at(direct)], room.directGain, 1e-9);
  EXPECT_NEAR(h[caseAt], room.directGain * std::pow(10.0, 6.0 / 20.0), 1e-9);
  EXPECT_NEAR(h[at(direct + 2.0 / speed)], 0.1, 1e-9);
  for (size_t k = 0; k < h.size(); ++k) {
    if (k != caseAt && k != at(direct) && k != at(direct + 2.0 / speed)) {
      ASSERT_NEAR(h[k], 0.0, 1e-9) << k;
    }
  }
}

TEST(SimRoomPaths, EchoesArriveTwoDistancesOverSpeedAfterTheDirectSound) {
  SimRoom room = defaultSimRoom();
  const auto paths = roomPaths(room, 340.0);
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_DOUBLE_EQ(paths[0].delaySeconds, 0.0074);
  EXPECT_NEAR(paths[1].delaySeconds - paths[0].delaySeconds, 1.6 / 340.0, 1e-12);
  EXPECT_NEAR(paths[2].delaySeconds - paths[0].delaySeconds, 3.8 / 340.0, 1e-12);
  EXPECT_DOUBLE_EQ(paths[2].gain, 0.05);
}

}  // namespace
