#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/sim_impulse.h"
#include "audio_test_support.h"

namespace {

SimRoom parsed(const std::string& text) {
  SimRoom room;
  EXPECT_EQ(parseSimRoom(text, room), "") << text;
  return room;
}

TEST(SimMotionKeys, ReadSwingDriftAndPerson) {
  const SimRoom swing = parsed("echo=1.00:0.2:move=0.003@0.25");
  ASSERT_EQ(swing.echoes.size(), 1u);
  EXPECT_DOUBLE_EQ(swing.echoes[0].swingM, 0.003);
  EXPECT_DOUBLE_EQ(swing.echoes[0].swingHz, 0.25);
  EXPECT_TRUE(swing.echoes[0].moving());

  const SimRoom drift = parsed("echo=1.0:0.2:vel=-0.05");
  EXPECT_DOUBLE_EQ(drift.echoes[0].velocityMps, -0.05);

  const SimRoom person = parsed("person=1.2");
  ASSERT_GE(person.echoes.size(), 3u);
  EXPECT_DOUBLE_EQ(person.echoes[0].distanceM, 1.2);
  for (const SimEcho& e : person.echoes) {
    EXPECT_TRUE(e.moving());
    EXPECT_LE(e.swingM, 0.0045);
    EXPECT_GE(e.distanceM, 1.2);
  }
  EXPECT_FALSE(parsed("echo=1.0:0.2").echoes[0].moving());
  // Still reflectors stay in the paths made once; moving ones do not.
  EXPECT_EQ(roomPaths(parsed("echo=1.0:0.2,echo=2:0.1:vel=1"), 340.0).size(), 2u);
}

TEST(SimMotionKeys, RefuseMalformedMotion) {
  for (const char* bad : {"echo=1:0.2:vel=", "echo=1:0.2:vel=x", "echo=1:0.2:move=0.003",
                          "echo=1:0.2:move=0.003@", "echo=1:0.2:move=-1@1", "echo=1:0.2:spin=3",
                          "echo=1:0.2:vel=1:vel=2", "echo=1:0.2:vel=1e9", "person=", "person=-1"}) {
    SimRoom room;
    EXPECT_NE(parseSimRoom(bad, room), "") << bad;
  }
}

TEST(SimMotionKeys, DistanceOnTheRoomsClock) {
  SimEcho e{1.0, 0.2, 0.003, 0.25, 0.0};
  EXPECT_DOUBLE_EQ(echoDistanceAt(e, 0.0), 1.0);
  EXPECT_NEAR(echoDistanceAt(e, 1.0), 1.003, 1e-12);  // a quarter of a 4 s swing
  EXPECT_NEAR(echoDistanceAt(e, 3.0), 0.997, 1e-12);
  SimEcho v{1.0, 0.2, 0.0, 0.0, -0.5};
  EXPECT_NEAR(echoDistanceAt(v, 1.0), 0.5, 1e-12);
  EXPECT_EQ(echoDistanceAt(v, 10.0), 0.0);  // never behind the device
}

// The recording of a ping in a room with a moving reflector is that of a still room whose
// reflector stands where the moving one was when the ping's chirp started.
std::vector<uint8_t> recordingOfPing(SimRoom room, int ping) {
  SimRig rig(room);
  EXPECT_EQ(rig.open(), kWaveOk);
  for (int i = 0; i < ping; ++i) EXPECT_EQ(rig.measure().ping, kWaveOk);
  return rig.settings.recordBuffer;
}

double secondsBetweenPings() {
  SimRig rig(quietRoom(7.4, 0.3, 30));
  EXPECT_EQ(rig.open(), kWaveOk);
  rig.measure();
  const uint64_t first = rig.sim->nowTicks();
  rig.measure();
  return static_cast<double>(rig.sim->nowTicks() - first) / kSimTicksPerSecond;
}

struct MotionCase {
  const char* name;
  const char* room;         // with a moving reflector
  const char* stillPrefix;  // the same room's keys before the reflector
  double gain;
  double maxDifference;  // [16-bit units]: the two renderings' rounding
};

class SimMovingReflector : public testing::TestWithParam<MotionCase> {};

TEST_P(SimMovingReflector, SoundsWhereItStandsAtEachPing) {
  const MotionCase& c = GetParam();
  const SimRoom moving = parsed(c.room);
  const SimEcho& e = moving.echoes.back();
  const double interval = secondsBetweenPings();
  for (int ping : {1, 4, 9}) {
    const double at = echoDistanceAt(e, interval * (ping - 1));
    const SimRoom still = parsed(std::string(c.stillPrefix) + "echo=" + std::to_string(at) + ":" +
                                 std::to_string(c.gain));
    const auto a = recordingOfPing(moving, ping);
    const auto b = recordingOfPing(still, ping);
    ASSERT_EQ(a.size(), b.size());
    int worst = 0;
    for (size_t i = 0; i + 1 < a.size(); i += 2) {
      const int va = static_cast<int16_t>(a[i] | (a[i + 1] << 8));
      const int vb = static_cast<int16_t>(b[i] | (b[i + 1] << 8));
      worst = std::max(worst, std::abs(va - vb));
    }
    EXPECT_LE(worst, c.maxDifference) << c.name << " ping " << ping << " at " << at;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rooms, SimMovingReflector,
    testing::Values(MotionCase{"plainSwing", "echo=1.00:0.2:move=0.003@0.25", "", 0.2, 1},
                    MotionCase{"plainDrift", "echo=1.0:0.2:vel=0.05", "", 0.2, 1},
                    MotionCase{"deskDrift", "preset=desk,echo=0.45:0.1:vel=0.3", "preset=desk,",
                               0.1, 2},
                    MotionCase{"officeSwing", "preset=office,echo=1.5:0.1:move=0.01@1",
                               "preset=office,", 0.1, 2}),
    [](const auto& named) { return std::string(named.param.name); });

// The desk's own wall is where it was before any reflector moved: a moving one adds to the
// still response, it does not replace it.
TEST(SimMotion, MovingReflectorLeavesTheStillRoomAsItWas) {
  const auto plain = recordingOfPing(parsed("preset=desk,noise=0,pink=0"), 3);
  const auto far = recordingOfPing(parsed("preset=desk,noise=0,pink=0,echo=300:0.2:vel=0.01"), 3);
  EXPECT_EQ(plain, far);  // its first echo comes long after the third ping
}

}  // namespace

namespace {

// A reflector of echo= in a shoebox echoes 2 d / speed after the direct sound at the microphone,
// not after whichever image source the lattice lists first.
TEST(SimShoeboxEcho, ArrivesTwoDistancesAfterTheDirectSound) {
  const SimRoom room = parsed("preset=desk,rt=0.05,order=0,tail=0,speaker=flat,echo=0.45:5");
  const double speed = 340.0;
  const RoomImpulse impulse = buildRoomImpulse(room, speed, 44100);
  const auto& response = impulse.channels[0];
  const auto loudest = std::max_element(response.begin(), response.end(), [](double a, double b) {
    return std::abs(a) < std::abs(b);
  });
  const double frame = static_cast<double>(impulse.startFrame + (loudest - response.begin()));
  const double expected = (room.latencyMs / 1000.0 + 2 * 0.45 / speed) * 44100;
  EXPECT_NEAR(frame, expected, 2.0);
}

}  // namespace
