#include "cli/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/wav_io.h"
#include "tests/cli/cli_result.h"

namespace {

TEST(CliSettings, DefaultsAsJson) {
  const CliResult r = cli({"settings", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* piece : {"\"startFrequency\":8000",
                            "\"endFrequency\":12000",
                            "\"chirpTime\":2000",
                            "\"recordTime\":48",
                            "\"offsetBytes\":600",
                            "\"deltaOffsetBytes\":2000",
                            "\"clockMultiplier\":4",
                            "\"tuneScale\":2",
                            "\"cutOff\":20",
                            "\"amplification\":300",
                            "\"gain\":0",
                            "\"medium\":1",
                            "\"channels\":2",
                            "\"bitsPerSample\":16",
                            "\"samplesPerSec\":44100",
                            "\"blockAlign\":4",
                            "\"avgBytesPerSec\":176400",
                            "\"inBufferBytes\":9670",
                            "\"outBufferBytes\":352",
                            "\"planOk\":true"}) {
    EXPECT_TRUE(has(r.out, piece)) << piece << "\n" << r.out;
  }
}

TEST(CliSettings, FormatFieldsRecomputeAlignmentAndRate) {
  const CliResult r = cli({"--json", "--set", "bitsPerSample=8", "--set", "channels=1", "--set",
                           "samplesPerSec=8000", "--set", "offsetBytes=75", "settings"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(has(r.out, "\"blockAlign\":1"));
  EXPECT_TRUE(has(r.out, "\"avgBytesPerSec\":8000"));
  EXPECT_TRUE(has(r.out, "\"inBufferBytes\":845"));
  EXPECT_TRUE(has(r.out, "\"outBufferBytes\":32"));
}

TEST(CliSettings, FailedPlanReportsPlaceholdersAndExitsOne) {
  const CliResult r = cli({"--json", "--set", "recordTime=3700", "settings"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.out, "\"inBufferBytes\":18706"));
  EXPECT_TRUE(has(r.out, "\"planOk\":false"));
}

TEST(CliUsage, BadInputExitsTwoAndNamesTheProblem) {
  struct Case {
    std::vector<std::string> words;
    const char* named;
  };
  const Case cases[] = {
      {{"--set", "colour=3", "settings"}, "colour"},
      {{"--set", "gain=ten", "settings"}, "gain"},
      {{"--set", "medium=-1", "settings"}, "medium"},
      {{"--set", "channels=70000", "settings"}, "channels"},
      {{"frobnicate"}, "frobnicate"},
      {{"--bogus", "settings"}, "--bogus"},
      {{"--backend", "portaudio", "--room", "noise=1", "settings"}, "--room"},
      {{}, "command"},
  };
  for (const Case& c : cases) {
    const CliResult r = cli(c.words);
    EXPECT_EQ(r.code, 2) << c.named;
    EXPECT_TRUE(has(r.err, c.named)) << r.err;
  }
  EXPECT_EQ(cli({"--set", "cutOff=5", "--set", "amplification=-300", "settings"}).code, 0);
}

// Values a file cannot hold, or that Open refuses, are refused when set, with the range; what
// counts is the value after the last --set, whatever their order.
TEST(CliUsage, SettingsThatFilesCannotHoldAreRefused) {
  const std::pair<const char*, const char*> refused[] = {
      {"clockMultiplier=1000", "clockMultiplier takes 1 to 255"},
      {"clockMultiplier=0", "clockMultiplier takes 1 to 255"},
      {"clockMultiplier=256", "clockMultiplier takes 1 to 255"},
      {"gain=256", "gain takes 0 to 255"},
      {"cutOff=-1", "cutOff takes 1 to 255"},
      {"startFrequency=4294967295", "startFrequency takes 0 to 1000000 Hz"},
      {"samplesPerSec=12345", "samplesPerSec takes 8000, 11025, 22050, 44100, 48000 or 96000 Hz"},
      {"bitsPerSample=12", "bitsPerSample takes 8 or 16 bits"},
      {"offsetBytes=0", "offsetBytes takes 1 to 32000 bytes"},
  };
  for (const auto& [assignment, range] : refused) {
    const CliResult r = cli({"--set", assignment, "settings"});
    EXPECT_EQ(r.code, 2) << assignment;
    EXPECT_TRUE(has(r.err, range)) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_EQ(cli({"--set", "bitsPerSample=12", "--set", "bitsPerSample=16", "settings"}).code, 0);
  EXPECT_EQ(cli({"--set", "gain=256", "--set", "gain=255", "settings"}).code, 0);
}

// The ends of the ranges travel through a file and come back as set.
TEST(CliUsage, TheEndsOfTheRangesComeBackFromTheirFile) {
  const auto file = std::filesystem::temp_directory_path() / "mervane_cli_extremes.par";
  const std::vector<std::string> words{"--set",      "clockMultiplier=255",
                                       "--set",      "gain=255",
                                       "--set",      "cutOff=255",
                                       "--set",      "displayMode=255",
                                       "--set",      "startFrequency=1000000",
                                       "--set",      "samplesPerSec=8000",
                                       "sweep",      "--columns",
                                       "1",          "--save",
                                       file.string()};
  ASSERT_EQ(cli(words).code, 0);
  const CliResult r = cli({"--load", file.string(), "--json", "settings"});
  std::filesystem::remove(file);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* value :
       {"\"clockMultiplier\":255,", "\"gain\":255,", "\"cutOff\":255,", "\"displayMode\":255,",
        "\"startFrequency\":1000000,", "\"samplesPerSec\":8000,"}) {
    EXPECT_TRUE(has(r.out, value)) << value << " in " << r.out;
  }
}

TEST(CliChirp, ReferenceAndPlayBufferLengths) {
  const CliResult r = cli({"chirp", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(has(r.out, "\"reference\":[0,17724,29836,32405,24525,8670,-10052,-25525,"));
  EXPECT_TRUE(has(r.out, "\"playBuffer\":[0,0,0,0,0,0,149,126,"));
  const size_t refItems = std::count(r.out.begin(), r.out.begin() + r.out.find("playBuffer"), ',');
  EXPECT_EQ(refItems, 356u);  // 356 values: 355 commas inside, one after the list
}

TEST(CliChirp, WavHoldsThePlayedPartInTheCurrentFormat) {
  const auto path = std::filesystem::temp_directory_path() / "mervane_chirp_test.wav";
  std::filesystem::remove(path);
  const CliResult r = cli({"--set", "bitsPerSample=8", "chirp", "--wav", path.string()});
  ASSERT_EQ(r.code, 0) << r.err;
  WavRecording wav;
  ASSERT_EQ(readWav(path.string(), 1u << 20, wav), "");
  EXPECT_EQ(wav.format.bitsPerSample, 8);
  EXPECT_EQ(wav.format.channels, 2);
  EXPECT_EQ(wav.bytes.size(), 176u);
  EXPECT_EQ(wav.bytes[3], 253);
  std::filesystem::remove(path);

  const CliResult failed = cli({"--set", "recordTime=3700", "chirp", "--wav", path.string()});
  EXPECT_EQ(failed.code, 1);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
