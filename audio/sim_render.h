#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "audio/sim_impulse.h"
#include "audio/sim_room.h"
#include "engine/wave_format.h"

// The sound side of the simulated room: what the loudspeaker played, and what the microphone
// hears of it at any moment. Time runs in ticks of a clock on which a frame of every common rate
// (8000, 11025, 16000, 22050, 44100, 48000, 96000 Hz) is a whole number of ticks, so streams of
// the same rate stay on one frame grid and a run is exact and repeatable. 2^8 3^2 5^3 7^2: 96 kHz
// needs the eighth factor of two.
constexpr uint64_t kSimTicksPerSecond = 14112000;

// Ticks of one frame at `samplesPerSec`, or 0 when the rate is not on the clock's grid.
uint64_t simTicksPerFrame(uint32_t samplesPerSec);

// A stretch of sound one output device played, in 16-bit units, frames interleaved.
struct PlayedSegment {
  uint64_t id = 0;  // for the device that is still playing it
  uint64_t startTick = 0;
  uint64_t ticksPerFrame = 1;
  uint16_t channels = 1;
  uint64_t frames = 0;  // shortened when playback is stopped early
  std::vector<float> samples;
  // A realistic room: what each microphone hears of it (kSimMicChannels responses of
  // `heardFrames` frames, one after the other), the first `heardStartFrame` frames after the
  // segment starts; at the segment's own rate.
  std::vector<float> heard;
  uint64_t heardFrames = 0;
  int64_t heardStartFrame = 0;
  // Moving reflectors, where they stand while this segment sounds: one list of paths per
  // microphone channel. They reflect the played samples, or in a realistic room
  // `movingSource`: the played sound through loudspeaker and microphone, `movingSourceChannels`
  // interleaved (1: the one loudspeaker of a shoebox, heard by every microphone), starting
  // `movingSourceStartFrame` frames after the segment.
  std::array<std::vector<SimPath>, kSimMicChannels> movingPaths;
  std::vector<float> movingSource;
  uint16_t movingSourceChannels = 0;
  uint64_t movingSourceFrames = 0;
  int64_t movingSourceStartFrame = 0;

  uint64_t endTick() const { return startTick + frames * ticksPerFrame; }
};

// Decodes bytes handed to an output device (a partial last frame is padded with silence).
PlayedSegment decodePlayed(std::span<const uint8_t> bytes, const WaveFormat& format,
                           uint64_t startTick);

// Convolves a segment with a realistic room's response (at the segment's rate). Through a shoebox
// the one loudspeaker plays the mean of the output channels; without one, each output channel
// reaches its own input channel as in the plain room.
void hearSegment(const RoomImpulse& impulse, bool oneLoudspeaker, PlayedSegment& segment);

// Where a capture buffer sits in time and which input device records it.
struct CaptureSpan {
  uint64_t firstTick = 0;   // sampling instant of the buffer's first frame
  uint64_t firstFrame = 0;  // that frame's number in the input stream
  uint32_t streamSerial = 0;
  WaveFormat format;
};

struct RoomSound {
  std::span<const SimPath> paths;  // the plain room's paths
  double noiseRms = 0.0;           // [16-bit units]
  uint64_t seed = 0;
  bool realistic = false;  // hear the segments' `heard` sound instead of the paths
  double pinkRms = 0.0;    // [16-bit units]
  double dcOffset = 0.0;   // [16-bit units]
  double clipLevel = 1.0;  // fraction of full scale
};

// Fills `bytes` (up to its last byte, a partial last frame included) with what the microphone
// records: for each channel, every path's gain times the played sound of the same channel
// delayed by the path's delay (fractional delays through a windowed-sinc interpolator), or the
// realistic room's heard sound; plus white and pink noise and the DC offset, clipped, rounded
// and clamped to the format's encoding. `scratch` is reused storage.
void renderCapture(const RoomSound& room, std::span<const PlayedSegment> played,
                   const CaptureSpan& capture, std::span<uint8_t> bytes,
                   std::vector<float>& scratch);

// The room's noise: a standard normal value that depends only on the seed, the input stream,
// the frame and the channel (counter-based, so the bytes are the same on every run and machine).
double roomNoise(uint64_t seed, uint32_t streamSerial, uint64_t frame, uint16_t channel);

// Pink noise of unit RMS, counter-based like roomNoise (Voss-McCartney: sixteen random rows,
// row r renewed every 2^r frames, for a 1/f spectrum over the whole band of speech and chirps).
double roomPinkNoise(uint64_t seed, uint32_t streamSerial, uint64_t frame, uint16_t channel);

// Fills a realistic room's `movingSource` of a segment: its sound through `filter` (taps[lead]
// is time zero), the mean of its channels where one loudspeaker plays them.
void colourMovingSource(std::span<const double> taps, int leadTaps, bool oneLoudspeaker,
                        PlayedSegment& segment);

// How long after the end of a played segment it can still be heard [ticks].
uint64_t simAudibleTicks(std::span<const SimPath> paths, uint64_t ticksPerFrame);
// The same for a segment a realistic room has heard.
uint64_t simHeardUntilTick(const PlayedSegment& segment);
// The last tick at which a segment's moving reflectors can still be heard.
uint64_t simMovingUntilTick(const PlayedSegment& segment);
