#include <gtest/gtest.h>

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
                    BadRoom{"temperature=25,speed=340", "temperature and speed"},
                    BadRoom{"speed=340,temperature=25", "temperature and speed"},
                    BadRoom{"humidity=40", "humidity needs temperature"},
                    BadRoom{"temperature=hot", "temperature"},
                    BadRoom{"temperature=200", "temperature"},
                    BadRoom{"temperature=20,humidity=101", "humidity"}));

TEST(SimRoomParse, TheAirsTemperatureSetsTheSpeedInEitherRoom) {
  // Dry air at 20 degrees C carries sound at 343.2 m/s; humidity makes it faster.
  SimRoom room;
  ASSERT_EQ(parseSimRoom("temperature=20,humidity=0,echo=1:0.1", room), "");
  EXPECT_NEAR(room.speedMps.value_or(0.0), 343.2, 0.2);
  ASSERT_EQ(parseSimRoom("humidity=0,temperature=20", room), "");  // any order
  EXPECT_NEAR(room.speedMps.value_or(0.0), 343.2, 0.2);
  ASSERT_EQ(parseSimRoom("temperature=20", room), "");  // 50 % unless given
  EXPECT_NEAR(room.speedMps.value_or(0.0), 344.0, 0.2);
  ASSERT_EQ(parseSimRoom("preset=desk,temperature=25", room), "");
  EXPECT_TRUE(room.shoebox.has_value());
  EXPECT_NEAR(room.speedMps.value_or(0.0), 346.9, 0.3);
}

// Every key, given a value out of its range, says in words what it takes.
TEST(SimRoomRejects, EveryKeyGivesItsAcceptedRange) {
  const std::pair<const char*, const char*> cases[] = {
      {"latency=10001", "it takes a number from 0 to 10000 ms"},
      {"direct=101", "it takes a number from -100 to 100"},
      {"noise=-1", "it takes a number from 0 to 32768"},
      {"speed=0", "it takes a number from 1 to 100000 m/s"},
      {"temperature=61", "it takes a number from -40 to 60 degrees Celsius"},
      {"temperature=20,humidity=101", "it takes a number from 0 to 100 % relative humidity"},
      {"seed=x", "it takes a whole number from 0 to"},
      {"echo=5000:0.1", "it takes METRES:GAIN, metres a number from 0 to 1000"},
      {"preset=office,rt=100", "it takes a number from 0.05 to 10 s"},
      {"rt=0.01", "it takes a number from 0.05 to 10 s"},
      {"order=13", "it takes a whole number from 0 to 12"},
      {"order=1.5", "it takes a whole number from 0 to 12"},
      {"facing=4000", "from -3600 to 3600 degrees"},
      {"scatter=2", "from 0 to 1"},
      {"tail=11", "from 0 to 10"},
      {"air=11", "from 0 to 10 dB/m"},
      {"beam=1.5", "from 0 to 1"},
      {"pink=40000", "from 0 to 32768"},
      {"dc=40000", "from -32768 to 32768"},
      {"clip=0", "from 0.001 to 1 of full scale"},
      {"spacing=3", "from 0 to 2 m"},
      {"size=0.1:3:3", "L:W:H, each a number from 0.5 to 200 m"},
      {"pos=1:2", "X:Y:Z in metres"},
      {"mic=3:0:0", "at most 2 m from the loudspeaker"},
      {"speaker=lowpass:5", "lowpass:HZ or highpass:HZ (10 to 100000 Hz)"},
      {"micresponse=resonant:9000:500:6", "(Q 0.1 to 200, DB -40 to 40)"},
      {"preset=attic", "desk, office or hall"},
  };
  for (const auto& [text, takes] : cases) {
    SimRoom room;
    const std::string problem = parseSimRoom(text, room);
    EXPECT_NE(problem.find(takes), std::string::npos) << text << ": " << problem;
  }
  SimRoom room;
  EXPECT_EQ(parseSimRoom("preset=office,rt=10", room), "");
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
