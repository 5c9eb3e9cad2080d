#include "audio/duplex_block.h"

#include <algorithm>
#include <cmath>

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
    const uint32_t steady = link.steadyFrames.load(std::memory_order_relaxed) +
                            static_cast<uint32_t>(std::min(frames, 1ul << 20));
    link.steadyFrames.store(steady, std::memory_order_relaxed);
    link.settled = link.settled || (steady >= link.settleFrames && steady > 0);
  }
  if ((flags & (kInputOverflow | kOutputUnderflow | kOutputOverflow)) != 0) {
    link.disturbed.store(true, std::memory_order_release);
  }
}

// Any move of the distance the stream settled at (PortAudio preparing again a playback that the
// PulseAudio plugin let run dry without a word) puts the chirp elsewhere in the recording, past its
// end when the playback moved later: such a stream is opened anew. Judged only in steady
// callbacks, and only once several in a row agree, as the host's times wander.
void noteDrift(CallbackLink& link, const BlockTimes* times) {
  if (!hasTimes(times) || !link.settled ||
      link.steadyFrames.load(std::memory_order_relaxed) < link.settleFrames) {
    return;
  }
  const double late = lateness(link, *times);
  if (!link.hasSettledLateness) {
    link.hasSettledLateness = true;
    link.settledLateness = late;
    return;
  }
  if (std::abs(late - link.settledLateness) <= kDriftSeconds) {
    link.driftedBlocks = 0;
  } else if (++link.driftedBlocks >= kDriftBlocks) {
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
  const bool onTime = times->outputDac - times->current >= link.minLeadSeconds &&
                      times->current - times->inputAdc <= link.maxBacklogSeconds;
  return link.steadyFrames.load(std::memory_order_relaxed) >= link.settleFrames && onTime &&
         lateness(link, *times) < kAstraySeconds;
}

// A host that runs a duplex callback before its input is ready hands over made-up input and
// plays on, so the capture falls behind the playback for as long as the stream runs. By how much,
// no one says: on the PulseAudio plugin the frames made up moved the chirp by anything from 40 to
// 100 % of their number, and the host's times were no closer. A ping lined up by either landed
// tens of centimetres to metres off; the stream is opened anew instead (steadyBlock holds pings
// meanwhile).
void noteMadeUpInput(CallbackLink& link, uint32_t flags) {
  if ((flags & kInputUnderflow) != 0 && link.settled) {
    link.disturbed.store(true, std::memory_order_release);
  }
}

// A ping whose whole recording is digital silence heard nothing, not even the noise of a
// microphone: its sound was lost on the way (a loopback whose playback gap the host never
// reported). The stream is opened anew before the next buffer, after the 1st, 2nd, 4th, 8th ...
// silent ping in a row: an input that is silent for good (muted) is not reopened before every
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
    link.disturbed.store(true, std::memory_order_release);
  }
  link.pingHeard = false;
}

}  // namespace

void runBlock(CallbackLink& link, const void* input, void* output, unsigned long frames,
              const BlockTimes* times, uint32_t flags) {
  const bool duplex = link.out != nullptr && link.in != nullptr;
  if (duplex && input != nullptr) noteMadeUpInput(link, flags);
  if (duplex) noteSteadiness(link, times, flags, frames);
  if (duplex) noteDrift(link, times);
  beginBlock(link.gate, link.out, link.in);
  bool ping = duplex && startsTogether(*link.out, *link.in);
  // A ping waits for a steady callback, half a second at most: then it starts as well as it
  // can, rather than not at all.
  if (ping && !steadyBlock(link, times, flags) && link.heldFrames < link.rate / 2) {
    beginBlock(link.gate, link.out, link.in, true);
    link.heldFrames += static_cast<uint32_t>(frames);
    ping = false;
  } else {
    link.heldFrames = 0;
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
    // Only what goes into the ping's recording tells whether it heard anything: a chirp that
    // arrives just after its end was not recorded.
    const WaveHeader* recording = link.in->current;
    const size_t room = recording != nullptr ? recording->length - link.in->position : block.size();
    captureFrom(*link.in, block, link.inFrameBytes, *link.done);
    if (ping) link.pingListening = true;
    if (duplex && link.pingListening)
      watchForSilence(link, block.first(std::min(room, block.size())));
  }
  link.busy.store((link.out != nullptr && link.out->current != nullptr) ||
                      (link.in != nullptr && link.in->current != nullptr),
                  std::memory_order_release);
}
