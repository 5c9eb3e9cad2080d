#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "audio/audio_backend.h"

constexpr uint32_t kWarmUpBytes = 15000;

// The output and input devices kept open for the pings, with one prepared header each.
// After a successful buffer plan, openPair must run before the next ping: the headers point into
// the buffers of the plan they were prepared for.
struct WavePair {
  StreamHandle out = 0;
  StreamHandle in = 0;
  WaveHeader outHeader;
  WaveHeader inHeader;
  WaveFormat openFormat{};  // the format the open devices run
  // Scratch buffer of the warm-up recording; owned here so a ping allocates nothing and a device
  // that is slow to let go of it never writes into freed memory.
  std::array<uint8_t, kWarmUpBytes> warmUpScratch{};
  // Header of the warm-up recording; kept here, not on the stack, for the same reason.
  WaveHeader warmUpHeader;
};

// Whether two formats describe the same device setup (every field the devices look at).
bool sameWaveFormat(const WaveFormat& a, const WaveFormat& b);

// Opens whichever device is not open yet (reopening both when the format differs from the one
// they run), then sets up and prepares both headers over the given buffers. Lengths are bounded
// by the spans.
WaveError openPair(AudioBackend& backend, WavePair& pair, const WaveFormat& format,
                   std::span<uint8_t> play, uint32_t playLength, std::span<uint8_t> record,
                   uint32_t recordLength);
// Queues the record header, starts capture, plays the play header and waits for both.
WaveError pingPair(AudioBackend& backend, WavePair& pair);
// Records kWarmUpBytes into the pair's scratch buffer and discards them.
WaveError flushInput(AudioBackend& backend, WavePair& pair, const WaveFormat& format);
// Closes both devices (if open) and forgets them.
void closePair(AudioBackend& backend, WavePair& pair);
// Stand-alone play and record through a device of their own, closed again in every case.
WaveError playOnce(AudioBackend& backend, std::span<uint8_t> data, uint32_t length,
                   const WaveFormat& format);
WaveError recordOnce(AudioBackend& backend, std::span<uint8_t> data, uint32_t length,
                     const WaveFormat& format);
