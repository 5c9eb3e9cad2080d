#include "audio/duplex_transfer.h"

#include <algorithm>
#include <cstring>

namespace {

void serviceFlush(TransferHalf& half) {
  const uint32_t wanted = half.flushRequest.load(std::memory_order_acquire);
  if (wanted == half.flushDone.load(std::memory_order_relaxed)) return;
  dropQueued(half);
  half.flushDone.store(wanted, std::memory_order_release);
}

// The header the next bytes belong to, or null. Zero-length headers are done as soon as they
// come up.
WaveHeader* currentHeader(TransferHalf& half, DoneSignal& done) {
  while (half.current == nullptr) {
    WaveHeader* next = half.queue.popBefore(half.startLimit);
    if (next == nullptr) return nullptr;
    if (next->length == 0) {
      next->flags.fetch_or(kHeaderDone, std::memory_order_acq_rel);
      done.raise();
      continue;
    }
    half.current = next;
    half.position = 0;
  }
  return half.current;
}

void finishHeader(TransferHalf& half, DoneSignal& done) {
  half.current->flags.fetch_or(kHeaderDone, std::memory_order_acq_rel);
  half.current = nullptr;
  done.raise();
}

size_t roundUp(size_t bytes, uint32_t frameBytes) {
  if (frameBytes <= 1) return bytes;
  return (bytes + frameBytes - 1) / frameBytes * frameBytes;
}

}  // namespace

bool HeaderRing::push(WaveHeader* header) {
  const uint32_t tail = tail_.load(std::memory_order_relaxed);
  if (tail - head_.load(std::memory_order_acquire) >= kCapacity) return false;
  slots_[tail % kCapacity].store(header, std::memory_order_relaxed);
  tail_.store(tail + 1, std::memory_order_release);
  return true;
}

WaveHeader* HeaderRing::pop() {
  const uint32_t head = head_.load(std::memory_order_relaxed);
  if (head == tail_.load(std::memory_order_acquire)) return nullptr;
  WaveHeader* header = slots_[head % kCapacity].load(std::memory_order_relaxed);
  head_.store(head + 1, std::memory_order_release);
  return header;
}

WaveHeader* HeaderRing::popBefore(uint32_t limit) {
  const uint32_t head = head_.load(std::memory_order_relaxed);
  // Positions wrap, so they are compared by their signed distance: a flush in the same callback
  // can take the head past the limit, and nothing beyond the limit may start then either.
  if (limit != kNoStartLimit && static_cast<int32_t>(limit - head) <= 0) return nullptr;
  return pop();
}

void beginBlock(const StartGate& gate, TransferHalf* out, TransferHalf* in, bool holdNew) {
  const uint32_t before = gate.generation.load(std::memory_order_seq_cst);
  const uint32_t outEnd = out != nullptr ? out->queue.end() : 0;
  const uint32_t inEnd = in != nullptr ? in->queue.end() : 0;
  const uint32_t after = gate.generation.load(std::memory_order_seq_cst);
  const bool open = !holdNew && before == after && before % 2 == 0;
  // A closed gate lets nothing new start: the limit is wherever the ring's head stands.
  if (out != nullptr) out->startLimit = open ? outEnd : out->queue.begin();
  if (in != nullptr) in->startLimit = open ? inEnd : in->queue.begin();
}

void playInto(TransferHalf& half, std::span<uint8_t> out, uint32_t frameBytes, uint8_t silence,
              DoneSignal& done) {
  serviceFlush(half);
  size_t at = 0;
  while (at < out.size()) {
    WaveHeader* h = currentHeader(half, done);
    if (h == nullptr) break;
    const size_t n = std::min<size_t>(out.size() - at, h->length - half.position);
    std::memcpy(out.data() + at, h->data + half.position, n);
    at += n;
    half.position += static_cast<uint32_t>(n);
    if (half.position < h->length) continue;
    finishHeader(half, done);
    // A partial last frame is padded, so the next buffer starts on a frame.
    const size_t padded = std::min(out.size(), roundUp(at, frameBytes));
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(at),
              out.begin() + static_cast<std::ptrdiff_t>(padded), silence);
    at = padded;
  }
  if (at > 0) done.progress.fetch_add(1, std::memory_order_relaxed);
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(at), out.end(), silence);
}

void captureFrom(TransferHalf& half, std::span<const uint8_t> in, uint32_t frameBytes,
                 DoneSignal& done) {
  serviceFlush(half);
  if (!half.capturing.load(std::memory_order_acquire)) return;
  size_t at = 0;
  if (in.empty() || currentHeader(half, done) == nullptr) return;
  done.progress.fetch_add(1, std::memory_order_relaxed);
  while (at < in.size()) {
    WaveHeader* h = currentHeader(half, done);
    if (h == nullptr) return;
    const size_t n = std::min<size_t>(in.size() - at, h->length - half.position);
    std::memcpy(h->data + half.position, in.data() + at, n);
    at += n;
    half.position += static_cast<uint32_t>(n);
    if (half.position < h->length) continue;
    finishHeader(half, done);
    // The rest of a frame that did not fit is dropped, so the next buffer starts on a frame.
    at = roundUp(at, frameBytes);
  }
}

bool startsTogether(const TransferHalf& out, const TransferHalf& in) {
  return out.current == nullptr && in.current == nullptr && out.queue.begin() != out.startLimit &&
         in.queue.begin() != in.startLimit && in.capturing.load(std::memory_order_acquire);
}

void dropQueued(TransferHalf& half) {
  half.current = nullptr;
  half.position = 0;
  while (half.queue.pop() != nullptr) {
  }
}
