// The quiet chirp in the dialogs: the out-signal preset and the audio check's verdict on whether
// the loudspeaker and microphone carry it.
#include "dialogs/quiet_chirp_check.h"

#include <gtest/gtest.h>

#include <cmath>

#include "audio/sim_backend.h"
#include "dialogs/audio_check_logic.h"
#include "dialogs/out_signal_logic.h"
#include "engine/chirp.h"
#include "test_program.h"

namespace {

std::unique_ptr<AudioBackend> roomBackend(const char* keys) {
  SimRoom room;
  EXPECT_EQ(parseSimRoom(keys, room), "");
  room.speedMps = speedOfSound(kAir);
  return std::make_unique<SimBackend>(room);
}

TEST_F(ProgramTest, QuietChirpPresetSwitchesTheFormatOnCommit) {
  OutSignalControls c = quietChirpControls(settings(), outSignalControlsFor(settings()));
  EXPECT_EQ(c.startFrequency, 18000u);
  EXPECT_EQ(c.endFrequency, 23000u);
  EXPECT_EQ(c.chirpTime, 3000u);
  c.recordTime = 60;  // edited after the preset: still taken
  commitOutSignal(program, shell, c);
  const SonarSettings& s = settings();
  EXPECT_EQ(s.waveFormat.samplesPerSec, 48000u);
  EXPECT_EQ(s.waveFormat.avgBytesPerSec, 192000u);
  EXPECT_EQ(s.offsetBytes, 650u);
  EXPECT_EQ(s.recordTime, 60u);
  EXPECT_TRUE(chirpSweep(s).quiet());
  EXPECT_TRUE(shell.messages.empty()) << shell.messages[0].text;  // no fold, no device error
  EXPECT_TRUE(sameWaveFormat(program.pair.openFormat, s.waveFormat));
}

TEST_F(ProgramTest, AudioCheckSaysThePlainRoomCarriesTheQuietChirp) {
  applyQuietChirp(settings());
  runAudioCheck(program, shell);
  ASSERT_EQ(shell.messages.size(), 2u);
  EXPECT_EQ(shell.messages[1].caption, kCaptionQuietChirp);
  EXPECT_EQ(shell.messages[1].text.rfind("The loudspeaker and microphone carry the quiet chirp "
                                         "(18000 Hz to 23000 Hz): its direct sound arrives ",
                                         0),
            0u)
      << shell.messages[1].text;
}

TEST_F(ProgramTest, AudioCheckOfAnAudibleChirpSaysNothingOfTheQuietOne) {
  runAudioCheck(program, shell);
  EXPECT_EQ(shell.messages.size(), 1u);
}

// Devices that fall off steeply above 8 kHz: the quiet chirp arrives far below the audible one.
class DullDevicesTest : public ProgramTest {
 protected:
  DullDevicesTest() : ProgramTest(roomBackend("preset=desk,micresponse=lowpass:8000:8")) {}
};

TEST_F(DullDevicesTest, AudioCheckSaysTheQuietChirpIsNotCarried) {
  applyQuietChirp(settings());
  const QuietChirpReach reach = measureQuietChirpReach(program, shell);
  EXPECT_TRUE(reach.heard());
  EXPECT_LT(reach.levelDb(), -40.0);
  const std::string verdict = quietChirpVerdict(settings(), reach);
  EXPECT_NE(verdict.find("hardly carry the quiet chirp"), std::string::npos) << verdict;
  EXPECT_NE(verdict.find("too weak to range with"), std::string::npos) << verdict;
  // The chirp the user chose is kept.
  EXPECT_EQ(settings().startFrequency, 18000u);
  EXPECT_EQ(settings().chirpTime, 3000u);
}

// The laptop at the desk falls off above 20 kHz too, but not so far that the chirp is lost: it
// still carries it, weaker than a laptop whose microphone were flat, and the audible chirp as
// strongly.
QuietChirpReach deskReach(const char* keys) {
  struct Desk : ProgramTest {
    explicit Desk(const char* k) : ProgramTest(roomBackend(k)) {}
    void TestBody() override {}
    QuietChirpReach measure() {
      applyQuietChirp(settings());
      return measureQuietChirpReach(program, shell);
    }
  } desk(keys);
  return desk.measure();
}

TEST(DeskQuietChirp, TheLaptopsTopEndWeakensButCarriesIt) {
  const QuietChirpReach desk = deskReach("preset=desk");
  const QuietChirpReach flat = deskReach("preset=desk,micresponse=flat");
  EXPECT_TRUE(desk.carried());
  EXPECT_LT(20.0 * std::log10(desk.quietGain / flat.quietGain), -1.0);
  EXPECT_NEAR(20.0 * std::log10(desk.audibleGain / flat.audibleGain), 0.0, 0.5);
}

}  // namespace
