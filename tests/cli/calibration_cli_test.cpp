#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/calibration_file.h"
#include "tests/cli/cli_result.h"

namespace {

namespace fs = std::filesystem;

TEST(CalibrationFile, ReadsBackWhatItWrites) {
  CalibrationRecord r;
  r.calibration.offsetMetres = 0.035;
  r.calibration.temperatureC = 22.5;
  r.calibration.humidityPercent = 40.0;
  r.device = "sound card: \"USB\" \\ mic";
  r.made = "2026-12-09T03:10:00Z";
  const std::string text = calibrationFileText(r);
  EXPECT_EQ(text.rfind("{\"version\":1,\"speedOfSound\":345.", 0), 0u) << text;
  CalibrationRecord back;
  ASSERT_EQ(parseCalibrationFile(text, back), "") << text;
  // Read back, the speed stands for itself; the temperature it came from is kept as a record.
  EXPECT_NEAR(back.calibration.speedMps.value_or(0.0), speedInUse(kAir, r.calibration), 1e-4);
  EXPECT_DOUBLE_EQ(back.calibration.offsetMetres, 0.035);
  EXPECT_DOUBLE_EQ(back.calibration.temperatureC.value_or(0.0), 22.5);
  EXPECT_DOUBLE_EQ(back.calibration.humidityPercent, 40.0);
  EXPECT_EQ(back.device, r.device);
  EXPECT_EQ(back.made, r.made);

  CalibrationRecord none;
  none.calibration.offsetMetres = -0.01;
  ASSERT_EQ(parseCalibrationFile(calibrationFileText(none), back), "");
  EXPECT_FALSE(back.calibration.temperatureC.has_value());
  EXPECT_TRUE(has(calibrationFileText(none), "\"temperatureC\":null,\"humidityPercent\":null"));
}

TEST(CalibrationFile, RefusesWhatItCannotUseNamingTheMember) {
  const char* good = R"("speedOfSound":340,"offsetMetres":0.03,"device":"x","made":"t")";
  struct Case {
    std::string text;
    const char* named;
  };
  const std::vector<Case> cases{
      {"", "not JSON"},
      {"[1,2]", "not a JSON object"},
      {std::string("{\"version\":2,") + good + "}", "version"},
      {std::string("{") + good + "}", "version"},
      {R"({"version":1,"offsetMetres":0.03})", "speedOfSound"},
      {R"({"version":1,"speedOfSound":"fast","offsetMetres":0.03})", "speedOfSound"},
      {R"({"version":1,"speedOfSound":1480,"offsetMetres":0.03})", "speedOfSound"},
      {R"({"version":1,"speedOfSound":340,"offsetMetres":5})", "offsetMetres"},
      {R"({"version":1,"speedOfSound":340,"offsetMetres":0,"temperatureC":"warm"})",
       "temperatureC"},
      {R"({"version":1,"speedOfSound":340,"offsetMetres":0,"temperatureC":99})", "temperatureC"},
      {R"({"version":1,"speedOfSound":340,"offsetMetres":0,"humidityPercent":120})",
       "humidityPercent"},
      {R"({"version":1,"speedOfSound":340,"offsetMetres":0,"device":3})", "device"},
  };
  for (const Case& c : cases) {
    CalibrationRecord r;
    const std::string problem = parseCalibrationFile(c.text, r);
    EXPECT_TRUE(has(problem, c.named)) << c.text << " -> " << problem;
  }
}

TEST(CalibrationOptions, BadValuesExitTwoWithTheReason) {
  const fs::path dir = fs::temp_directory_path() / "mervane-calibration-options";
  fs::create_directories(dir);
  const std::string broken = (dir / "broken.json").string();
  std::ofstream(broken) << R"({"version":1,"speedOfSound":340})";
  struct Case {
    std::vector<std::string> words;
    const char* named;
  };
  const std::vector<Case> cases{
      {{"--humidity", "40", "settings"}, "--humidity needs --temperature"},
      {{"--temperature", "warm", "settings"}, "--temperature"},
      {{"--temperature", "25,5", "settings"}, "--temperature"},
      {{"--temperature", "90", "settings"}, "--temperature"},
      {{"--temperature", "20", "--humidity", "-3", "settings"}, "--humidity"},
      {{"--calibration", (dir / "missing.json").string(), "settings"}, "cannot be read"},
      {{"--calibration", dir.string(), "settings"}, "--calibration"},
      {{"--calibration", broken, "settings"}, "offsetMetres"},
      {{"--room", "temperature=20,speed=340", "ping"}, "temperature and speed"},
      {{"calibrate"}, "needs --distance"},
      {{"calibrate", "--distance", "-1"}, "--distance"},
      {{"calibrate", "--distance", "1", "--count", "0"}, "--count"},
      {{"calibrate", "--distance", "1", "--loud"}, "--loud"},
  };
  for (const Case& c : cases) {
    const CliResult r = cli(c.words);
    EXPECT_EQ(r.code, 2) << c.named << ": " << r.err;
    EXPECT_TRUE(has(r.err, c.named)) << r.err;
  }
  fs::remove_all(dir);
}

}  // namespace
