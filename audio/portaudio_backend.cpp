#include "audio/portaudio_backend.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "audio/bounded_call.h"
#include "audio/duplex_block.h"
#include "audio/prepared_headers.h"
#include "audio/stderr_filter.h"
#include "audio/wave_pair.h"

struct PortAudioBackend::Stream {
  PaStream* pa = nullptr;
  Half* out = nullptr;
  Half* in = nullptr;
  CallbackLink link;
};

namespace {

static_assert(kInputUnderflow == paInputUnderflow && kInputOverflow == paInputOverflow &&
              kOutputUnderflow == paOutputUnderflow && kOutputOverflow == paOutputOverflow);
// Short enough that a wake-up lost between the check and the sleep costs little.
constexpr auto kWaitSlice = std::chrono::milliseconds(5);
// How long a running callback may take to let go of its buffers before the stream is stopped.
constexpr auto kFlushTimeout = std::chrono::milliseconds(250);
// How long a call that talks to the sound server may take. Opening a stream on a busy machine
// takes a few hundred milliseconds; a frozen server never answers.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MERVANE_SLOW_SANITIZER 1
#endif
#endif
#ifdef MERVANE_SLOW_SANITIZER
// ThreadSanitizer makes every call into the sound libraries several times slower.
constexpr auto kCallLimit = std::chrono::milliseconds(10000);
#else
constexpr auto kCallLimit = std::chrono::milliseconds(1500);
#endif
// How long a call that keeps computing may take in all: on a machine busy with other work,
// starting PortAudio (it probes every ALSA device) took 3 to 4.5 s at a load of 27 on 2 cores.
// A call waiting on a frozen server computes nothing and keeps kCallLimit.
constexpr auto kBusyCallLimit = std::chrono::milliseconds(10000);

WaveError fromPa(PaError e) {
  return e == paNoError ? kWaveOk : hostWaveError(e);
}

bool isPaCode(WaveError code) {
  return code.code == WaveCode::kHost;
}

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}

// ALSA and JACK report every probe PortAudio makes on stderr, and PortAudio its own internal
// failures; the user should see only ours.
void silenceLibraryChatter() {
  filterPortAudioDiagnostics();
  snd_lib_error_set_handler(quietAlsa);
  using Reporter = void (*)(void (*)(const char*));
  for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
    if (void* set = dlsym(RTLD_DEFAULT, name)) reinterpret_cast<Reporter>(set)(quietJack);
  }
}

PaStreamParameters streamParameters(int device, const WaveFormat& f, StreamDirection d) {
  PaStreamParameters p{};
  p.device = device;
  p.channelCount = f.channels;
  p.sampleFormat = f.bitsPerSample == 8 ? paUInt8 : paInt16;
  const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
  // The high latency: a busy machine holds a callback up for tens of milliseconds, and a
  // playback that runs dry meanwhile is prepared again by PortAudio alone, which moves it against
  // the capture and, through the PulseAudio plugin, now and then ends the stream. With the low
  // one, a stream at a rate the server resamples (48 kHz on a 44.1 kHz sink) runs dry in its
  // second callback and ends at once. The longer playback-to-record latency is what the offset
  // search finds. The capture asks for half its high latency: a new stream on the PulseAudio
  // test server settles anywhere within about 10 ms, and at the full high latency one in ten put
  // the chirp so late that a default recording no longer held it whole (the direct sound not
  // found, 45 of 800 pings under the CPU hog); at half it lands about 6 ms earlier (0 of 800).
  // The low one fails the stream at the rates the server resamples (22.05, 48, 96 kHz).
  p.suggestedLatency = info == nullptr                ? 0.05
                       : d == StreamDirection::kInput ? info->defaultHighInputLatency / 2
                                                      : info->defaultHighOutputLatency;
  return p;
}

// Both flags are sequentially consistent: either abandonLink sees this callback running, or the
// callback sees it abandoned.
int streamCallback(const void* input, void* output, unsigned long frames,
                   const PaStreamCallbackTimeInfo* times, PaStreamCallbackFlags flags, void* user) {
  CallbackLink& link = *static_cast<CallbackLink*>(user);
  link.running.store(true, std::memory_order_seq_cst);
  if (link.abandoned.load(std::memory_order_seq_cst)) {
    link.running.store(false, std::memory_order_release);
    return paAbort;
  }
  BlockTimes at;
  if (times != nullptr) {
    at = {times->currentTime, times->inputBufferAdcTime, times->outputBufferDacTime};
  }
  runBlock(link, input, output, frames, times != nullptr ? &at : nullptr,
           static_cast<uint32_t>(flags));
  link.running.store(false, std::memory_order_release);
  return paContinue;
}

