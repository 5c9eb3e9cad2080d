#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/duplex_block.h"

namespace {

// A duplex host at 1000 frames/s, mono 16-bit, 10 frames a callback, over a loopback that hands
// every played frame back to the capture `kLoop` frames later: the world the callback is judged
// against, kept apart from the code under test. A host late with its input (as PortAudio's ALSA
// host on a busy machine) runs a callback with made-up silent input and the input flagged as
// underflowed; the frames captured meanwhile come in the callbacks after it.
constexpr uint32_t kBlock = 10;
constexpr uint32_t kLoop = 15;

struct Host {
  Host() {
    link.out = &out;
    link.in = &in;
    link.outFrameBytes = 2;
    link.inFrameBytes = 2;
    link.rate = 1000;
    link.done = &done;
    in.capturing = true;
  }

  // One callback; the input is what the loopback captured, or silence when `inputLate`. A
  // capture that has not started yet (`captureIdle`, as while a stream starts) hands over made-up
  // silence too, but nothing it missed comes later.
  void callback(uint32_t flags = 0, const BlockTimes* times = nullptr, bool inputLate = false,
                bool captureIdle = false) {
    std::vector<int16_t> input(kBlock, 0);
    inputLate = inputLate || captureIdle;
    if (!inputLate || captureIdle) {
      for (uint32_t i = 0; i < kBlock && !inputLate; ++i) input[i] = heard(captured + i);
      captured += kBlock;
    }
    std::vector<int16_t> output(kBlock, 0);
    runBlock(link, input.data(), output.data(), kBlock, times,
             flags | (inputLate ? kInputUnderflow : 0));
    air.resize(played + kBlock + kLoop, 0);
    std::copy(output.begin(), output.end(), air.begin() + played + kLoop);
    played += kBlock;
  }
  int16_t heard(uint32_t frame) const { return frame < air.size() ? air[frame] : 0; }

