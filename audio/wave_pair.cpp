#include "audio/wave_pair.h"

#include <algorithm>

namespace {

// Wait slices [ms]. The ping waits on its play header in 5 s slices and on its record header in
// 10 s slices, the warm-up in 3 s slices; the stand-alone routines use 5 s slices.
constexpr uint32_t kPlaySliceMs = 5000;
constexpr uint32_t kRecordSliceMs = 10000;
constexpr uint32_t kWarmUpSliceMs = 3000;
constexpr uint32_t kStandAloneSliceMs = 5000;
// A device gets this many slices beyond its buffer's own duration before it is given up on.
constexpr uint32_t kGiveUpSlices = 3;
// Each wait may also end early because another buffer of the operation finished (at most two
// others in any operation); those wakes must not eat into the allowance.
constexpr uint32_t kOtherBufferWakes = 2;
// Wait slice once a buffer is late [ms]: short, so a window stays painted while it waits.
constexpr uint32_t kStallSliceMs = 100;
// How late a buffer may be before the front end is told the device is stalling [ms]: every real
// device finishes a little after the buffer's own duration.
constexpr uint32_t kStallGraceMs = 250;

uint32_t clampedLength(std::span<uint8_t> data, uint32_t length) {
  return static_cast<uint32_t>(std::min<size_t>(length, data.size()));
}

void setUpHeader(WaveHeader& header, std::span<uint8_t> data, uint32_t length) {
  header.clear();
  header.data = data.data();
  header.length = clampedLength(data, length);
}

uint32_t bufferDurationMs(uint32_t lengthBytes, const WaveFormat& format) {
  if (format.avgBytesPerSec == 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(lengthBytes) * 1000u / format.avgBytesPerSec);
}

// Waits until the device marks the header done. Ends early with the back end's fault, or with
// kWaveTimedOut when nothing has moved for kLateAllowanceMs plus twice the buffer's duration by
// the back end's clock (a device that still delivers, however late, is waited for, up to
// kLateWaitsAtMost such spans beyond the buffer's end), or, for a back end whose clock stands
// still, after kGiveUpSlices waits beyond its duration; the caller then unprepares the header.
WaveError waitUntilDone(AudioBackend& backend, const WaveHeader& header, uint32_t sliceMs,
                        uint32_t durationMs) {
  const uint32_t allowedStill = durationMs / sliceMs + 1 + kGiveUpSlices + kOtherBufferWakes;
  const uint64_t allowance = kLateAllowanceMs + 2ull * durationMs;
  const uint64_t expectedEnd = backend.clockMs() + durationMs;
  const uint64_t latest = expectedEnd + kLateWaitsAtMost * allowance;
  uint64_t deadline = expectedEnd + allowance;
  uint64_t progress = backend.progressCount();
  uint32_t stillWaits = 0;
  while (!header.done()) {
    if (const WaveError fault = backend.deviceFault(); fault != kWaveOk) return fault;
    const uint64_t now = backend.clockMs();
    if (const uint64_t moved = backend.progressCount(); moved != progress) {
      progress = moved;
      deadline = std::min(latest, std::max(deadline, now + allowance));
    }
    if (stillWaits == allowedStill || now >= deadline) return kWaveTimedOut;
    const bool late = now >= expectedEnd;
    // Up to the buffer's end in one wait; once late, short waits, and once clearly late (not
    // just the device's own latency) the window gets painted between them.
    if (now >= expectedEnd + kStallGraceMs) backend.stalled();
    const uint64_t slice = late ? std::min<uint64_t>(kStallSliceMs, deadline - now)
                                : std::min<uint64_t>(sliceMs, expectedEnd - now);
    backend.waitForDone(static_cast<uint32_t>(slice));
    if (backend.clockMs() == now) ++stillWaits;
  }
  return kWaveOk;
}

// Makes both devices of the pair let go of their headers and takes them up again, so a device
// that finishes late never writes into buffers the caller moves on with, and the pair stays
// usable for the next ping.
void recoverPairHeaders(AudioBackend& backend, WavePair& pair) {
  backend.unprepare(pair.out, pair.outHeader);
  backend.unprepare(pair.in, pair.inHeader);
  backend.prepare(pair.out, pair.outHeader);
  backend.prepare(pair.in, pair.inHeader);
}

// Ends a stand-alone routine early: the header is released (if it was taken up) and the device
// closed, so nothing of the call stays behind. Returns the code that ended it.
WaveError endStandAlone(AudioBackend& backend, StreamHandle handle, WaveHeader* prepared,
                        WaveError code) {
  if (prepared != nullptr) backend.unprepare(handle, *prepared);
  backend.close(handle);
  return code;
}

WaveError runStandAlone(AudioBackend& backend, StreamDirection direction, std::span<uint8_t> data,
                        uint32_t length, const WaveFormat& format) {
  StreamHandle handle = 0;
  if (const WaveError e = backend.open(direction, format, handle); e != kWaveOk) {
    if (handle != 0) backend.close(handle);
    return e;
  }
  WaveHeader header;
  setUpHeader(header, data, length);
  if (const WaveError e = backend.prepare(handle, header); e != kWaveOk) {
    return endStandAlone(backend, handle, nullptr, e);
  }
  if (direction == StreamDirection::kOutput) {
    if (const WaveError e = backend.writePlayback(handle, header); e != kWaveOk) {
      return endStandAlone(backend, handle, &header, e);
    }
  } else {
    if (const WaveError e = backend.addCaptureBuffer(handle, header); e != kWaveOk) {
      return endStandAlone(backend, handle, &header, e);
    }
    if (const WaveError e = backend.startCapture(handle); e != kWaveOk) {
      return endStandAlone(backend, handle, &header, e);
    }
  }
  const uint32_t durationMs = bufferDurationMs(header.length, format);
  if (waitUntilDone(backend, header, kStandAloneSliceMs, durationMs) != kWaveOk) {
    return endStandAlone(backend, handle, &header, kWaveTimedOut);
  }
  if (const WaveError e = backend.unprepare(handle, header); e != kWaveOk) {
    return endStandAlone(backend, handle, nullptr, e);
  }
  return backend.close(handle);
}

}  // namespace

