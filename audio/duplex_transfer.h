#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <span>

#include "audio/audio_backend.h"

// The hand-off between the user-interface thread and a real-time audio callback: queued headers
// go over a lock-free single-producer ring, the callback copies sound in and out of them block by
// block, marks them done and wakes the waiting thread. The callback side never allocates and
// never takes a lock the user-interface thread holds: it touches only atomics, apart from the
// wake-up below.

// Wakes waitForDone. The callback only bumps a counter and notifies without the waiter's mutex; a
// wake-up lost in the gap between the waiter's check and its sleep is caught by short wait
// slices. The notify itself may take the condition variable's internal lock, which waiters and
// notifiers hold only for a few instructions, never across a wait: the callback can be delayed
// by it for that long, never blocked on the waiting thread.
struct DoneSignal {
  std::atomic<uint64_t> count{0};
  std::atomic<uint64_t> progress{0};  // callbacks that moved bytes of a header
  std::condition_variable wake;

  void raise() {
    count.fetch_add(1, std::memory_order_acq_rel);
    wake.notify_all();
  }
};

// Single producer (the user-interface thread), single consumer (the callback).
class HeaderRing {
 public:
  static constexpr uint32_t kCapacity = 8;
  bool push(WaveHeader* header);  // false when full
  WaveHeader* pop();              // null when empty
  // Position after the last header pushed so far, and pop() that stops there.
  uint32_t end() const { return tail_.load(std::memory_order_seq_cst); }
  uint32_t begin() const { return head_.load(std::memory_order_relaxed); }  // consumer only
  // Null also when the head has passed `end`; kNoStartLimit lets every header start.
  WaveHeader* popBefore(uint32_t end);
  static constexpr uint32_t kNoStartLimit = UINT32_MAX;

 private:
  std::array<std::atomic<WaveHeader*>, kCapacity> slots_{};
  std::atomic<uint32_t> head_{0};  // next slot to pop (consumer)
  std::atomic<uint32_t> tail_{0};  // next slot to push (producer)
};

// Lets the user-interface thread queue a capture and a playback buffer so that both start in the
// same callback, whatever the callback's timing: that is what keeps the playback-to-record
// latency of a duplex stream the same from ping to ping. While the generation is odd, no buffer
// starts; the callback takes a consistent snapshot of what was queued while it was even.
struct StartGate {
  std::atomic<uint32_t> generation{0};

  void hold() {
    if (generation.load(std::memory_order_seq_cst) % 2 == 0) generation.fetch_add(1);
  }
  void release() {
    if (generation.load(std::memory_order_seq_cst) % 2 == 1) generation.fetch_add(1);
  }
};

// One direction of a stream as the callback sees it.
struct TransferHalf {
  HeaderRing queue;
  std::atomic<bool> capturing{false};  // input: frames before startCapture are dropped
  // The user-interface thread asks for the queue to be emptied by bumping flushRequest; the
  // callback drops everything it holds and answers by copying it to flushDone.
  std::atomic<uint32_t> flushRequest{0};
  std::atomic<uint32_t> flushDone{0};
  // Owned by the callback (or by the user-interface thread while no callback runs).
  WaveHeader* current = nullptr;
  uint32_t position = 0;
  // Ring position up to which headers may start (set by beginBlock).
  uint32_t startLimit = HeaderRing::kNoStartLimit;
};

// Callback side, after beginBlock: whether a capture buffer and a playback buffer both start in
// this callback (a ping), so that the recording starts with the chirp it is to hear.
bool startsTogether(const TransferHalf& out, const TransferHalf& in);

// Callback side, once at the start of every callback: decides which queued headers may start in
// this callback (on both halves of a stream alike). `out` or `in` may be null. With `holdNew`
// none starts, as with a closed gate; those already started go on.
void beginBlock(const StartGate& gate, TransferHalf* out, TransferHalf* in, bool holdNew = false);

// Callback side: fills `out` (whole frames of `frameBytes`) from the queued play headers, with
// the `silence` byte where there are none; done headers are marked and signalled. Each header
// starts on a frame: a partial last frame is padded with silence.
void playInto(TransferHalf& half, std::span<uint8_t> out, uint32_t frameBytes, uint8_t silence,
              DoneSignal& done);
// Callback side: copies `in` (whole frames) into the queued capture headers once capture has
// started; frames with no header to take them are dropped, and so is the part of a frame that
// does not fit a header's end, so each header starts on a frame.
void captureFrom(TransferHalf& half, std::span<const uint8_t> in, uint32_t frameBytes,
                 DoneSignal& done);
// Drops every queued header at once. Only while no callback runs on the half.
void dropQueued(TransferHalf& half);
