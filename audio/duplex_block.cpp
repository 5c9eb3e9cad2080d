#include "audio/duplex_block.h"

#include <algorithm>

namespace {

bool hasTimes(const BlockTimes* times) {
  return times != nullptr && times->current > 0.0 && times->inputAdc > 0.0 &&
         times->outputDac > 0.0;
}

double lateness(const CallbackLink& link, const BlockTimes& times) {
  return times.outputDac - times.inputAdc - link.nominalSkewSeconds;
}

// A playback that has just been prepared again after a gap (or not started yet: the host reports
// its output as due at once) plays its first block at a time no one knows yet.
void noteSteadiness(CallbackLink& link, const BlockTimes* times, uint32_t flags,
                    unsigned long frames) {
  if (hasTimes(times)) {
    link.lateMicroseconds.store(
        static_cast<int32_t>(std::clamp(lateness(link, *times) * 1e6, -1e9, 1e9)),
        std::memory_order_release);
  }
  const bool playing = !hasTimes(times) || times->outputDac != times->current;
  if (!playing || (flags & kAnyXrun) != 0) {
    link.steadyFrames.store(0, std::memory_order_relaxed);
  } else {
    const uint32_t steady = link.steadyFrames.load(std::memory_order_relaxed);
    link.steadyFrames.store(steady + static_cast<uint32_t>(std::min(frames, 1ul << 20)),
                            std::memory_order_relaxed);
  }
  if ((flags & (kInputOverflow | kOutputUnderflow | kOutputOverflow)) != 0) {
    link.disturbed.store(true, std::memory_order_release);
  }
}

// Whether a ping may start in this callback of a duplex stream. A callback that comes late
// finds the playback nearly drained or the input piled up: a ping started there has no room left
// for the next delay, and on a busy machine the next delay comes. Host APIs that report no times
// start buffers whenever the host has been steady.
bool steadyBlock(const CallbackLink& link, const BlockTimes* times, uint32_t flags) {
  if ((flags & kAnyXrun) != 0 || link.disturbed.load(std::memory_order_acquire)) return false;
  if (!hasTimes(times)) return true;
  // The input waiting for made-up frames is a backlog that stays (no callback takes more input
  // than it plays): the ping drops it, so it does not count as lateness.
  const double owed = link.rate > 0 ? link.lateInputFrames.load(std::memory_order_relaxed) /
                                          static_cast<double>(link.rate)
                                    : 0.0;
  const bool onTime = times->outputDac - times->current >= link.minLeadSeconds &&
                      times->current - times->inputAdc - owed <= link.maxBacklogSeconds;
  return link.steadyFrames.load(std::memory_order_relaxed) >= link.settleFrames && onTime &&
         lateness(link, *times) < kAstraySeconds;
}

// A host that runs a duplex callback before its input is ready hands over made-up input and
// plays the output all the same, so the capture falls behind the playback by those frames for
// as long as the stream runs (counted once the capture has delivered: a stream that is starting
// makes its input up while it fills its playback, which is the distance it starts at).
void noteMadeUpInput(CallbackLink& link, unsigned long frames, uint32_t flags) {
  if ((flags & kInputUnderflow) == 0) {
    link.inputFlowing = true;
  } else if (link.inputFlowing) {
    const uint32_t owed = link.lateInputFrames.load(std::memory_order_relaxed);
    link.lateInputFrames.store(owed + static_cast<uint32_t>(std::min(frames, 1ul << 20)),
                               std::memory_order_relaxed);
  }
}

// A ping whose whole recording is digital silence heard nothing, not even the noise of a
// microphone: its sound was lost on the way (a loopback whose playback gap the host never
// reported). The stream is started again before the next buffer, after the 1st, 2nd, 4th, 8th ...
// silent ping in a row: an input that is silent for good (muted) is not restarted before every
// ping.
void watchForSilence(CallbackLink& link, std::span<const uint8_t> block) {
  const uint8_t silence = link.silence;
  link.pingHeard = link.pingHeard || std::any_of(block.begin(), block.end(),
                                                 [silence](uint8_t b) { return b != silence; });
  if (link.in->current != nullptr) return;
  link.pingListening = false;
  const uint32_t silent = link.pingHeard ? 0 : link.silentPings.load() + 1;
  link.silentPings.store(silent, std::memory_order_relaxed);
  if (silent > 0 && (silent & (silent - 1)) == 0) {
    link.lostSound.store(true, std::memory_order_release);
    link.disturbed.store(true, std::memory_order_release);
  }
  link.pingHeard = false;
}

}  // namespace

void runBlock(CallbackLink& link, const void* input, void* output, unsigned long frames,
              const BlockTimes* times, uint32_t flags) {
  const bool duplex = link.out != nullptr && link.in != nullptr;
  if (duplex) noteSteadiness(link, times, flags, frames);
  if (duplex && input != nullptr) noteMadeUpInput(link, frames, flags);
  beginBlock(link.gate, link.out, link.in);
  bool ping = duplex && startsTogether(*link.out, *link.in);
  // A ping waits for a steady callback, half a second at most: then it starts lined up by the
  // stream's times as well as they go, rather than not at all.
  if (ping && !steadyBlock(link, times, flags) && link.heldFrames < link.rate / 2) {
    beginBlock(link.gate, link.out, link.in, true);
    link.heldFrames += static_cast<uint32_t>(frames);
    ping = false;
  } else {
    link.heldFrames = 0;
  }
  if (ping) {
    const uint64_t owed = link.lateInputFrames.load(std::memory_order_relaxed);
    link.in->skipBytes = static_cast<uint32_t>(
        std::min<uint64_t>(owed * std::max(link.inFrameBytes, 1u), UINT32_MAX));
  }
  if (link.out != nullptr && output != nullptr) {
    playInto(*link.out, {static_cast<uint8_t*>(output), frames * link.outFrameBytes},
             link.outFrameBytes, link.silence, *link.done);
  }
  // The silence handed over for input that was not ready is no sound at all: the sound captured
  // meanwhile comes in a later callback, and a recording that took the made-up silence too would
  // hold everything after it that much late (the chirp past its end).
  if (link.in != nullptr && input != nullptr && (flags & kInputUnderflow) == 0) {
    const std::span<const uint8_t> block{static_cast<const uint8_t*>(input),
                                         frames * link.inFrameBytes};
    captureFrom(*link.in, block, link.inFrameBytes, *link.done);
    if (ping) link.pingListening = true;
    if (duplex && link.pingListening) watchForSilence(link, block);
  }
  link.busy.store((link.out != nullptr && link.out->current != nullptr) ||
                      (link.in != nullptr && link.in->current != nullptr),
                  std::memory_order_release);
}
