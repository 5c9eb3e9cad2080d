#include <gtest/gtest.h>

#include <vector>

#include "engine/calibration.h"
#include "engine/calibration_solve.h"
#include "engine/sonar_settings.h"

namespace {

struct PublishedSpeed {
  const char* name;
  double temperatureC;
  double humidityPercent;
  double speedMps;
};

// Dry air at sea-level pressure as the usual tables give it (the ideal gas with 331.3 m/s at
// 0 degrees C, which Cramer's fit exceeds by about 0.15 m/s); humid air from Cramer's own
// example; 0.2 m/s is about 0.6 mm at 1 m.
class AirSpeed : public testing::TestWithParam<PublishedSpeed> {};

TEST_P(AirSpeed, MatchesThePublishedValue) {
  const PublishedSpeed& p = GetParam();
  EXPECT_NEAR(speedOfSoundInAir(p.temperatureC, p.humidityPercent), p.speedMps, 0.2);
}

INSTANTIATE_TEST_SUITE_P(Tables, AirSpeed,
                         testing::Values(PublishedSpeed{"Dry0C", 0.0, 0.0, 331.3},
                                         PublishedSpeed{"Dry20C", 20.0, 0.0, 343.2},
                                         PublishedSpeed{"Dry30C", 30.0, 0.0, 349.0},
                                         PublishedSpeed{"Humid20C", 20.0, 50.0, 344.0}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(AirSpeed, HumidityRaisesItByTenthsOfAPercent) {
  // Water vapour is lighter than air: at 30 degrees C saturated air carries sound about 0.6 %
  // faster than dry air, at 0 degrees C hardly 0.1 % (Bohn 1988).
  const double warm = speedOfSoundInAir(30.0, 100.0) / speedOfSoundInAir(30.0, 0.0) - 1.0;
  const double cold = speedOfSoundInAir(0.0, 100.0) / speedOfSoundInAir(0.0, 0.0) - 1.0;
  EXPECT_GT(warm, 0.005);
  EXPECT_LT(warm, 0.008);
  EXPECT_GT(cold, 0.0005);
  EXPECT_LT(cold, 0.0015);
}

TEST(WaterSpeed, MatchesDelGrossoAndMader) {
  // Pure water at atmospheric pressure, Del Grosso and Mader (1972).
  EXPECT_NEAR(speedOfSoundInWater(0.0), 1402.39, 0.5);
  EXPECT_NEAR(speedOfSoundInWater(20.0), 1482.34, 0.5);
  EXPECT_NEAR(speedOfSoundInWater(40.0), 1528.89, 0.5);
}

TEST(SpeedInUse, UncalibratedIsTheMediumsOwn) {
  const Calibration none;
  EXPECT_FALSE(calibrated(none));
  for (const int8_t medium :
       {int8_t{kAir}, int8_t{kWater}, int8_t{kSteel}, int8_t{kGranite}, int8_t{9}}) {
    EXPECT_EQ(speedInUse(medium, none), speedOfSound(medium)) << int(medium);
  }
}

TEST(SpeedInUse, TemperatureMovesAirAndWaterOnly) {
  Calibration c;
  c.temperatureC = 25.0;
  EXPECT_TRUE(calibrated(c));
  EXPECT_EQ(speedInUse(kAir, c), speedOfSoundInAir(25.0, kDefaultHumidityPercent));
  EXPECT_EQ(speedInUse(kWater, c), speedOfSoundInWater(25.0));
  EXPECT_EQ(speedInUse(kSteel, c), 4513.0);
  EXPECT_EQ(speedInUse(kGranite, c), 500.0);
  c.speedMps = 345.5;  // solved at two distances: above the temperature's, for air only
  EXPECT_EQ(speedInUse(kAir, c), 345.5);
  EXPECT_EQ(speedInUse(kWater, c), speedOfSoundInWater(25.0));
}

TEST(SpeedInUse, AnOffsetAloneIsACalibration) {
  Calibration c;
  c.offsetMetres = 0.035;
  EXPECT_TRUE(calibrated(c));
  EXPECT_EQ(speedInUse(kAir, c), 337.6);
}

// Pings of a device whose echoes read `read(D)` for a wall at D, with a second, unrelated echo.
std::vector<EchoDistances> pingsOf(std::initializer_list<std::array<double, 2>> readings) {
  std::vector<EchoDistances> pings;
  for (const auto& r : readings) {
    EchoDistances e{};
    e[0] = r[0];
    e[1] = r[1];
    pings.push_back(e);
  }
  return pings;
}

TEST(SolveCalibration, OneDistanceGivesTheOffset) {
  const auto pings = pingsOf({{0.714, 2.1}, {0.716, 2.1}, {0.715, 2.1}, {0.715, 2.1}});
  const CalibrationSolution s = solveCalibration(pings, 337.6, 0.75, std::nullopt);
  ASSERT_TRUE(s.solved()) << s.problem;
  EXPECT_NEAR(s.offsetMetres, 0.035, 1e-9);
  EXPECT_FALSE(s.speedMps.has_value());
  EXPECT_NEAR(s.readingMetres, 0.715, 1e-9);
  EXPECT_NEAR(s.residualMetres, 0.000707, 1e-5);  // the pings' spread around their mean
}

TEST(SolveCalibration, TwoDistancesGiveSpeedAndOffset) {
  // Air at 346.1 m/s read at 337.6, and a device adding 30 mm.
  const double v = 346.1, v0 = 337.6, offset = 0.03;
  const auto read = [&](double d) { return (d - offset) * v0 / v; };
  const auto pings = pingsOf({{read(0.75), read(2.5)}, {read(0.75), read(2.5)}});
  const CalibrationSolution s = solveCalibration(pings, v0, 0.75, 2.5);
  ASSERT_TRUE(s.solved()) << s.problem;
  ASSERT_TRUE(s.speedMps.has_value());
  EXPECT_NEAR(*s.speedMps, v, 1e-6);
  EXPECT_NEAR(s.offsetMetres, offset, 1e-9);
  EXPECT_NEAR(s.residualMetres, 0.0, 1e-9);
}

TEST(SolveCalibration, RefusesWithTheReason) {
  struct Case {
    const char* name;
    std::vector<EchoDistances> pings;
    double distance;
    std::optional<double> second;
    const char* reason;
  };
  const std::vector<Case> cases{
      {"NoEchoNear",
       pingsOf({{0.60, 2.1}, {0.60, 2.1}}),
       0.75,
       {},
       "no echo within 10 % of 0.750 m"},
      {"OnePingMisses", pingsOf({{0.74, 2.1}, {0.0, 0.0}}), 0.75, {}, "in ping 2 (it found none)"},
      {"Disagree", pingsOf({{0.712, 2.1}, {0.718, 2.1}}), 0.75, {}, "disagree on the echo near"},
      {"TooClose", pingsOf({{0.74, 0.80}}), 0.75, 0.80, "at least 0.10 m apart"},
      {"NotAir", pingsOf({{0.74, 1.09}}), 0.75, 1.0, "speed of sound of"},
      {"NoPings", {}, 0.75, {}, "no pings"},
      {"ZeroDistance", pingsOf({{0.74, 1.9}}), 0.0, {}, "above 0 m"},
  };
  for (const Case& c : cases) {
    const CalibrationSolution s = solveCalibration(c.pings, 337.6, c.distance, c.second);
    EXPECT_FALSE(s.solved()) << c.name;
    EXPECT_NE(s.problem.find(c.reason), std::string::npos) << c.name << ": " << s.problem;
  }
}

TEST(SolveCalibration, FiveMillimetresOfSpreadStillPass) {
  const auto pings = pingsOf({{0.7125, 2.1}, {0.7175, 2.1}});
  EXPECT_TRUE(solveCalibration(pings, 337.6, 0.75, std::nullopt).solved());
}

}  // namespace
