#include "audio/replay_backend.h"

#include <algorithm>
#include <cstring>

#include "audio/prepared_headers.h"
#include "audio/wave_pair.h"

namespace {

uint64_t durationMs(uint32_t bytes, const WaveFormat& f) {
  return f.avgBytesPerSec == 0 ? 0 : uint64_t{bytes} * 1000 / f.avgBytesPerSec;
}

}  // namespace

ReplayBackend::ReplayBackend(RecordedSession session)
    : session_(std::move(session)), format_(session_.info.capture.format) {}

ReplayBackend::Stream* ReplayBackend::find(StreamHandle handle) {
  const auto it = streams_.find(handle);
  return it == streams_.end() ? nullptr : &it->second;
}

WaveError ReplayBackend::open(StreamDirection direction, const WaveFormat& format,
                              StreamHandle& handle) {
  handle = 0;
  if (!isRunnablePcm(format)) return kWaveBadFormat;
  // The recordings are what they are: a replay runs in the format they were made in.
  if (!sameWaveFormat(format, format_)) return kWaveSessionFormat;
  handle = nextHandle_++;
  streams_[handle].direction = direction;
  return kWaveOk;
}

WaveError ReplayBackend::close(StreamHandle handle) {
  Stream* s = find(handle);
  if (s == nullptr) return kWaveBadHandle;
  streams_.erase(handle);
  return kWaveOk;
}

WaveError ReplayBackend::prepare(StreamHandle handle, WaveHeader& header) {
  Stream* s = find(handle);
  if (s == nullptr) return kWaveBadHandle;
  return rememberPrepared(s->prepared, header);
}

WaveError ReplayBackend::unprepare(StreamHandle handle, WaveHeader& header) {
  Stream* s = find(handle);
  if (s == nullptr) return kWaveBadHandle;
  std::erase(s->prepared, &header);
  std::erase_if(s->captures, [&](const Capture& c) { return c.header == &header; });
  std::erase(s->playbacks, &header);
  return kWaveOk;
}

WaveError ReplayBackend::addCaptureBuffer(StreamHandle handle, WaveHeader& header) {
  Stream* s = find(handle);
  if (s == nullptr || s->direction != StreamDirection::kInput) return kWaveBadHandle;
  if (std::find(s->prepared.begin(), s->prepared.end(), &header) == s->prepared.end()) {
    return kWaveNotPrepared;
  }
  for (const Capture& c : s->captures) {
    if (c.header == &header) return kWaveBadBuffer;
  }
  header.flags.store(0, std::memory_order_release);
  s->captures.push_back(Capture{&header, false});
  return kWaveOk;
}

WaveError ReplayBackend::startCapture(StreamHandle handle) {
  Stream* s = find(handle);
  if (s == nullptr || s->direction != StreamDirection::kInput) return kWaveBadHandle;
  s->capturing = true;
  return kWaveOk;
}

WaveError ReplayBackend::writePlayback(StreamHandle handle, WaveHeader& header) {
  Stream* s = find(handle);
  if (s == nullptr || s->direction != StreamDirection::kOutput) return kWaveBadHandle;
  if (std::find(s->prepared.begin(), s->prepared.end(), &header) == s->prepared.end()) {
    return kWaveNotPrepared;
  }
  header.flags.store(0, std::memory_order_release);
  s->playbacks.push_back(&header);
  // Whatever is being captured while the chirp plays is the ping's recording.
  for (auto& [h, stream] : streams_) {
    for (Capture& c : stream.captures) c.ping = true;
  }
  return kWaveOk;
}

void ReplayBackend::fill(Capture& capture) {
  WaveHeader& h = *capture.header;
  const SessionPing& ping = session_.pings[next_];
  const PingFile file = capture.ping ? PingFile::kPing : PingFile::kWarmUp;
  const std::string path = session_.folder + "/" + sessionPingName(ping.index, file);
  const uint64_t expected = capture.ping ? session_.info.recordBytes : kWarmUpBytes;
  const std::string problem = readPcmWavFile(path, expected + 4096, WavPart::kSamples, scratch_);
  if (!problem.empty() || scratch_.format != pcmFormatOf(format_)) {
    readProblem_ = problem.empty() ? path + " changed its format" : problem;
    fault_ = kWaveSessionUnreadable;
    return;
  }
  const size_t n = std::min<size_t>(h.length, scratch_.bytes.size());
  if (n > 0) std::memcpy(h.data, scratch_.bytes.data(), n);
  // A header longer than the recording gets silence after it, in the format's own zero.
  if (h.length > n) std::memset(h.data + n, format_.bitsPerSample == 8 ? 0x80 : 0, h.length - n);
  nowMs_ += durationMs(h.length, format_);
  if (capture.ping) ++next_;
  h.flags.store(kHeaderDone, std::memory_order_release);
}

void ReplayBackend::waitForDone(uint32_t timeoutMs) {
  bool any = false;
  for (auto& [handle, s] : streams_) {
    while (fault_ == kWaveOk && !s.playbacks.empty()) {
      WaveHeader* h = s.playbacks.front();
      s.playbacks.pop_front();
      nowMs_ += durationMs(h->length, format_);
      h->flags.store(kHeaderDone, std::memory_order_release);
      any = true;
    }
    while (fault_ == kWaveOk && s.capturing && !s.captures.empty()) {
      if (next_ >= session_.pings.size()) {
        fault_ = kWaveSessionEnded;
        break;
      }
      Capture c = s.captures.front();
      s.captures.pop_front();
      fill(c);
      any = true;
    }
  }
  if (!any) nowMs_ += timeoutMs;
}

std::string ReplayBackend::errorText(WaveError code) const {
  if (code == kWaveSessionEnded) {
    return "The recorded session has ended: all " + std::to_string(session_.pings.size()) +
           " pings of " + session_.folder + " were played back.";
  }
  if (code == kWaveSessionFormat) {
    return "The recorded session was made at " + describePcmFormat(pcmFormatOf(format_)) +
           "; it plays back only in that format.";
  }
  if (code == kWaveSessionUnreadable) return "The recorded session cannot be read: " + readProblem_;
  if (std::string own = ownWaveErrorText(code); !own.empty()) return own;
  return "Replay error " + waveErrorNumber(code) + ".";
}
