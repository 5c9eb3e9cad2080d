#include "audio/stderr_filter.h"

#include <gtest/gtest.h>
#include <portaudio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "audio/portaudio_backend.h"

namespace {

TEST(StderrFilter, KnowsPortAudiosDiagnosticsAndNothingElse) {
  EXPECT_TRUE(isPortAudioDiagnostic(
      "Expression 'ret' failed in 'src/hostapi/alsa/pa_linux_alsa.c', line: 1812\n"));
  EXPECT_TRUE(isPortAudioDiagnostic(
      "Expression 'PaAlsaStream_WaitForFrames( stream, &framesAvail, &xrun )' failed in "
      "'src/hostapi/alsa/pa_linux_alsa.c', line: 4285\n"));
  EXPECT_FALSE(isPortAudioDiagnostic("mervane-cli: play and record of ping 2 failed: x\n"));
  EXPECT_FALSE(isPortAudioDiagnostic("Expression of interest\n"));
}

// What reaches file descriptor 2 once the filter is in place: ours and Qt's lines pass, in
// order, PortAudio's do not, also when a line comes in pieces.
TEST(StderrFilter, PassesEverythingButTheDiagnostics) {
  char name[] = "/tmp/mervane-stderr-XXXXXX";
  const int capture = mkstemp(name);
  ASSERT_GE(capture, 0);
  std::fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  dup2(capture, STDERR_FILENO);
  filterPortAudioDiagnostics();
  std::fprintf(stderr, "first line\n");
  std::fprintf(stderr,
               "Expression 'err' failed in 'src/hostapi/alsa/pa_linux_alsa.c', line: 3355\n");
  std::fprintf(stderr, "Expr");
  std::fprintf(stderr, "ession 'x' failed in 'src/common/pa_front.c', line: 1\nsecond ");
  std::fprintf(stderr, "line\n");
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(capture);
  std::ifstream in(name);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(name);
  EXPECT_EQ(text.str(), "first line\nsecond line\n");
}

}  // namespace

namespace {

WaveError paCode(PaError e) {
  return hostWaveError(e);
}

// A sound server that goes away reads the same whenever it happens: while a stream opens or
// starts (PortAudio's raw texts) as later under a running stream.
TEST(PortAudioTexts, EveryDeviceFaultHasOneWording) {
  const std::string stopped = portAudioErrorText(kWaveDeviceStopped);
  EXPECT_EQ(stopped, "The sound system stopped the audio device.");
  for (const PaError e : {paDeviceUnavailable, paBadIODeviceCombination, paUnanticipatedHostError,
                          paInternalError, paTimedOut}) {
    EXPECT_EQ(portAudioErrorText(paCode(e)), stopped) << Pa_GetErrorText(e);
  }
  // Usage, not a fault: told as it is.
  EXPECT_EQ(portAudioErrorText(paCode(paInvalidSampleRate)), "Invalid sample rate");
  EXPECT_EQ(portAudioErrorText(kWaveNoDevice), "There is no audio device for this direction.");
}

}  // namespace
