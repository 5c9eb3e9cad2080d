#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/wave_format.h"

// The seam between the wave device pair and a sound system. A back end offers exactly what the
// pair's operations need: open a PCM output or input stream, attach a caller-owned buffer with a
// done flag, start capture, queue playback, and wake the caller when a buffer is done.
//
// What the caller (the WavePair operations) guarantees:
//  - a header's data/length describe memory that stays valid from prepare until unprepare or
//    close of the stream (whichever comes first), and the length never exceeds that memory;
//  - all calls come from one thread (the user-interface thread).
// What every back end must still check:
//  - handles: an unknown or closed handle is an error code, never a crash;
//  - formats it cannot run (channels, bits, rate) are an error code at open;
//  - it never touches a buffer after unprepare or close returns, even one still queued;
//  - it sets kHeaderDone on a header exactly when the device has finished with that buffer
//    (played every byte, or captured `length` bytes), possibly from another thread, and then
//    wakes waitForDone;
//  - unprepare of a header that is still queued takes it out of the queue (a capture buffer is
//    left as far as it was filled, a playback stops), so the caller may free the memory at once;
//  - a buffer whose length is not a whole number of frames is played or captured up to its last
//    byte (the partial frame padded with silence on playback);
//  - it never sends an open notification: waitForDone wakes only for buffers.
// The pair's operations never wait forever on a device, but a busy machine is not a dead device:
// a buffer ends the operation with kWaveTimedOut (after an unprepare, so a device that wakes up
// late never writes into memory the caller reused) only when nothing has moved for
// kLateAllowanceMs plus twice the buffer's own duration of the back end's clock (progressCount
// tells what moved), and in any case at kLateWaitsAtMost times that beyond its duration; a fault
// the back end has seen (deviceFault) ends it at once.

// What a wave operation came to. Our own outcomes are named; a code the sound system reported
// itself is kHost, with that code kept beside it for its own error text.
enum class WaveCode : uint8_t {
  kOk,
  kTimedOut,           // a device never finished its buffer
  kNotOpen,            // an operation on a device that is not open
  kBadHandle,          // unknown or closed handle, wrong direction
  kBadFormat,          // a format the device cannot run
  kBadBuffer,          // no memory behind a length, or queued twice
  kNotPrepared,        // a header that was not prepared
  kDeviceStopped,      // the sound system failed under a running device (a server that ended)
  kNoAnswer,           // a call into the sound system did not return in time (a frozen server)
  kNoThread,           // no thread for a bounded call into the sound system; the next may succeed
  kNoDevice,           // the system has no device of that direction at all
  kSessionEnded,       // a recorded session has no ping left
  kSessionUnreadable,  // a recorded session's file could not be read
  kSessionFormat,      // a recorded session's recording does not match its description
  kHost,               // the sound system's own code, in WaveError::host
};

struct WaveError {
  WaveCode code = WaveCode::kOk;
  int32_t host = 0;  // the sound system's own code when code is kHost, else 0

  friend constexpr bool operator==(WaveError, WaveError) = default;
};

constexpr WaveError hostWaveError(int32_t host) {
  return {WaveCode::kHost, host};
}

constexpr WaveError kWaveOk{};
constexpr WaveError kWaveTimedOut{WaveCode::kTimedOut};
constexpr WaveError kWaveNotOpen{WaveCode::kNotOpen};
// Misuse every back end reports the same way.
constexpr WaveError kWaveBadHandle{WaveCode::kBadHandle};
constexpr WaveError kWaveBadFormat{WaveCode::kBadFormat};
constexpr WaveError kWaveBadBuffer{WaveCode::kBadBuffer};
constexpr WaveError kWaveNotPrepared{WaveCode::kNotPrepared};
// A sound server that ended or vanished under a running device.
constexpr WaveError kWaveDeviceStopped{WaveCode::kDeviceStopped};
// A frozen sound server: nothing is asked of it again in this process.
constexpr WaveError kWaveNoAnswer{WaveCode::kNoAnswer};
constexpr WaveError kWaveNoThread{WaveCode::kNoThread};
constexpr WaveError kWaveNoDevice{WaveCode::kNoDevice};

// The number a message shows for a code the back end has no text for: the sound system's own,
// or ours above a base no sound system's codes reach.
inline std::string waveErrorNumber(WaveError error) {
  constexpr uint32_t kOwnCodeBase = 0x4D560000;
  return error.code == WaveCode::kHost
             ? std::to_string(error.host)
             : std::to_string(kOwnCodeBase + static_cast<uint32_t>(error.code));
}

