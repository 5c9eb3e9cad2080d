#include "dialogs/wave_format_logic.h"

#include <gtest/gtest.h>

#include "app/chirp_warning.h"
#include "case_name.h"

#include "test_program.h"

namespace {

struct FormatCase {
  const char* name;
  bool stereo;
  bool sixteenBit;
  int rateIndex;  // into kDialogRates
  uint16_t channels, bits, blockAlign;
  uint32_t avgBytesPerSec, offsetBytes, deltaOffsetBytes;
  bool chirpFolds;  // the default 8-12 kHz chirp reaches half the rate
};

class WaveFormatTest : public ProgramTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(WaveFormatTest, OkStoresFormatOffsetsAndReopensTheDevicesInIt) {
  const FormatCase& c = GetParam();
  settings().deltaOffsetBytes = 2000;  // as the offset dialog may have left it
  WaveFormatControls controls;
  controls.stereoChecked = c.stereo;
  controls.sixteenBitChecked = c.sixteenBit;
  controls.rateChecked[c.rateIndex] = true;
  commitWaveFormat(program, shell, controls);

  const WaveFormat& f = settings().waveFormat;
  EXPECT_EQ(f.channels, c.channels);
  EXPECT_EQ(f.bitsPerSample, c.bits);
  EXPECT_EQ(f.samplesPerSec, kDialogRates[c.rateIndex]);
  EXPECT_EQ(f.blockAlign, c.blockAlign);
  EXPECT_EQ(f.avgBytesPerSec, c.avgBytesPerSec);
  EXPECT_EQ(f.formatTag, 1);
  EXPECT_EQ(settings().offsetBytes, c.offsetBytes);
  EXPECT_EQ(settings().deltaOffsetBytes, c.deltaOffsetBytes);
  // The devices record in the format the buffers were planned for, and OK pinged in it.
  EXPECT_TRUE(sameWaveFormat(program.pair.openFormat, f));
  EXPECT_TRUE(program.pair.inHeader.done());
  // Committing a rate the default chirp folds at says so, once, and changes nothing else.
  if (c.chirpFolds) {
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].caption, kCaptionFoldedChirp);
    EXPECT_NE(shell.messages[0].text.find("folds back"), std::string::npos);
  } else {
    EXPECT_TRUE(shell.messages.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WaveFormatTest,
    testing::Values(FormatCase{"Mono8Bit8k", false, false, 0, 1, 8, 1, 8000, 37, 125, true},
                    FormatCase{"Stereo16Bit44k", true, true, 3, 2, 16, 4, 176400, 600, 1000, false},
                    // Mono at 16 bits sweeps half the frequencies: 4 to 6 kHz stay below 11 kHz.
                    FormatCase{"Mono16Bit22k", false, true, 2, 1, 16, 2, 44100, 300, 500, false},
                    FormatCase{"Stereo16Bit22k", true, true, 2, 2, 16, 4, 88200, 300, 500, true},
                    FormatCase{"Stereo8Bit11k", true, false, 1, 2, 8, 2, 22050, 75, 250, true},
                    FormatCase{"Stereo16Bit48k", true, true, 4, 2, 16, 4, 192000, 650, 1100, false},
                    FormatCase{"Mono8Bit96k", false, false, 5, 1, 8, 1, 96000, 650, 2200, false}),
    caseName<FormatCase>);

TEST_F(ProgramTest, WaveFormatWithoutACheckedRateKeepsTheRate) {
  WaveFormatControls controls = waveFormatControlsFor(settings().waveFormat);
  EXPECT_EQ(controls.rateChecked, (std::array<bool, 6>{false, false, false, true, false, false}));
  controls.rateChecked = {};
  controls.sixteenBitChecked = false;
  readWaveFormatControls(settings(), controls);
  EXPECT_EQ(settings().waveFormat.samplesPerSec, 44100u);
  EXPECT_EQ(settings().offsetBytes, 300u);
}

TEST_F(ProgramTest, WaveFormatPlanFailureRestoresTheDefaultFormat) {
  settings().recordTime = 3700;  // too long for 44.1 kHz, fine for 8 kHz
  WaveFormatControls controls;
  controls.sixteenBitChecked = true;
  controls.rateChecked[3] = true;
  commitWaveFormat(program, shell, controls);  // mono, 16 bits, 44.1 kHz
  EXPECT_EQ(settings().waveFormat.channels, 2);
  EXPECT_EQ(settings().waveFormat.bitsPerSample, 16);
  EXPECT_EQ(settings().recordTime, 48u);
  EXPECT_EQ(settings().deltaOffsetBytes, 2000u);
  EXPECT_TRUE(sameWaveFormat(program.pair.openFormat, settings().waveFormat));
}

}  // namespace
