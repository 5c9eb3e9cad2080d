#include <gtest/gtest.h>

#include <deque>
#include <numeric>
#include <vector>

#include "audio/duplex_transfer.h"

namespace {

struct Buffer {
  explicit Buffer(uint32_t n) : bytes(n, 0xEE) {
    header.data = bytes.data();
    header.length = n;
  }
  std::vector<uint8_t> bytes;
  WaveHeader header;
};

std::vector<uint8_t> counting(size_t n, uint8_t from) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), from);
  return v;
}

// Capture headers whose length is not a whole number of 4-byte frames, fed in 8-byte blocks:
// each one still starts on a frame, and the bytes between are dropped.
TEST(DuplexCapture, HeadersStartOnFramesAcrossBlocks) {
  TransferHalf half;
  DoneSignal done;
  Buffer a(10), b(6);
  half.queue.push(&a.header);
  half.queue.push(&b.header);
  captureFrom(half, counting(8, 0), 4, done);  // before startCapture: dropped
  EXPECT_EQ(a.bytes[0], 0xEE);
  half.capturing = true;
  captureFrom(half, counting(8, 10), 4, done);
  captureFrom(half, counting(8, 18), 4, done);
  EXPECT_TRUE(a.header.done());
  EXPECT_EQ(a.bytes, (std::vector<uint8_t>{10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
  EXPECT_FALSE(b.header.done());
  EXPECT_EQ(b.bytes[0], 22);  // 20 and 21 finish the frame a could not take
  captureFrom(half, counting(8, 26), 4, done);
  EXPECT_TRUE(b.header.done());
  EXPECT_EQ(b.bytes, (std::vector<uint8_t>{22, 23, 24, 25, 26, 27}));
  EXPECT_EQ(done.count.load(), 2u);
}

TEST(DuplexPlayback, PadsPartialFramesAndFillsSilence) {
  TransferHalf half;
  DoneSignal done;
  Buffer a(6), b(4);
  a.bytes = counting(6, 1);
  b.bytes = counting(4, 50);
  a.header.data = a.bytes.data();
  b.header.data = b.bytes.data();
  half.queue.push(&a.header);
  half.queue.push(&b.header);
  std::vector<uint8_t> out(16, 0);
  playInto(half, out, 4, 128, done);
  EXPECT_EQ(out,
            (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 128, 128, 50, 51, 52, 53, 128, 128, 128, 128}));
  EXPECT_TRUE(a.header.done());
  EXPECT_TRUE(b.header.done());
}

// While the gate is held nothing new starts; once released, a capture and a playback queued
// together start in the same block.
TEST(DuplexGate, QueuedTogetherStartTogether) {
  TransferHalf out, in;
  DoneSignal done;
  StartGate gate;
  in.capturing = true;
  Buffer play(4), record(8);
  play.bytes = {9, 9, 9, 9};
  gate.hold();
  in.queue.push(&record.header);
  beginBlock(gate, &out, &in);
  std::vector<uint8_t> block(4, 0);
  playInto(out, block, 4, 0, done);
  captureFrom(in, counting(4, 1), 4, done);
  EXPECT_EQ(record.bytes[0], 0xEE);  // held back
  out.queue.push(&play.header);
  gate.release();
  beginBlock(gate, &out, &in);
  playInto(out, block, 4, 0, done);
  captureFrom(in, counting(4, 5), 4, done);
  EXPECT_EQ(block, (std::vector<uint8_t>{9, 9, 9, 9}));
  EXPECT_EQ(record.bytes[0], 5);
}

TEST(DuplexFlush, DropsWhatTheCallbackHoldsAndTheRingIsBounded) {
  TransferHalf half;
  DoneSignal done;
  half.capturing = true;
  Buffer a(8);
  half.queue.push(&a.header);
  captureFrom(half, counting(4, 0), 4, done);
  half.flushRequest.fetch_add(1);
  captureFrom(half, counting(4, 4), 4, done);
  EXPECT_EQ(half.flushDone.load(), 1u);
  EXPECT_FALSE(a.header.done());
  EXPECT_EQ(a.bytes[4], 0xEE);

  std::deque<Buffer> many;
  for (uint32_t i = 0; i <= HeaderRing::kCapacity; ++i) many.emplace_back(4);
  for (uint32_t i = 0; i < HeaderRing::kCapacity; ++i)
    EXPECT_TRUE(half.queue.push(&many[i].header));
  EXPECT_FALSE(half.queue.push(&many.back().header));
}

// A flush in a callback takes the ring's head past the limit its block began with; a header the
// window queues while that callback runs on must still wait for the next block.
TEST(DuplexFlush, NothingQueuedAfterTheBlockBeganStartsInIt) {
  TransferHalf half;
  DoneSignal done;
  StartGate gate;
  half.capturing = true;
  Buffer a(4), b(4), c(4);
  half.queue.push(&a.header);
  beginBlock(gate, nullptr, &half);
  half.queue.push(&b.header);
  half.flushRequest.fetch_add(1);
  captureFrom(half, {}, 4, done);  // drops a and b
  half.queue.push(&c.header);
  captureFrom(half, counting(4, 1), 4, done);
  EXPECT_FALSE(c.header.done());
  EXPECT_EQ(c.bytes[0], 0xEE);

  beginBlock(gate, nullptr, &half);
  captureFrom(half, counting(4, 1), 4, done);
  EXPECT_TRUE(c.header.done());
  EXPECT_EQ(c.bytes, counting(4, 1));
}

}  // namespace

namespace {

// Only a capture that starts together with a playback is lined up: a warm-up recording alone,
// or a capture already under way, is not.
TEST(DuplexCapture, OnlyAPingsCaptureIsLinedUp) {
  TransferHalf out, in;
  Buffer record(8);
  StartGate gate;
  in.queue.push(&record.header);
  in.capturing = true;
  beginBlock(gate, &out, &in);
  EXPECT_FALSE(startsTogether(out, in));
  Buffer play(4);
  out.queue.push(&play.header);
  gate.hold();
  beginBlock(gate, &out, &in);
  EXPECT_FALSE(startsTogether(out, in)) << "the gate holds them back";
  gate.release();
  beginBlock(gate, &out, &in);
  EXPECT_TRUE(startsTogether(out, in));
}

}  // namespace
