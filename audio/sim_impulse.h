#pragma once
#include <cstdint>
#include <vector>

#include "audio/sim_room.h"

// What the microphones of a realistic room hear of one impulse from the loudspeaker, at one
// sampling rate: the direct sound, the walls' image sources, the reflectors of echo= keys and
// the diffuse tail, coloured by loudspeaker and microphone. Made once per room and rate, so that
// a ping only convolves its chirp with it.
struct RoomImpulse {
  uint32_t samplesPerSec = 0;
  int64_t startFrame = 0;  // response sample 0 sounds this many frames after playback starts
  // One response per microphone channel (two: a mono capture uses the first).
  std::vector<std::vector<double>> channels;

  size_t frames() const { return channels.empty() ? 0 : channels[0].size(); }
};

constexpr uint16_t kSimMicChannels = 2;

RoomImpulse buildRoomImpulse(const SimRoom& room, double speedMps, uint32_t samplesPerSec);
