#include "audio/sim_backend.h"

#include <algorithm>
#include <thread>

#include "audio/prepared_headers.h"
#include "audio/sim_response.h"
#include "audio/sim_shoebox.h"
#include "engine/sonar_settings.h"

namespace {

constexpr uint64_t kTicksPerMs = kSimTicksPerSecond / 1000;

// The room times everything by its byte rate and its own clock, so both must fit the format.
bool isPcmTheRoomCanRun(const WaveFormat& f) {
  return isRunnablePcm(f) &&
         f.avgBytesPerSec == static_cast<uint32_t>(f.blockAlign) * f.samplesPerSec &&
         simTicksPerFrame(f.samplesPerSec) != 0;
}

uint64_t framesOf(uint32_t lengthBytes, const WaveFormat& f) {
  return (static_cast<uint64_t>(lengthBytes) + f.blockAlign - 1) / f.blockAlign;
}

template <typename Entries>
auto findHeader(Entries& entries, const WaveHeader& header) {
  return std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
    if constexpr (std::is_pointer_v<std::decay_t<decltype(e)>>) {
      return e == &header;
    } else {
      return e.header == &header;
    }
  });
}

}  // namespace

SimBackend::SimBackend(const SimRoom& room, SimPacing pacing)
    : room_(room),
      paths_(roomPaths(room, room.speedMps.value_or(speedOfSound(kAir)))),
      pacing_(pacing) {
  const double speed = room.speedMps.value_or(speedOfSound(kAir));
  for (size_t c = 0; c < kSimMicChannels; ++c) {
    directDelaySeconds_[c] =
        room.shoebox ? shoeboxDirectDelay(room, c, speed) : room.latencyMs / 1000.0;
  }
}

SimBackend::Stream* SimBackend::find(StreamHandle handle) {
  const auto it = streams_.find(handle);
  return it == streams_.end() ? nullptr : &it->second;
}

PlayedSegment* SimBackend::segment(uint64_t id) {
  const auto it = std::find_if(played_.begin(), played_.end(),
                               [&](const PlayedSegment& p) { return p.id == id; });
  return it == played_.end() ? nullptr : &*it;
}

size_t SimBackend::preparedHeaders() const {
  size_t n = 0;
  for (const auto& [handle, s] : streams_) n += s.prepared.size();
  return n;
}

WaveError SimBackend::open(StreamDirection direction, const WaveFormat& format,
                           StreamHandle& handle) {
  handle = 0;
  if (!isPcmTheRoomCanRun(format)) return kWaveBadFormat;
  handle = nextHandle_++;
  Stream& s = streams_[handle];
  s.direction = direction;
  s.format = format;
  s.ticksPerFrame = simTicksPerFrame(format.samplesPerSec);
  s.serial = handle;
  return kWaveOk;
}

WaveError SimBackend::close(StreamHandle handle) {
  Stream* s = find(handle);
  if (s == nullptr) return kWaveBadHandle;
  while (!s->queue.empty()) stopEntry(*s, s->queue.size() - 1);
  streams_.erase(handle);
  return kWaveOk;
}

WaveError SimBackend::prepare(StreamHandle handle, WaveHeader& header) {
  Stream* s = find(handle);
  if (s == nullptr) return kWaveBadHandle;
  return rememberPrepared(s->prepared, header);
}

WaveError SimBackend::unprepare(StreamHandle handle, WaveHeader& header) {
  Stream* s = find(handle);
  if (s == nullptr) return kWaveBadHandle;
  const auto it = findHeader(s->prepared, header);
  if (it == s->prepared.end()) return kWaveNotPrepared;
  s->prepared.erase(it);
  if (const auto q = findHeader(s->queue, header); q != s->queue.end()) {
    stopEntry(*s, static_cast<size_t>(q - s->queue.begin()));
  }
  return kWaveOk;
}

WaveError SimBackend::addCaptureBuffer(StreamHandle handle, WaveHeader& header) {
  Stream* s = find(handle);
  if (s == nullptr || s->direction != StreamDirection::kInput) return kWaveBadHandle;
  if (findHeader(s->prepared, header) == s->prepared.end()) return kWaveNotPrepared;
  if (findHeader(s->queue, header) != s->queue.end()) return kWaveBadBuffer;
  header.flags.store(0, std::memory_order_release);
  s->queue.push_back(Queued{&header, framesOf(header.length, s->format)});
  layOut(*s, s->queue.size() - 1);
  return kWaveOk;
}

