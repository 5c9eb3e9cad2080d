#pragma once
#include <cstddef>
#include <vector>

#include "audio/sim_room.h"

// The sound field of a shoebox room: image sources for the walls' specular reflections and the
// statistics of the diffuse tail that follows them.
//
// Every amplitude is relative to the room's `directGain`, which is the direct sound's amplitude
// at the first microphone. Every delay is counted from the start of playback, so that the direct
// sound reaches the first microphone `latencyMs` after it.

// Where the microphone of an input channel stands in the room.
SimPoint microphonePosition(const SimShoebox& box, size_t channel);

// One arrival at a microphone, with the range a sonar would read for it: half the way it travels
// beyond the direct sound's.
struct ShoeboxArrival {
  double delaySeconds = 0.0;
  double gain = 0.0;
  double rangeM = 0.0;
  int order = 0;  // wall reflections on the way (0: the direct sound)
};

// The direct sound and every image source of order 1 to box.order at the microphone of
// `channel`, at the given speed of sound [m/s].
std::vector<ShoeboxArrival> shoeboxArrivals(const SimRoom& room, size_t channel, double speedMps);

// When the direct sound reaches the microphone of `channel` [s after the start of playback].
double shoeboxDirectDelay(const SimRoom& room, size_t channel, double speedMps);

// The diffuse tail's RMS amplitude per sample at `delaySeconds` after the start of playback, for
// `samplesPerSec` samples a second (energy density of a diffuse field decaying with RT60, minus
// what the image sources already carry, plus what the walls scatter).
double shoeboxTailRms(const SimRoom& room, double delaySeconds, double samplesPerSec,
                      double speedMps);

// Where the diffuse tail has faded 70 dB below its start [s after the start of playback].
double shoeboxTailEnd(const SimRoom& room, double speedMps);

// The range a sonar reads for the wall the device faces (its first-order echo), at the
// microphone of `channel`: half the way the echo travels beyond the direct sound.
double facingWallRange(const SimShoebox& box, size_t channel);