bool sameWaveFormat(const WaveFormat& a, const WaveFormat& b) {
  return a.formatTag == b.formatTag && a.channels == b.channels &&
         a.samplesPerSec == b.samplesPerSec && a.avgBytesPerSec == b.avgBytesPerSec &&
         a.blockAlign == b.blockAlign && a.bitsPerSample == b.bitsPerSample;
}

WaveError openPair(AudioBackend& backend, WavePair& pair, const WaveFormat& format,
                   std::span<uint8_t> play, uint32_t playLength, std::span<uint8_t> record,
                   uint32_t recordLength) {
  // Devices always run the format of the plan their buffers come from.
  if ((pair.out != 0 || pair.in != 0) && !sameWaveFormat(pair.openFormat, format)) {
    closePair(backend, pair);
  }
  if (pair.out == 0) {
    StreamHandle handle = 0;
    if (const WaveError e = backend.open(StreamDirection::kOutput, format, handle); e != kWaveOk) {
      return e;
    }
    pair.out = handle;
    pair.openFormat = format;
  }
  if (pair.in == 0) {
    StreamHandle handle = 0;
    if (const WaveError e = backend.open(StreamDirection::kInput, format, handle); e != kWaveOk) {
      return e;
    }
    pair.in = handle;
    pair.openFormat = format;
  }
  // The previous buffers may already be freed by a new plan: the devices let go of them first.
  if (pair.outHeader.data != nullptr) backend.unprepare(pair.out, pair.outHeader);
  if (pair.inHeader.data != nullptr) backend.unprepare(pair.in, pair.inHeader);
  setUpHeader(pair.outHeader, play, playLength);
  setUpHeader(pair.inHeader, record, recordLength);
  if (const WaveError e = backend.prepare(pair.out, pair.outHeader); e != kWaveOk) return e;
  return backend.prepare(pair.in, pair.inHeader);
}

WaveError pingPair(AudioBackend& backend, WavePair& pair) {
  if (pair.out == 0 || pair.in == 0) return kWaveNotOpen;
  if (const WaveError e = backend.addCaptureBuffer(pair.in, pair.inHeader); e != kWaveOk) {
    return e;
  }
  WaveError failed = backend.startCapture(pair.in);
  if (failed == kWaveOk) failed = backend.writePlayback(pair.out, pair.outHeader);
  const WaveFormat& format = pair.openFormat;
  if (failed == kWaveOk) {
    failed = waitUntilDone(backend, pair.outHeader, kPlaySliceMs,
                           bufferDurationMs(pair.outHeader.length, format));
  }
  if (failed == kWaveOk) {
    failed = waitUntilDone(backend, pair.inHeader, kRecordSliceMs,
                           bufferDurationMs(pair.inHeader.length, format));
  }
  // A record header left queued would be filled behind the caller's back and refused by the
  // next ping as queued twice.
  if (failed != kWaveOk) recoverPairHeaders(backend, pair);
  return failed;
}

WaveError flushInput(AudioBackend& backend, WavePair& pair, const WaveFormat& format) {
  if (pair.in == 0) return kWaveNotOpen;
  WaveHeader& header = pair.warmUpHeader;
  setUpHeader(header, pair.warmUpScratch, kWarmUpBytes);
  if (const WaveError e = backend.prepare(pair.in, header); e != kWaveOk) return e;
  WaveError failed = backend.addCaptureBuffer(pair.in, header);
  if (failed == kWaveOk) failed = backend.startCapture(pair.in);
  if (failed == kWaveOk) {
    failed = waitUntilDone(backend, header, kWarmUpSliceMs, bufferDurationMs(kWarmUpBytes, format));
  }
  const WaveError released = backend.unprepare(pair.in, header);
  return failed != kWaveOk ? failed : released;
}

void closePair(AudioBackend& backend, WavePair& pair) {
  if (pair.out != 0) {
    if (pair.outHeader.data != nullptr) backend.unprepare(pair.out, pair.outHeader);
    backend.close(pair.out);
  }
  if (pair.in != 0) {
    if (pair.inHeader.data != nullptr) backend.unprepare(pair.in, pair.inHeader);
    backend.close(pair.in);
  }
  pair.out = 0;
  pair.in = 0;
  pair.outHeader.clear();
  pair.inHeader.clear();
  pair.openFormat = WaveFormat{};
}

WaveError playOnce(AudioBackend& backend, std::span<uint8_t> data, uint32_t length,
                   const WaveFormat& format) {
  return runStandAlone(backend, StreamDirection::kOutput, data, length, format);
}

WaveError recordOnce(AudioBackend& backend, std::span<uint8_t> data, uint32_t length,
                     const WaveFormat& format) {
  return runStandAlone(backend, StreamDirection::kInput, data, length, format);
}