WaveError SimBackend::startCapture(StreamHandle handle) {
  Stream* s = find(handle);
  if (s == nullptr || s->direction != StreamDirection::kInput) return kWaveBadHandle;
  if (!s->capturing) {
    s->capturing = true;
    s->captureStartTick = now_;
    s->claimedUntil = 0;
    layOut(*s, 0);
  }
  return kWaveOk;
}

WaveError SimBackend::writePlayback(StreamHandle handle, WaveHeader& header) {
  Stream* s = find(handle);
  if (s == nullptr || s->direction != StreamDirection::kOutput) return kWaveBadHandle;
  if (findHeader(s->prepared, header) == s->prepared.end()) return kWaveNotPrepared;
  if (findHeader(s->queue, header) != s->queue.end()) return kWaveBadBuffer;
  header.flags.store(0, std::memory_order_release);
  const uint64_t start = s->queue.empty() ? now_ : s->queue.back().doneTick;
  PlayedSegment sound = decodePlayed({header.data, header.length}, s->format, start);
  sound.id = nextSegmentId_++;
  if (room_.realistic()) hear(s->format.samplesPerSec, sound);
  placeMovingReflectors(s->format.samplesPerSec, sound);
  Queued q{&header, sound.frames};
  q.startTick = start;
  q.doneTick = sound.endTick();
  q.segmentId = sound.id;
  played_.push_back(std::move(sound));
  s->queue.push_back(q);
  return kWaveOk;
}

// Capture buffers follow each other without a gap; the first one waiting takes the first frame
// that has not been sampled yet. Nothing is laid out before capture starts.
void SimBackend::layOut(Stream& s, size_t from) {
  if (!s.capturing || from >= s.queue.size()) return;
  uint64_t cursor = 0;
  if (from > 0) {
    cursor = s.queue[from - 1].firstFrame + s.queue[from - 1].frames;
  } else {
    const uint64_t sinceStart = now_ - s.captureStartTick;
    cursor = std::max(s.claimedUntil, (sinceStart + s.ticksPerFrame - 1) / s.ticksPerFrame);
  }
  for (size_t i = from; i < s.queue.size(); ++i) {
    Queued& q = s.queue[i];
    q.firstFrame = cursor;
    cursor += q.frames;
    q.doneTick = s.captureStartTick + cursor * s.ticksPerFrame;
  }
}

// Takes a queued buffer out before it is done: a playback stops sounding now (the ones queued
// behind it move up), a capture buffer is simply dropped. Its done flag stays clear.
void SimBackend::stopEntry(Stream& s, size_t index) {
  const Queued q = s.queue[index];
  s.queue.erase(s.queue.begin() + static_cast<std::ptrdiff_t>(index));
  if (s.direction == StreamDirection::kInput) {
    layOut(s, index);
    return;
  }
  if (PlayedSegment* sound = segment(q.segmentId)) {
    const uint64_t sounded = now_ > q.startTick ? (now_ - q.startTick) / s.ticksPerFrame : 0;
    sound->frames = std::min(sound->frames, sounded);
  }
  uint64_t start = index == 0 ? now_ : s.queue[index - 1].doneTick;
  for (size_t i = index; i < s.queue.size(); ++i) {
    Queued& next = s.queue[i];
    next.startTick = start;
    next.doneTick = start + next.frames * s.ticksPerFrame;
    if (PlayedSegment* sound = segment(next.segmentId)) sound->startTick = start;
    start = next.doneTick;
  }
}

uint64_t SimBackend::clockMs() const {
  return now_ / kTicksPerMs;
}

void SimBackend::waitForDone(uint32_t timeoutMs) {
  uint64_t target = now_ + static_cast<uint64_t>(timeoutMs) * kTicksPerMs;
  for (const auto& [handle, s] : streams_) {
    if (s.queue.empty()) continue;
    if (s.direction == StreamDirection::kOutput || s.capturing) {
      target = std::min(target, s.queue.front().doneTick);
    }
  }
  advanceTo(std::max(target, now_));
}

void SimBackend::advanceTo(uint64_t tick) {
  if (pacing_ == SimPacing::kRealTime && tick > now_) {
    std::this_thread::sleep_for(
        std::chrono::nanoseconds((tick - now_) * 1000000000ull / kSimTicksPerSecond));
  }
  now_ = tick;
  for (auto& [handle, s] : streams_) {
    if (s.direction == StreamDirection::kInput && !s.capturing) continue;
    while (!s.queue.empty() && s.queue.front().doneTick <= now_) {
      const Queued q = s.queue.front();
      s.queue.pop_front();
      if (s.direction == StreamDirection::kInput) s.claimedUntil = q.firstFrame + q.frames;
      complete(s, q);
    }
  }
  forgetInaudible();
}

