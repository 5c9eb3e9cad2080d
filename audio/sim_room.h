#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The room the simulated back end plays into: the loudspeaker's direct sound reaches the
// microphone after a fixed latency, each reflector adds a weaker copy 2 d / speed later, and the
// microphone adds white noise. Each output channel reaches the same input channel.

struct SimEcho {
  double distanceM = 0.0;  // from the device to the reflector [m], 0..kMaxEchoDistanceM
  double gain = 0.0;       // amplitude as a fraction of full scale
};

struct SimRoom {
  double latencyMs = 7.4;   // capture start to the direct arrival [ms], 0..kMaxLatencyMs
  double directGain = 0.3;  // amplitude of the direct sound as a fraction of full scale
  std::vector<SimEcho> echoes;
  double noiseRms = 30.0;  // [16-bit units]
  uint64_t seed = 1;
  std::optional<double> speedMps;  // unset: the caller supplies the current medium's speed
};

constexpr double kMaxLatencyMs = 10000.0;
constexpr double kMaxEchoDistanceM = 1000.0;
constexpr double kMaxRoomGain = 100.0;
constexpr double kMinSpeedMps = 1.0;
constexpr double kMaxSpeedMps = 100000.0;

// The room of a run without --room: the defaults with reflectors at 0.80 m and 1.90 m.
SimRoom defaultSimRoom();

// Parses comma-separated key=value pairs (latency, direct, echo=METRES:GAIN repeatable, noise,
// seed, speed) over the defaults, without reflectors unless given. Returns an empty string on
// success, else the reason naming the key; `room` is then unspecified.
std::string parseSimRoom(std::string_view text, SimRoom& room);

// One way from the loudspeaker to the microphone: the direct sound or an echo.
struct SimPath {
  double delaySeconds = 0.0;  // after the start of playback
  double gain = 0.0;
};

// The direct path and one path per reflector, at the given speed of sound [m/s].
std::vector<SimPath> roomPaths(const SimRoom& room, double speedMps);
