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

using WaveError = uint32_t;
constexpr WaveError kWaveOk = 0;
// Codes of our own, apart from any code a back end reports itself (PortAudio's negative codes
// are kept as their 32-bit pattern, far above these).
constexpr WaveError kWaveTimedOut = 0x4D560001;  // a device never finished its buffer
constexpr WaveError kWaveNotOpen = 0x4D560002;   // an operation on a device that is not open
// Misuse every back end reports the same way.
constexpr WaveError kWaveBadHandle = 0x4D560003;    // unknown or closed handle, wrong direction
constexpr WaveError kWaveBadFormat = 0x4D560004;    // a format the device cannot run
constexpr WaveError kWaveBadBuffer = 0x4D560005;    // no memory behind a length, or queued twice
constexpr WaveError kWaveNotPrepared = 0x4D560006;  // a header that was not prepared
// The sound system failed under a running device (a sound server that ended or vanished).
constexpr WaveError kWaveDeviceStopped = 0x4D560007;
// A call into the sound system did not return in time (a frozen sound server): nothing is asked
// of it again in this process.
constexpr WaveError kWaveNoAnswer = 0x4D560008;
// The system gave no thread for a bounded call into the sound system, so it was not made; the
// next call may succeed.
constexpr WaveError kWaveNoThread = 0x4D560009;
// The system has no device of that direction at all.
constexpr WaveError kWaveNoDevice = 0x4D56000A;

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
