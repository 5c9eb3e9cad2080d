#pragma once
#include <array>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "audio/audio_backend.h"
#include "audio/sim_render.h"
#include "audio/sim_room.h"

enum class SimPacing : uint8_t {
  kVirtual,   // waits take no real time: tests and scripted runs
  kRealTime,  // waits take as long as the sound would: the desktop program
};

// A sound system in a simulated room. It behaves like a device in time: a clock in ticks runs
// only inside waitForDone, which moves it to the next buffer completion (or by the time-out);
// capture starts at startCapture and frames captured while no buffer is queued are lost;
// playback of a buffer starts when it is written (or when the one before it ends); a capture
// buffer is done once its last frame has been sampled, and then holds what the room made of
// everything played so far. The same room, seed and call sequence give the same bytes. A
// realistic room (a shoebox or a coloured device) convolves each played buffer with its impulse
// response once, when it is written, and captures then only add up what each buffer sounds like.
class SimBackend final : public AudioBackend {
 public:
  // `room.speedMps` must be set (the caller knows the medium); unset means air.
  explicit SimBackend(const SimRoom& room, SimPacing pacing = SimPacing::kVirtual);

  WaveError open(StreamDirection direction, const WaveFormat& format,
                 StreamHandle& handle) override;
  WaveError close(StreamHandle handle) override;
  WaveError prepare(StreamHandle handle, WaveHeader& header) override;
  WaveError unprepare(StreamHandle handle, WaveHeader& header) override;
  WaveError addCaptureBuffer(StreamHandle handle, WaveHeader& header) override;
  WaveError startCapture(StreamHandle handle) override;
  WaveError writePlayback(StreamHandle handle, WaveHeader& header) override;
  void waitForDone(uint32_t timeoutMs) override;
  std::string errorText(WaveError code) const override;
  uint64_t clockMs() const override;

  // What is still held: open streams, prepared headers, remembered played sound. Tests use
  // these to see that nothing leaks.
  size_t openStreams() const { return streams_.size(); }
  size_t preparedHeaders() const;
  size_t playedSegments() const { return played_.size(); }
  uint64_t nowTicks() const { return now_; }

 private:
  struct Queued {
    WaveHeader* header = nullptr;
    uint64_t frames = 0;
    uint64_t firstFrame = 0;  // capture: first frame of the input stream it receives
    uint64_t startTick = 0;   // playback: when its first frame sounds
    uint64_t doneTick = 0;
    uint64_t segmentId = 0;  // playback: its sound in played_
  };
  struct Stream {
    StreamDirection direction = StreamDirection::kOutput;
    WaveFormat format;
    uint64_t ticksPerFrame = 1;
    uint32_t serial = 0;
    std::vector<WaveHeader*> prepared;
    std::deque<Queued> queue;
    bool capturing = false;
    uint64_t captureStartTick = 0;
    uint64_t claimedUntil = 0;  // capture: end frame of the last completed buffer
  };

  Stream* find(StreamHandle handle);
  PlayedSegment* segment(uint64_t id);
  void layOut(Stream& s, size_t from);
  void stopEntry(Stream& s, size_t index);
  void advanceTo(uint64_t tick);
  void complete(Stream& s, const Queued& q);
  void forgetInaudible();
  const RoomImpulse& impulseFor(uint32_t samplesPerSec);
  void hear(uint32_t samplesPerSec, PlayedSegment& sound);
  void placeMovingReflectors(uint32_t samplesPerSec, PlayedSegment& sound);

  SimRoom room_;
  std::vector<SimPath> paths_;
  SimPacing pacing_;
  std::map<StreamHandle, Stream> streams_;
  StreamHandle nextHandle_ = 1;
  uint64_t now_ = 0;
  std::vector<PlayedSegment> played_;
  uint64_t nextSegmentId_ = 1;
  std::vector<float> scratch_;
  // A realistic room's responses, one per rate that has played, made at its first chirp.
  std::vector<RoomImpulse> impulses_;
  // The latest buffer a realistic room heard, and what it heard: a run plays the same chirp ping
  // after ping, and its convolution is the dearest part of a simulated ping.
  struct HeardMemo {
    uint32_t samplesPerSec = 0;
    uint16_t channels = 0;
    std::vector<float> samples;
    std::vector<float> heard;
    uint64_t heardFrames = 0;
    int64_t heardStartFrame = 0;
  };
  HeardMemo heardMemo_;
  // Moving reflectors: the room's clock starts at the first sound played; each microphone's
  // direct delay [s]; and, in a realistic room, the latest played sound through the device.
  std::optional<uint64_t> motionOriginTick_;
  std::array<double, kSimMicChannels> directDelaySeconds_{};
  HeardMemo colouredMemo_;
};