  TransferHalf out, in;
  DoneSignal done;
  CallbackLink link;
  std::vector<int16_t> air;  // what the capture hears, frame by frame
  uint32_t played = 0;
  uint32_t captured = 0;
};

// A ping: a click on the first frame of the playback, 40 frames recorded.
struct Ping {
  explicit Ping(Host& host) {
    click[0] = 20000;
    play.data = reinterpret_cast<uint8_t*>(click.data());
    play.length = static_cast<uint32_t>(click.size() * 2);
    record.data = reinterpret_cast<uint8_t*>(recorded.data());
    record.length = static_cast<uint32_t>(recorded.size() * 2);
    host.in.queue.push(&record);
    host.out.queue.push(&play);
  }
  // Where the click landed in the recording, or -1.
  int clickAt() const {
    const auto it = std::find(recorded.begin(), recorded.end(), 20000);
    return it == recorded.end() ? -1 : static_cast<int>(it - recorded.begin());
  }
  std::vector<int16_t> click = std::vector<int16_t>(4, 0);
  std::vector<int16_t> recorded = std::vector<int16_t>(40, 0);
  WaveHeader play, record;
};

// The cause of the silent pings under a CPU hog: the made-up silence of a callback whose input
// was not ready went into the recording, so everything after it came that much late, the click
// past the recording's end when the host was late often enough. Only real input is recorded now,
// and the click lands where it lands on an idle machine, however often the input is late.
TEST(DuplexBlock, MadeUpSilenceOfALateInputIsNotRecorded) {
  for (const uint32_t lateCallbacks : {0u, 1u, 3u}) {
    Host host;
    for (int i = 0; i < 3; ++i) host.callback();
    Ping ping(host);
    host.callback();
    for (uint32_t i = 0; i < lateCallbacks; ++i) host.callback(0, nullptr, true);
    for (int i = 0; i < 8 && !ping.record.done(); ++i) host.callback();
    ASSERT_TRUE(ping.record.done());
    EXPECT_EQ(ping.clickAt(), static_cast<int>(kLoop)) << lateCallbacks << " late callbacks";
  }
}

// Made-up input leaves the capture behind the playback for as long as the stream runs, by an
// amount the host does not tell: once the stream has settled, it is disturbed (and opened anew
// before the next ping). The made-up input of a stream that is still starting is where it starts
// from.
TEST(DuplexBlock, InputMadeUpOnceTheStreamSettledDisturbsIt) {
  Host host;
  host.link.settleFrames = 20;
  for (int i = 0; i < 2; ++i) host.callback(0, nullptr, false, true);
  EXPECT_FALSE(host.link.disturbed.load()) << "a stream that is starting";
  host.callback();
  for (int i = 0; i < 2; ++i) host.callback(0, nullptr, false, true);
  EXPECT_FALSE(host.link.disturbed.load()) << "nor one that has not yet run for its latency";
  for (int i = 0; i < 2; ++i) host.callback();
  EXPECT_FALSE(host.link.disturbed.load());
  host.callback(0, nullptr, true);
  EXPECT_TRUE(host.link.disturbed.load());
  Ping ping(host);
  for (int i = 0; i < 5; ++i) host.callback();
  EXPECT_EQ(host.in.current, nullptr) << "a ping started in a stream whose distance moved";
}

// After the playback ran dry (or input was lost), the distance between the two directions is
// unknown: no ping starts until the stream has been started again (which clears `disturbed`), or
// until half a second has passed, when it starts as well as it can rather than not at all.
TEST(DuplexBlock, APingWaitsForTheRestartAfterADisturbance) {
  Host host;
  host.callback(kOutputUnderflow);
  EXPECT_TRUE(host.link.disturbed.load());
  Ping ping(host);
  for (int i = 0; i < 5; ++i) host.callback();
  EXPECT_EQ(host.in.current, nullptr) << "started in a disturbed stream";
  host.link.disturbed = false;
  host.callback();
  EXPECT_EQ(host.in.current, &ping.record);

  Host stuck;
  stuck.callback(kInputOverflow);
  Ping late(stuck);
  for (int i = 0; i < 50; ++i) stuck.callback();
  EXPECT_EQ(stuck.in.current, nullptr);
  stuck.callback();
  EXPECT_EQ(stuck.in.current, &late.record) << "waited longer than half a second";
}

// A ping starts only in a callback that comes on time: one that finds the playback nearly
// drained, or input piled up beyond the input latency, holds it back; so do the first callbacks
// after a (re)start, before the stream has run steadily for its output latency.
TEST(DuplexBlock, APingStartsOnlyInACallbackOnTime) {
  Host host;
  host.link.minLeadSeconds = 0.010;
  host.link.maxBacklogSeconds = 0.020;
  host.link.settleFrames = 30;
  const BlockTimes onTime{100.0, 99.990, 100.030};
  const BlockTimes drained{100.0, 99.990, 100.002};
  const BlockTimes piledUp{100.0, 99.950, 100.030};
  Ping ping(host);
  for (int i = 0; i < 2; ++i) host.callback(0, &onTime);
  EXPECT_EQ(host.in.current, nullptr) << "not settled yet";
  host.callback(0, &drained);
  host.callback(0, &piledUp);
  EXPECT_EQ(host.in.current, nullptr);
  host.callback(0, &onTime);
  EXPECT_EQ(host.in.current, &ping.record);
}

// A stream whose playback-to-record distance moves without a word from the host (a playback
// prepared again after a gap it never reported) would put the chirp elsewhere, past the
// recording's end when it moved later: once several steady callbacks in a row agree on it, the
// stream is disturbed (and opened anew). The few milliseconds the host's times wander by from
// callback to callback are no such move.
TEST(DuplexBlock, ADistanceMovedWithoutAWordDisturbsTheStream) {
  const auto at = [](double late) { return BlockTimes{100.0, 99.990, 100.030 + late}; };
  const auto settle = [&at](Host& host) {
    host.link.nominalSkewSeconds = 0.040;
    host.link.settleFrames = 20;
    for (int i = 0; i < 4; ++i) {
      const BlockTimes t = at(0.0);
      host.callback(0, &t);
    }
  };
  Host wandering;
  settle(wandering);
  for (const double late : {0.004, -0.006, 0.008, 0.009, -0.009, 0.007, 0.0, 0.0}) {
    const BlockTimes t = at(late);
    wandering.callback(0, &t);
  }
  EXPECT_FALSE(wandering.link.disturbed.load());

  Host moved;
  settle(moved);
  for (int i = 0; i < 3; ++i) {
    const BlockTimes t = at(0.020);
    moved.callback(0, &t);
  }
  EXPECT_FALSE(moved.link.disturbed.load()) << "three callbacks are not yet a move";
  const BlockTimes t = at(0.020);
  moved.callback(0, &t);
  EXPECT_TRUE(moved.link.disturbed.load());
}

// A ping that hears only digital silence lost its sound on the way: the stream is started again
// after the 1st, 2nd, 4th, 8th ... silent ping in a row, so a device that stays silent (muted) is
// not restarted before every ping; a ping that hears something starts the count again.
TEST(DuplexBlock, SilentPingsRestartTheStreamLessOftenTheLongerTheyLast) {
  Host host;
  host.link.silence = 0;
  const auto ping = [&host](bool mute) {
    Ping p(host);
    if (mute) p.click[0] = 0;
    for (int i = 0; i < 8 && !p.record.done(); ++i) host.callback();
    EXPECT_TRUE(p.record.done());
    for (int i = 0; i < 3; ++i) host.callback();
    const bool restart = host.link.disturbed.exchange(false);
    return restart;
  };
  EXPECT_FALSE(ping(false)) << "a ping that heard its click";
  std::vector<bool> restarts;
  for (int i = 0; i < 8; ++i) restarts.push_back(ping(true));
  EXPECT_EQ(restarts, (std::vector<bool>{true, true, false, true, false, false, false, true}));
  EXPECT_FALSE(ping(false));
  EXPECT_TRUE(ping(true)) << "a new silence after sound";
}

// Only what went into the recording counts: a click that arrives in the same block, just after
// a recording that was too short for it, was not heard.
TEST(DuplexBlock, AClickJustAfterTheRecordingsEndIsNotHeard) {
  Host host;
  Ping ping(host);
  ping.record.length = 12 * 2;  // ends at frame 12, the click comes at kLoop = 15
  for (int i = 0; i < 3 && !ping.record.done(); ++i) host.callback();
  ASSERT_TRUE(ping.record.done());
  EXPECT_EQ(ping.clickAt(), -1);
  EXPECT_TRUE(host.link.disturbed.load()) << "a silent ping, to be opened anew";
}

}  // namespace