// How long past its own duration a buffer may take before the device is given up on [ms]. A
// sound server needs a few hundred milliseconds at most even on a busy machine; a dead or frozen
// one is told to the user within a few seconds.
constexpr uint32_t kLateAllowanceMs = 1200;
// However much a device still moves, a buffer is given up this many allowances after its end.
constexpr uint32_t kLateWaitsAtMost = 2;

enum class StreamDirection { kOutput, kInput };
using StreamHandle = uint32_t;  // 0 = not open

constexpr uint32_t kHeaderDone = 1;

// A buffer given to a device: data, length in bytes and the done flag the device sets.
struct WaveHeader {
  uint8_t* data = nullptr;
  uint32_t length = 0;
  std::atomic<uint32_t> flags{0};

  bool done() const { return (flags.load(std::memory_order_acquire) & kHeaderDone) != 0; }
  void clear() {
    data = nullptr;
    length = 0;
    flags.store(0, std::memory_order_release);
  }
};

// The formats a back end may run at most: PCM (tag 1), mono or stereo, 8 or 16 bits, a block
// align that matches, a rate above 0. Every back end refuses the rest at open with
// kWaveBadFormat; one may refuse more (the simulated room needs a matching byte rate and a rate
// its clock divides).
inline bool isRunnablePcm(const WaveFormat& f) {
  return f.formatTag == 1 && (f.channels == 1 || f.channels == 2) &&
         (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
         f.blockAlign == f.channels * f.bitsPerSample / 8 && f.samplesPerSec > 0;
}

class AudioBackend {
 public:
  virtual ~AudioBackend() = default;
  virtual WaveError open(StreamDirection direction, const WaveFormat& format,
                         StreamHandle& handle) = 0;
  virtual WaveError close(StreamHandle handle) = 0;
  virtual WaveError prepare(StreamHandle handle, WaveHeader& header) = 0;
  virtual WaveError unprepare(StreamHandle handle, WaveHeader& header) = 0;
  // Queues a buffer for capture and clears its done flag.
  virtual WaveError addCaptureBuffer(StreamHandle handle, WaveHeader& header) = 0;
  virtual WaveError startCapture(StreamHandle handle) = 0;
  // Starts playing a buffer and clears its done flag.
  virtual WaveError writePlayback(StreamHandle handle, WaveHeader& header) = 0;
  // Returns when any buffer of any stream has become done since the last call, or after
  // timeoutMs (of the back end's own time: the simulated room lets it pass virtually). Callers
  // always look at the done flags again afterwards.
  virtual void waitForDone(uint32_t timeoutMs) = 0;
  // The text shown to the user for a code (at most 256 characters).
  virtual std::string errorText(WaveError code) const = 0;
  // The back end's own clock [ms]: real time, or the simulated room's virtual time.
  virtual uint64_t clockMs() const {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  }
  // A fault that no waiting will mend (the sound system stopped under a device, or stopped
  // answering), or kWaveOk. The waits look at it after every wake-up.
  virtual WaveError deviceFault() const { return kWaveOk; }
  // Counts every callback that moved sound between a device and a buffer, so a wait can tell a
  // device that is late (it still moves) from one that stopped; 0 for a back end that cannot tell.
  virtual uint64_t progressCount() const { return 0; }

  // Called now and then while an operation waits longer than its device should take, so the
  // front end can keep its window painted meanwhile. It must not use the back end.
  void setStallHook(std::function<void()> hook) { stallHook_ = std::move(hook); }
  void stalled() const {
    if (stallHook_) stallHook_();
  }

 private:
  std::function<void()> stallHook_;
};

// The texts of our own codes, shared by every back end's errorText; empty for any other code.
inline std::string ownWaveErrorText(WaveError code) {
  if (code == kWaveTimedOut) return "The audio device did not finish its buffer in time.";
  if (code == kWaveNotOpen) return "The audio device is not open.";
  if (code == kWaveBadHandle) return "The audio device handle is not valid.";
  if (code == kWaveBadFormat) return "The audio device cannot run this wave format.";
  if (code == kWaveBadBuffer) return "The audio buffer is not valid or is already queued.";
  if (code == kWaveNotPrepared) return "The audio buffer was not prepared.";
  if (code == kWaveDeviceStopped) return "The sound system stopped the audio device.";
  if (code == kWaveNoAnswer) return "The sound system stopped answering.";
  if (code == kWaveNoThread) return "No thread could be started for a call to the sound system.";
  if (code == kWaveNoDevice) return "There is no audio device for this direction.";
  return {};
}