void SimBackend::complete(Stream& s, const Queued& q) {
  if (s.direction == StreamDirection::kInput) {
    const CaptureSpan span{s.captureStartTick + q.firstFrame * s.ticksPerFrame, q.firstFrame,
                           s.serial, s.format};
    const RoomSound sound{paths_,        room_.noiseRms, room_.seed,     room_.realistic(),
                          room_.pinkRms, room_.dcOffset, room_.clipLevel};
    renderCapture(sound, played_, span, {q.header->data, q.header->length}, scratch_);
  }
  q.header->flags.fetch_or(kHeaderDone, std::memory_order_acq_rel);
}

// Played sound stays as long as a capture buffer still to come could hear it.
void SimBackend::forgetInaudible() {
  uint64_t earliest = now_;
  for (const auto& [handle, s] : streams_) {
    if (s.direction == StreamDirection::kInput && s.capturing && !s.queue.empty()) {
      const uint64_t first = s.captureStartTick + s.queue.front().firstFrame * s.ticksPerFrame;
      earliest = std::min(earliest, first);
    }
  }
  std::erase_if(played_, [&](const PlayedSegment& p) {
    const uint64_t until = room_.realistic()
                               ? simHeardUntilTick(p)
                               : p.endTick() + simAudibleTicks(paths_, p.ticksPerFrame);
    return std::max(until, simMovingUntilTick(p)) < earliest;
  });
}

const RoomImpulse& SimBackend::impulseFor(uint32_t samplesPerSec) {
  for (const RoomImpulse& r : impulses_) {
    if (r.samplesPerSec == samplesPerSec) return r;
  }
  const double speed = room_.speedMps.value_or(speedOfSound(kAir));
  impulses_.push_back(buildRoomImpulse(room_, speed, samplesPerSec));
  return impulses_.back();
}

void SimBackend::hear(uint32_t samplesPerSec, PlayedSegment& sound) {
  HeardMemo& m = heardMemo_;
  if (m.samplesPerSec != samplesPerSec || m.channels != sound.channels ||
      m.samples != sound.samples) {
    hearSegment(impulseFor(samplesPerSec), room_.shoebox.has_value(), sound);
    m = {samplesPerSec, sound.channels,    sound.samples,
         sound.heard,   sound.heardFrames, sound.heardStartFrame};
    return;
  }
  sound.heard = m.heard;
  sound.heardFrames = m.heardFrames;
  sound.heardStartFrame = m.heardStartFrame;
}

// Only the moving reflectors are placed anew for each played buffer: where they stand when it
// starts to sound (a chirp lasts milliseconds, in which a breathing chest moves micrometres).
void SimBackend::placeMovingReflectors(uint32_t samplesPerSec, PlayedSegment& sound) {
  const bool anyMoving = std::any_of(room_.echoes.begin(), room_.echoes.end(),
                                     [](const SimEcho& e) { return e.moving(); });
  if (!anyMoving) return;
  if (!motionOriginTick_) motionOriginTick_ = sound.startTick;
  const double seconds = static_cast<double>(sound.startTick - *motionOriginTick_) /
                         static_cast<double>(kSimTicksPerSecond);
  const double speed = room_.speedMps.value_or(speedOfSound(kAir));
  for (size_t c = 0; c < kSimMicChannels; ++c) {
    for (const SimEcho& e : room_.echoes) {
      if (!e.moving()) continue;
      sound.movingPaths[c].push_back(
          {directDelaySeconds_[c] + 2.0 * echoDistanceAt(e, seconds) / speed, e.gain});
    }
  }
  if (!room_.realistic()) return;
  HeardMemo& m = colouredMemo_;
  if (m.samplesPerSec != samplesPerSec || m.channels != sound.channels ||
      m.samples != sound.samples) {
    const ResponseFilter filter =
        designResponse(room_.speaker, room_.microphone, static_cast<double>(samplesPerSec));
    colourMovingSource(filter.taps, filter.leadTaps, room_.shoebox.has_value(), sound);
    m = {samplesPerSec,      sound.channels,           sound.samples,
         sound.movingSource, sound.movingSourceFrames, sound.movingSourceStartFrame};
    return;
  }
  sound.movingSource = m.heard;
  sound.movingSourceChannels = room_.shoebox ? 1 : sound.channels;
  sound.movingSourceFrames = m.heardFrames;
  sound.movingSourceStartFrame = m.heardStartFrame;
}

std::string SimBackend::errorText(WaveError code) const {
  return ownWaveErrorText(code);
}
