#pragma once
#include <atomic>
#include <cstdint>
#include <span>

#include "audio/duplex_transfer.h"

// One callback of a real-time stream, as the host reports it, and what our side does with it:
// the host-independent part of the PortAudio back end's callback, so that a test can hand it the
// callbacks of a machine too busy to keep up.

// The host's status of a callback; the same bits as PortAudio's.
constexpr uint32_t kInputUnderflow = 1;   // no input was ready: the input handed over is made up
constexpr uint32_t kInputOverflow = 2;    // input was thrown away for want of room
constexpr uint32_t kOutputUnderflow = 4;  // the playback ran dry and was started again
constexpr uint32_t kOutputOverflow = 8;   // output was thrown away
constexpr uint32_t kAnyXrun = kInputUnderflow | kInputOverflow | kOutputUnderflow | kOutputOverflow;

// A duplex stream this much later than on time (CallbackLink::lateMicroseconds) is opened anew
// before its next buffer [s]; no ping starts in it meanwhile.
constexpr double kAstraySeconds = 0.25;
// A steady stream whose playback-to-record distance has moved this far from where it settled,
// in kDriftBlocks callbacks in a row, has been moved by a gap its host never reported [s]. The
// times a host gives wander by a few milliseconds from callback to callback; a ping's recording
// leaves its chirp about 15 ms of room on the PulseAudio test server.
constexpr double kDriftSeconds = 0.010;
constexpr uint32_t kDriftBlocks = 4;

// The host's times of a callback [s], all on one clock; 0 where the host gives none.
struct BlockTimes {
  double current = 0.0;
  double inputAdc = 0.0;   // when the first input frame was captured
  double outputDac = 0.0;  // when the first output frame will be played
};

// What the callback of one stream works on; it touches nothing else.
struct CallbackLink {
  StartGate gate;
  TransferHalf* out = nullptr;
  TransferHalf* in = nullptr;
  uint32_t outFrameBytes = 0;
  uint32_t inFrameBytes = 0;
  uint8_t silence = 0;
  uint32_t rate = 0;
  // How much later the stream plays a block than it captured the block handed over with it,
  // on time [s]: its input and output latencies.
  double nominalSkewSeconds = 0.0;
  // A ping starts only in a callback that comes on time: the playback holds at least
  // `minLeadSeconds` still to play and the input waiting is at most `maxBacklogSeconds` old,
  // after `settleFrames` frames of callbacks the host reported nothing wrong with.
  double minLeadSeconds = 0.0;
  double maxBacklogSeconds = 0.0;
  uint32_t settleFrames = 0;
  DoneSignal* done = nullptr;
  // Set when the stream is given up in a call that never returned: should its callback ever run
  // again, it touches nothing. `running` is set while a callback is inside; the two together let
  // abandonLink wait out a callback that had already started.
  std::atomic<bool> abandoned{false};
  std::atomic<bool> running{false};
  // How much later than on time the stream plays what it captures now [us], as the last
  // callback saw it (the host's times, which wander by a few milliseconds from callback to
  // callback): one kAstraySeconds astray is opened anew.
  std::atomic<int32_t> lateMicroseconds{0};
  // Once the stream has run steadily for `settleFrames` after it opened (it makes its input up
  // while it fills its playback, and that is the distance it starts at), made-up input moves the
  // capture against the playback for as long as it runs, by an amount no one is told.
  bool settled = false;
  // The playback-to-record distance the stream settled at, by its times [s], and the steady
  // callbacks in a row that found it moved by more than kDriftSeconds.
  double settledLateness = 0.0;
  bool hasSettledLateness = false;
  uint32_t driftedBlocks = 0;
  // Set by a callback after which the two directions no longer keep their distance (the
  // playback ran dry, input was lost or made up, the distance moved without a word from the host)
  // or a ping heard only digital silence: the stream is opened anew before its next buffer.
  std::atomic<bool> disturbed{false};
  std::atomic<uint32_t> steadyFrames{0};
  uint32_t heldFrames = 0;  // frames a ping has waited for a steady callback
  bool pingListening = false;
  bool pingHeard = false;
  // Pings in a row that heard only digital silence; carried over to the stream opened anew.
  std::atomic<uint32_t> silentPings{0};
  // Whether a buffer is being played or recorded.
  std::atomic<bool> busy{false};
};

// Plays and records one callback's block: `frames` frames of `input` (null when none) and
// `output` (null when none); `times` may be null.
void runBlock(CallbackLink& link, const void* input, void* output, unsigned long frames,
              const BlockTimes* times, uint32_t flags);