// From now on the stream's callback touches nothing; once this returns, neither does one that
// had already started, so its halves may be dropped and freed. Our callback never blocks, so the
// wait is short; it is bounded all the same.
void abandonLink(CallbackLink& link) {
  link.abandoned.store(true, std::memory_order_seq_cst);
  const auto deadline = std::chrono::steady_clock::now() + kFlushTimeout;
  while (link.running.load(std::memory_order_seq_cst) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Pa_Terminate leaves ALSA's parsed configuration cached for the process; once no PortAudio
// session is left, it is released too, so a leak checker sees only our own memory.
void endPortAudioSession() {
  Pa_Terminate();
  if (Pa_GetDeviceCount() == paNotInitialized) snd_config_update_free_global();
}

int findDevice(const std::string& wanted) {
  const int count = Pa_GetDeviceCount();
  // Device names come in UTF-8: the <cctype> tests take their bytes as unsigned char.
  const auto isDigit = [](unsigned char c) { return std::isdigit(c) != 0; };
  if (!wanted.empty() && std::all_of(wanted.begin(), wanted.end(), isDigit) && wanted.size() < 6) {
    const int index = std::stoi(wanted);
    return index < count ? index : paNoDevice;
  }
  for (int i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (info != nullptr && info->name != nullptr && wanted == info->name) return i;
  }
  return paNoDevice;
}

}  // namespace

PortAudioBackend::PortAudioBackend(const std::string& device) : PortAudioBackend(device, device) {}

PortAudioBackend::PortAudioBackend(const std::string& inputDevice,
                                   const std::string& outputDevice) {
  silenceLibraryChatter();
  initError_ = bounded([] { return Pa_Initialize(); });
  if (initError_ != kWaveOk) return;
  inputDevice_ = Pa_GetDefaultInputDevice();
  outputDevice_ = Pa_GetDefaultOutputDevice();
  for (const auto& [name, index] :
       {std::pair{&inputDevice, &inputDevice_}, std::pair{&outputDevice, &outputDevice_}}) {
    if (name->empty()) continue;
    const int found = findDevice(*name);
    if (found == paNoDevice) {
      deviceProblem_ = "there is no audio device '" + *name + "' (mervane-cli devices lists them)";
    } else {
      *index = found;
    }
  }
}

PortAudioBackend::~PortAudioBackend() {
  while (!streams_.empty() && !noAnswer_) stopStream(streams_.back().get());
  if (noAnswer_) {
    // A thread may still be inside PortAudio with these: they stay, reachable, for the rest of
    // the process.
    struct Leftovers {
      std::vector<std::unique_ptr<Stream>> streams;
      std::map<StreamHandle, Half> halves;
      std::unique_ptr<DoneSignal> done;
    };
    // Made once and never destroyed, not even when the process exits: a thread left inside
    // PortAudio may still use what is kept here while static objects are torn down.
    static auto* const kept = new std::vector<Leftovers>;
    static auto* const keptMutex = new std::mutex;
    for (const auto& stream : streams_) abandonLink(stream->link);
    for (auto& stream : abandoned_) streams_.push_back(std::move(stream));
    const std::lock_guard lock(*keptMutex);
    kept->push_back(Leftovers{std::move(streams_), std::move(halves_), std::move(done_)});
    return;
  }
  if (initError_ == kWaveOk)
    bounded([] {
      endPortAudioSession();
      return paNoError;
    });
}

template <typename Call>
WaveError PortAudioBackend::bounded(Call call) {
  if (noAnswer_) return kWaveNoAnswer;
  const BoundedResult<PaError> result = callWithin<PaError>(
      kCallLimit, std::move(call), [this] { stalled(); }, std::chrono::milliseconds(100),
      kBusyCallLimit);
  switch (result.outcome) {
    case BoundedOutcome::kReturned:
      return fromPa(*result.value);
    case BoundedOutcome::kRefused:
      return kWaveNoThread;
    case BoundedOutcome::kNoAnswer:
      break;
  }
  noAnswer_ = true;
  return kWaveNoAnswer;
}

WaveError PortAudioBackend::deviceFault() const {
  if (noAnswer_) return kWaveNoAnswer;
  if (reviveFailed_) return kWaveDeviceStopped;
  for (const auto& stream : streams_) {
    if (Pa_IsStreamActive(stream->pa) != 1 && !mayRevive()) return kWaveDeviceStopped;
  }
  return kWaveOk;
}

uint64_t PortAudioBackend::progressCount() const {
  return done_->progress.load(std::memory_order_relaxed);
}

PortAudioBackend::Half* PortAudioBackend::find(StreamHandle handle) {
  const auto it = halves_.find(handle);
  return it == halves_.end() ? nullptr : &it->second;
}

WaveError PortAudioBackend::open(StreamDirection direction, const WaveFormat& format,
                                 StreamHandle& handle) {
  handle = 0;
  if (noAnswer_) return kWaveNoAnswer;
  if (initError_ != kWaveOk) return initError_;
  if (!deviceProblem_.empty()) return fromPa(paInvalidDevice);
  if (!isRunnablePcm(format)) return kWaveBadFormat;
  const bool input = direction == StreamDirection::kInput;
  const int device = input ? inputDevice_ : outputDevice_;
  if (device == paNoDevice) return kWaveNoDevice;
  const PaStreamParameters p = streamParameters(device, format, direction);
  const WaveError supported = bounded([input, p, rate = format.samplesPerSec] {
    return Pa_IsFormatSupported(input ? &p : nullptr, input ? nullptr : &p,
                                static_cast<double>(rate));
  });
  if (supported != fromPa(paFormatIsSupported)) return supported;

  const StreamHandle opened = nextHandle_++;
  Half& half = halves_[opened];
  half.direction = direction;
  half.format = format;
  half.device = device;
  // The partner of a pair: an open half of the other direction, same format, no stream yet.
  for (auto& [other, partner] : halves_) {
    if (other == opened || partner.stream != nullptr || partner.direction == direction ||
        !sameWaveFormat(partner.format, format)) {
      continue;
    }
    const WaveError e = input ? startStream(&partner, &half) : startStream(&half, &partner);
    if (e != kWaveOk) {
      halves_.erase(opened);
      return e;
    }
    break;
  }
  handle = opened;
  return kWaveOk;
}

WaveError PortAudioBackend::startStream(Half* out, Half* in) {
  auto s = std::make_unique<Stream>();
  s->out = out;
  s->in = in;
  s->link.done = done_.get();
  PaStreamParameters outParams{}, inParams{};
  const WaveFormat& format = out != nullptr ? out->format : in->format;
  if (out != nullptr) {
    outParams = streamParameters(out->device, out->format, StreamDirection::kOutput);
    s->link.out = out->transfer.get();
    s->link.outFrameBytes = out->format.blockAlign;
    s->link.silence = out->format.bitsPerSample == 8 ? 128 : 0;
  }
  if (in != nullptr) {
    inParams = streamParameters(in->device, in->format, StreamDirection::kInput);
    s->link.in = in->transfer.get();
    s->link.inFrameBytes = in->format.blockAlign;
  }
  // The stream object goes to the call's thread until it is known to have returned.
  Stream* raw = s.release();
  const WaveError e = bounded([raw, hasIn = in != nullptr, hasOut = out != nullptr, inParams,
                               outParams, rate = format.samplesPerSec] {
    PaError r = Pa_OpenStream(&raw->pa, hasIn ? &inParams : nullptr, hasOut ? &outParams : nullptr,
                              static_cast<double>(rate), paFramesPerBufferUnspecified, paNoFlag,
                              streamCallback, &raw->link);
    if (r != paNoError) return r;
    raw->link.rate = rate;
    if (const PaStreamInfo* info = Pa_GetStreamInfo(raw->pa); info != nullptr) {
      raw->link.nominalSkewSeconds = info->inputLatency + info->outputLatency;
      raw->link.settleFrames = static_cast<uint32_t>(info->outputLatency * rate);
      raw->link.minLeadSeconds = info->outputLatency / 2;
      raw->link.maxBacklogSeconds = info->inputLatency;
    }
    if (r = Pa_StartStream(raw->pa); r != paNoError) Pa_CloseStream(raw->pa);
    return r;
  });
  if (e == kWaveNoAnswer) {
    abandonLink(raw->link);
    abandoned_.emplace_back(raw);  // the call that never returned may still use it
    return e;
  }
  s.reset(raw);
  if (e != kWaveOk) return e;
  reviveFailed_ = false;
  if (out != nullptr) out->stream = s.get();
  if (in != nullptr) in->stream = s.get();
  streams_.push_back(std::move(s));
  return kWaveOk;
}

// After this no callback runs for the stream's halves; what they had queued stays in their
// rings and is taken up again by the next stream either half gets. Streams are stopped, never
// aborted: an abort cancels PortAudio's ALSA thread wherever it is (pthread_cancel), even inside
// a call a checker or the C library has wrapped, where a stop lets it leave its loop and end
// normally once the few milliseconds already handed to the device have played.
void PortAudioBackend::stopStream(Stream* stream) {
  PaStream* pa = stream->pa;
  const WaveError e = bounded([pa] {
    Pa_StopStream(pa);
    return Pa_CloseStream(pa);
  });
  if (noAnswer_ || e == kWaveNoThread) {
    // The call still holds the stream, or it could not be made and PortAudio still runs it: it
    // is abandoned, not freed.
    abandonLink(stream->link);
    for (auto& owned : streams_) {
      if (owned.get() == stream) abandoned_.push_back(std::move(owned));
    }
  }
  forgetStream(stream);
}

void PortAudioBackend::forgetStream(Stream* stream) {
  if (stream->out != nullptr) stream->out->stream = nullptr;
  if (stream->in != nullptr) stream->in->stream = nullptr;
  std::erase_if(streams_, [&](const auto& s) { return s.get() == stream || s == nullptr; });
}

WaveError PortAudioBackend::attach(Half& half) {
  if (half.stream != nullptr) return kWaveOk;
  const bool input = half.direction == StreamDirection::kInput;
  return startStream(input ? nullptr : &half, input ? &half : nullptr);
}

// Makes the callback let go of every buffer of the half, then queues again all but `cancelled`
// (from their start: only a cancelled buffer is ever cut short in practice).
void PortAudioBackend::takeBack(Half& half, const WaveHeader* cancelled) {
  TransferHalf& t = *half.transfer;
  // A stream that stopped by itself (its server ended) is closed, so the next buffer starts a
  // new one, which works again once the server is back.
  if (half.stream != nullptr && Pa_IsStreamActive(half.stream->pa) != 1) stopStream(half.stream);
  if (half.stream != nullptr && Pa_IsStreamActive(half.stream->pa) == 1) {
    const uint32_t wanted = t.flushRequest.fetch_add(1, std::memory_order_acq_rel) + 1;
    const auto deadline = std::chrono::steady_clock::now() + kFlushTimeout;
    while (t.flushDone.load(std::memory_order_acquire) != wanted) {
      if (std::chrono::steady_clock::now() >= deadline) {
        stopStream(half.stream);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  if (half.stream == nullptr || Pa_IsStreamActive(half.stream->pa) != 1) {
    dropQueued(t);
    t.flushDone.store(t.flushRequest.load(std::memory_order_acquire), std::memory_order_release);
  }
  requeue(half, cancelled);
}

// Only while no callback runs on the half: its ring is empty (or emptied by its callback).
void PortAudioBackend::requeue(Half& half, const WaveHeader* cancelled) {
  std::erase_if(half.queued, [&](WaveHeader* h) { return h == cancelled || h->done(); });
  for (WaveHeader* h : half.queued) half.transfer->queue.push(h);
}

bool PortAudioBackend::mayRevive() const {
  return revivedAt_ != done_->count.load(std::memory_order_acquire);
}

// PortAudio's thread now and then gives a stream up on a healthy but busy machine (the
// PulseAudio plugin fails a query right after PortAudio started a drained playback again). Such
// a stream is opened again, with the buffers it held queued again from their start, so a ping
// cut short is played and recorded whole; until a buffer completes, it gets no other chance. A
// server that is gone fails the new stream, and deviceFault tells that.
void PortAudioBackend::reviveEnded() {
  Stream* ended = nullptr;
  for (const auto& stream : streams_) {
    if (Pa_IsStreamActive(stream->pa) != 1) ended = stream.get();
  }
  if (ended == nullptr || !mayRevive()) return;
  revivedAt_ = done_->count.load(std::memory_order_acquire);
  Half* out = ended->out;
  Half* in = ended->in;
  stopStream(ended);
  if (noAnswer_) return;
  for (Half* half : {out, in}) {
    if (half == nullptr) continue;
    dropQueued(*half->transfer);
    requeue(*half, nullptr);
  }
  reviveFailed_ = startStream(out, in) != kWaveOk;
}

WaveError PortAudioBackend::close(StreamHandle handle) {
  Half* half = find(handle);
  if (half == nullptr) return kWaveBadHandle;
  if (half->stream != nullptr) stopStream(half->stream);
  halves_.erase(handle);
  return kWaveOk;
}

WaveError PortAudioBackend::prepare(StreamHandle handle, WaveHeader& header) {
  Half* half = find(handle);
  if (half == nullptr) return kWaveBadHandle;
  return rememberPrepared(half->prepared, header);
}

WaveError PortAudioBackend::unprepare(StreamHandle handle, WaveHeader& header) {
  Half* half = find(handle);
  if (half == nullptr) return kWaveBadHandle;
  const auto it = std::find(half->prepared.begin(), half->prepared.end(), &header);
  if (it == half->prepared.end()) return kWaveNotPrepared;
  half->prepared.erase(it);
  const bool queued =
      std::find(half->queued.begin(), half->queued.end(), &header) != half->queued.end();
  if (queued && !header.done()) takeBack(*half, &header);
  std::erase(half->queued, &header);
  return kWaveOk;
}

WaveError PortAudioBackend::enqueue(Half& half, WaveHeader& header) {
  if (std::find(half.prepared.begin(), half.prepared.end(), &header) == half.prepared.end()) {
    return kWaveNotPrepared;
  }
  std::erase_if(half.queued, [](WaveHeader* h) { return h->done(); });
  if (std::find(half.queued.begin(), half.queued.end(), &header) != half.queued.end() ||
      half.queued.size() >= HeaderRing::kCapacity) {
    return kWaveBadBuffer;
  }
  if (half.stream != nullptr) {
    if (const WaveError e = resynchronize(*half.stream); e != kWaveOk) return e;
  }
  header.flags.store(0, std::memory_order_release);
  // In a duplex stream a capture buffer waits for the playback queued right after it (or for
  // the next wait), so that both start in the same callback.
  if (half.stream != nullptr) half.stream->link.gate.hold();
  half.queued.push_back(&header);
  half.transfer->queue.push(&header);
  return attach(half);
}

// A duplex stream is opened anew when its playback has fallen far behind its capture or its
// callback found it disturbed (CallbackLink::disturbed), once it has finished the buffers it was
// playing and recording (it starts no others meanwhile); the buffers queued meanwhile start after
// it. Opened anew, not started again: a stream started again keeps what the sound server made of
// it, and on the PulseAudio plugin it came back 16 ms further apart than a new one (its playback
// is not filled from the start), enough to put a chirp past its recording's end; a loopback that
// lost a ping's sound went on losing it. A stream that cannot be opened again leaves the halves
// without one, which the next buffer tries again and the wait tells. One that ended by itself is
// left to reviveEnded and deviceFault: its server may be gone.
WaveError PortAudioBackend::resynchronize(Stream& s) {
  CallbackLink* link = &s.link;
  if (s.out == nullptr || s.in == nullptr) return kWaveOk;
  const bool ended = Pa_IsStreamActive(s.pa) != 1;
  const bool astray = link->lateMicroseconds.load(std::memory_order_acquire) >=
                          static_cast<int32_t>(kAstraySeconds * 1e6) ||
                      link->disturbed.load(std::memory_order_acquire);
  if (ended || !astray || link->busy.load(std::memory_order_acquire)) return kWaveOk;
  const uint32_t silent = link->silentPings.load(std::memory_order_relaxed);
  Half* out = s.out;
  Half* in = s.in;
  stopStream(&s);
  if (noAnswer_) return kWaveNoAnswer;
  const WaveError e = startStream(out, in);
  if (e == kWaveOk) out->stream->link.silentPings.store(silent, std::memory_order_relaxed);
  // The halves are left without a stream: the wait hears of it at once, not after a time-out.
  reviveFailed_ = e != kWaveOk;
  return e;
}

WaveError PortAudioBackend::addCaptureBuffer(StreamHandle handle, WaveHeader& header) {
  Half* half = find(handle);
  if (half == nullptr || half->direction != StreamDirection::kInput) return kWaveBadHandle;
  return enqueue(*half, header);
}

WaveError PortAudioBackend::startCapture(StreamHandle handle) {
  Half* half = find(handle);
  if (half == nullptr || half->direction != StreamDirection::kInput) return kWaveBadHandle;
  if (const WaveError e = attach(*half); e != kWaveOk) return e;
  half->transfer->capturing.store(true, std::memory_order_release);
  return kWaveOk;
}

WaveError PortAudioBackend::writePlayback(StreamHandle handle, WaveHeader& header) {
  Half* half = find(handle);
  if (half == nullptr || half->direction != StreamDirection::kOutput) return kWaveBadHandle;
  const WaveError e = enqueue(*half, header);
  if (half->stream != nullptr) half->stream->link.gate.release();
  return e;
}

void PortAudioBackend::waitForDone(uint32_t timeoutMs) {
  for (const auto& stream : streams_) stream->link.gate.release();
  std::unique_lock lock(waitMutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (done_->count.load(std::memory_order_acquire) == seenDone_) {
    reviveEnded();
    // Each stream once, by a list of its own: a stream opened anew replaces its entry.
    std::array<Stream*, 8> current{};
    const size_t count = std::min(current.size(), streams_.size());
    for (size_t i = 0; i < count; ++i) current[i] = streams_[i].get();
    for (size_t i = 0; i < count; ++i) resynchronize(*current[i]);
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline || deviceFault() != kWaveOk) break;
    done_->wake.wait_for(lock,
                         std::min<std::chrono::steady_clock::duration>(deadline - now, kWaitSlice));
  }
  seenDone_ = done_->count.load(std::memory_order_acquire);
}

std::string PortAudioBackend::errorText(WaveError code) const {
  return portAudioErrorText(code);
}

std::string portAudioErrorText(WaveError code) {
  if (std::string own = ownWaveErrorText(code); !own.empty()) return own;
  if (!isPaCode(code)) return "Audio error " + waveErrorNumber(code) + ".";
  const auto e = static_cast<PaError>(code.host);
  // A sound server that ends or vanishes while a stream opens or starts surfaces as any of these;
  // the user hears the same thing whenever it happens.
  if (e == paDeviceUnavailable || e == paBadIODeviceCombination || e == paUnanticipatedHostError ||
      e == paInternalError || e == paTimedOut) {
    return ownWaveErrorText(kWaveDeviceStopped);
  }
  std::string text = Pa_GetErrorText(e);
  if (e == paUnanticipatedHostError) {
    const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
    if (host != nullptr && host->errorText != nullptr) text += std::string(": ") + host->errorText;
  }
  return text.substr(0, 256);
}

WaveError listAudioDevices(std::vector<AudioDeviceInfo>& devices) {
  devices.clear();
  silenceLibraryChatter();
  struct Listing {
    PaError error = paNoError;
    std::vector<AudioDeviceInfo> devices;
  };
  // Asking for the devices talks to the sound server, which may be frozen.
  const BoundedResult<Listing> listing = callWithin<Listing>(
      kCallLimit,
      [] {
        Listing l;
        if (l.error = Pa_Initialize(); l.error != paNoError) return l;
        const int defaultIn = Pa_GetDefaultInputDevice();
        const int defaultOut = Pa_GetDefaultOutputDevice();
        for (int i = 0; i < Pa_GetDeviceCount(); ++i) {
          const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
          if (info == nullptr) continue;
          const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
          l.devices.push_back({i, info->name != nullptr ? info->name : "",
                               api != nullptr && api->name != nullptr ? api->name : "",
                               info->maxInputChannels, info->maxOutputChannels, i == defaultIn,
                               i == defaultOut});
        }
        endPortAudioSession();
        return l;
      },
      {}, std::chrono::milliseconds(100), kBusyCallLimit);
  if (listing.outcome == BoundedOutcome::kRefused) return kWaveNoThread;
  if (!listing.value) return kWaveNoAnswer;
  devices = listing.value->devices;
  return fromPa(listing.value->error);
}
