#include <gtest/gtest.h>
#include <portaudio.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/portaudio_backend.h"
#include "audio/wave_pair.h"

// The PortAudio back end's ways back from a lost stream, against a PortAudio of our own: this
// test program is linked with the functions below instead of the library. Its one device is a
// loopback that hands every played frame back to the capture kLoop frames later, block by
// block, on a thread of each stream's own and much faster than real time; what goes wrong (a
// stream PortAudio gives up mid-ping, a server that stays gone, a loopback that loses its sound)
// is planted, and comes at the same frame in every run.

namespace fake {

constexpr unsigned long kBlock = 64;
constexpr size_t kLoop = 100;  // beyond a block: played before it is heard

struct Faults {
  // The stream opened as number `endingStream` (1-based) ends by itself once it has played
  // `endAfterSound` frames that are not silence, as one PortAudio gives up on.
  int endingStream = 0;
  uint32_t endAfterSound = 0;
  bool deadOnceEnded = false;  // from then on no stream opens: a server that is gone
  bool mute = false;           // the capture hears digital silence only
};

struct Stream {
  PaStreamCallback* callback = nullptr;
  void* user = nullptr;
  int channels = 1;
  bool endsEarly = false;
  std::thread thread;
  std::atomic<bool> stopping{false};
  std::atomic<bool> active{false};
  PaStreamInfo info{};
};

std::mutex mutex;
Faults faults;
int opens = 0;       // streams opened
int refused = 0;     // opens refused
bool ended = false;  // a stream ended by itself

void run(Stream& s, bool mute) {
  std::vector<int16_t> air;  // what the capture hears, frame by frame (channel 0)
  size_t played = 0;
  uint32_t sound = 0;
  const size_t width = static_cast<size_t>(s.channels);
  std::vector<int16_t> in(kBlock * width), out(kBlock * width);
  PaStreamCallbackTimeInfo times{};
  while (!s.stopping.load()) {
    for (size_t i = 0; i < kBlock; ++i) {
      const int16_t heard = mute || played + i >= air.size() ? 0 : air[played + i];
      for (size_t c = 0; c < width; ++c) in[i * width + c] = heard;
    }
    s.callback(in.data(), out.data(), kBlock, &times, 0, s.user);
    air.resize(played + kBlock + kLoop, 0);
    for (size_t i = 0; i < kBlock; ++i) {
      air[played + kLoop + i] = out[i * width];
      if (out[i * width] != 0) ++sound;
    }
    played += kBlock;
    if (s.endsEarly && sound >= faults.endAfterSound) {
      const std::lock_guard lock(mutex);
      ended = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  s.active.store(false);
}

void reset(const Faults& f) {
  const std::lock_guard lock(mutex);
  faults = f;
  opens = 0;
  refused = 0;
  ended = false;
}

int openCount() {
  const std::lock_guard lock(mutex);
  return opens;
}

int refusedCount() {
  const std::lock_guard lock(mutex);
  return refused;
}

PaDeviceInfo device{2, "loopback", 0, 2, 2, 0.001, 0.001, 0.004, 0.004, 8000.0};

}  // namespace fake

PaError Pa_Initialize(void) {
  return paNoError;
}
PaError Pa_Terminate(void) {
  return paNoError;
}
PaDeviceIndex Pa_GetDeviceCount(void) {
  return 1;
}
PaDeviceIndex Pa_GetDefaultInputDevice(void) {
  return 0;
}
PaDeviceIndex Pa_GetDefaultOutputDevice(void) {
  return 0;
}
const PaDeviceInfo* Pa_GetDeviceInfo(PaDeviceIndex device) {
  return device == 0 ? &fake::device : nullptr;
}
const PaHostApiInfo* Pa_GetHostApiInfo(PaHostApiIndex) {
  return nullptr;
}
const char* Pa_GetErrorText(PaError) {
  return "fake PortAudio error";
}
const PaHostErrorInfo* Pa_GetLastHostErrorInfo(void) {
  return nullptr;
}
PaError Pa_IsFormatSupported(const PaStreamParameters*, const PaStreamParameters*, double) {
  return paFormatIsSupported;
}

PaError Pa_OpenStream(PaStream** stream, const PaStreamParameters* in,
                      const PaStreamParameters* out, double, unsigned long, PaStreamFlags,
                      PaStreamCallback* callback, void* user) {
  const std::lock_guard lock(fake::mutex);
  if (fake::ended && fake::faults.deadOnceEnded) {
    ++fake::refused;
    return paDeviceUnavailable;
  }
  if (in == nullptr || out == nullptr || in->sampleFormat != paInt16) return paInvalidFlag;
  auto* s = new fake::Stream;
  s->callback = callback;
  s->user = user;
  s->channels = in->channelCount;
  s->endsEarly = ++fake::opens == fake::faults.endingStream;
  s->info.inputLatency = 0.004;
  s->info.outputLatency = 0.004;
  *stream = s;
  return paNoError;
}

const PaStreamInfo* Pa_GetStreamInfo(PaStream* stream) {
  return &static_cast<fake::Stream*>(stream)->info;
}

PaError Pa_StartStream(PaStream* stream) {
  auto* s = static_cast<fake::Stream*>(stream);
  if (s->thread.joinable()) return paStreamIsNotStopped;
  bool mute = false;
  {
    const std::lock_guard lock(fake::mutex);
    mute = fake::faults.mute;
  }
  s->stopping = false;
  s->active = true;
  s->thread = std::thread([s, mute] { fake::run(*s, mute); });
  return paNoError;
}

PaError Pa_StopStream(PaStream* stream) {
  auto* s = static_cast<fake::Stream*>(stream);
  s->stopping = true;
  if (s->thread.joinable()) s->thread.join();
  return paNoError;
}

PaError Pa_CloseStream(PaStream* stream) {
  Pa_StopStream(stream);
  delete static_cast<fake::Stream*>(stream);
  return paNoError;
}

PaError Pa_IsStreamActive(PaStream* stream) {
  return static_cast<fake::Stream*>(stream)->active.load() ? 1 : 0;
}

namespace {

constexpr size_t kChirp = 400;   // frames played
constexpr size_t kRecord = 800;  // frames recorded

// One device pair at 8 kHz, mono, 16 bits, playing a ramp that is nowhere silent.
struct Pair {
  Pair() {
    format = {1, 1, 8000, 16000, 2, 16, 0};
    for (size_t i = 0; i < kChirp; ++i) chirp[i] = static_cast<int16_t>(1000 + i);
  }
  WaveError open() {
    return openPair(backend, pair, format,
                    {reinterpret_cast<uint8_t*>(chirp.data()), chirp.size() * 2},
                    static_cast<uint32_t>(chirp.size() * 2),
                    {reinterpret_cast<uint8_t*>(recorded.data()), recorded.size() * 2},
                    static_cast<uint32_t>(recorded.size() * 2));
  }
  // Whether the recording holds the whole chirp where the loopback puts it, and nothing else.
  bool heardWhole() const {
    for (size_t i = 0; i < kRecord; ++i) {
      const bool inChirp = i >= fake::kLoop && i < fake::kLoop + kChirp;
      if (recorded[i] != (inChirp ? chirp[i - fake::kLoop] : 0)) return false;
    }
    return true;
  }

  PortAudioBackend backend;
  WavePair pair;
  WaveFormat format;
  std::vector<int16_t> chirp = std::vector<int16_t>(kChirp, 0);
  std::vector<int16_t> recorded = std::vector<int16_t>(kRecord, 0);
};

// PortAudio gave the stream up with the chirp half played: it is opened once more, with both
// buffers queued again from their start, and the ping is played and recorded whole in it. Not a
// second measurement: the first one never reached its end.
TEST(PortAudioReopen, AStreamThatEndsMidPingIsOpenedOnceMoreAndThePingPlaysWhole) {
  fake::reset({.endingStream = 1, .endAfterSound = kChirp / 3});
  Pair p;
  ASSERT_EQ(p.open(), kWaveOk);
  ASSERT_EQ(pingPair(p.backend, p.pair), kWaveOk);
  EXPECT_EQ(fake::openCount(), 2);
  EXPECT_TRUE(p.heardWhole());
  // The stream it got goes on serving pings.
  std::fill(p.recorded.begin(), p.recorded.end(), int16_t{0});
  EXPECT_EQ(pingPair(p.backend, p.pair), kWaveOk);
  EXPECT_TRUE(p.heardWhole());
  EXPECT_EQ(fake::openCount(), 2);
}

// A server that is gone stays gone: one try to open a stream again, then the ping fails with the
// one wording every device fault has, and so does the next.
TEST(PortAudioReopen, AServerThatStaysGoneStillFails) {
  fake::reset({.endingStream = 1, .endAfterSound = kChirp / 3, .deadOnceEnded = true});
  Pair p;
  ASSERT_EQ(p.open(), kWaveOk);
  const WaveError failed = pingPair(p.backend, p.pair);
  EXPECT_EQ(failed, kWaveDeviceStopped);
  EXPECT_EQ(p.backend.errorText(failed), "The sound system stopped the audio device.");
  EXPECT_EQ(fake::refusedCount(), 1);
  EXPECT_NE(pingPair(p.backend, p.pair), kWaveOk);
  EXPECT_EQ(fake::openCount(), 1);
}

// A loopback that hears only digital silence has lost its sound: its stream is opened anew before
// the next ping, after the 1st, 2nd, 4th and 8th silent ping in a row, and not after the others,
// so a muted input is not reopened before every ping.
TEST(PortAudioReopen, SilentPingsOpenTheStreamAnewAfterThe1st2nd4th8th) {
  fake::reset({.mute = true});
  Pair p;
  ASSERT_EQ(p.open(), kWaveOk);
  std::vector<int> opened;
  for (int ping = 1; ping <= 9; ++ping) {
    ASSERT_EQ(pingPair(p.backend, p.pair), kWaveOk) << "ping " << ping;
    opened.push_back(fake::openCount());
  }
  // The stream a ping ran in: reopened before pings 2, 3, 5 and 9.
  EXPECT_EQ(opened, (std::vector<int>{1, 2, 3, 3, 4, 4, 4, 4, 5}));
}

// A loopback that hears its chirp is never reopened.
TEST(PortAudioReopen, PingsThatHearTheirChirpKeepTheirStream) {
  fake::reset({});
  Pair p;
  ASSERT_EQ(p.open(), kWaveOk);
  for (int ping = 1; ping <= 4; ++ping) {
    std::fill(p.recorded.begin(), p.recorded.end(), int16_t{0});
    ASSERT_EQ(pingPair(p.backend, p.pair), kWaveOk);
    EXPECT_TRUE(p.heardWhole()) << "ping " << ping;
  }
  EXPECT_EQ(fake::openCount(), 1);
}

}  // namespace
