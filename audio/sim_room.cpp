#include "audio/sim_room.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <numbers>

#include "audio/sim_room_keys.h"
#include "engine/speed_of_sound.h"

namespace {

bool readSeed(std::string_view text, uint64_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && stop == end;
}

// "move=M@HZ" or "vel=V" after an echo's distance and gain.
bool readMotion(std::string_view text, SimEcho& echo) {
  if (text.starts_with("vel=")) {
    return readRoomNumber(text.substr(4), echo.velocityMps) &&
           inRoomRange(echo.velocityMps, -kMaxEchoSpeedMps, kMaxEchoSpeedMps);
  }
  if (!text.starts_with("move=")) return false;
  text.remove_prefix(5);
  const size_t at = text.find('@');
  return at != std::string_view::npos && readRoomNumber(text.substr(0, at), echo.swingM) &&
         readRoomNumber(text.substr(at + 1), echo.swingHz) &&
         inRoomRange(echo.swingM, 0.0, kMaxEchoSwingM) &&
         inRoomRange(echo.swingHz, 0.0, kMaxEchoSwingHz);
}

std::string readEcho(std::string_view value, SimRoom& room) {
  const size_t colon = value.find(':');
  const size_t second = colon == std::string_view::npos ? colon : value.find(':', colon + 1);
  const std::string_view gain = colon == std::string_view::npos
                                    ? std::string_view()
                                    : value.substr(colon + 1, second - colon - 1);
  SimEcho echo;
  if (colon == std::string_view::npos || !readRoomNumber(value.substr(0, colon), echo.distanceM) ||
      !readRoomNumber(gain, echo.gain) ||
      (second != std::string_view::npos && !readMotion(value.substr(second + 1), echo))) {
    return "echo needs METRES:GAIN[:move=M@HZ|:vel=V], got '" + std::string(value) + "'";
  }
  if (!inRoomRange(echo.distanceM, 0.0, kMaxEchoDistanceM) ||
      !inRoomRange(echo.gain, -kMaxRoomGain, kMaxRoomGain)) {
    return badRoomValue("echo", value);
  }
  room.echoes.push_back(echo);
  return {};
}

std::string readPerson(std::string_view value, SimRoom& room) {
  double distance = 0.0;
  if (!readRoomNumber(value, distance) || !inRoomRange(distance, 0.0, kMaxEchoDistanceM)) {
    return "room key person needs METRES, got '" + std::string(value) + "'";
  }
  for (const SimEcho& e : personEchoes(distance)) room.echoes.push_back(e);
  return {};
}

std::string readPair(std::string_view key, std::string_view value, SimRoom& room) {
  if (key == "echo") return readEcho(value, room);
  if (key == "person") return readPerson(value, room);
  const std::string bad = badRoomValue(key, value);
  if (key == "seed") return readSeed(value, room.seed) ? std::string() : bad;
  if (isRealisticRoomKey(key)) return readRealisticRoomKey(key, value, room);
  double v = 0.0;
  const bool number = readRoomNumber(value, v);
  if (key == "latency") {
    if (!number || !inRoomRange(v, 0.0, kMaxLatencyMs)) return bad;
    room.latencyMs = v;
  } else if (key == "direct") {
    if (!number || !inRoomRange(v, -kMaxRoomGain, kMaxRoomGain)) return bad;
    room.directGain = v;
  } else if (key == "noise") {
    if (!number || !inRoomRange(v, 0.0, 32768.0)) return bad;
    room.noiseRms = v;
  } else if (key == "speed") {
    if (!number || !inRoomRange(v, kMinSpeedMps, kMaxSpeedMps)) return bad;
    room.speedMps = v;
  } else if (key == "temperature") {
    if (!number || !inRoomRange(v, kMinAirTemperatureC, kMaxAirTemperatureC)) return bad;
    room.temperatureC = v;
  } else if (key == "humidity") {
    if (!number || !inRoomRange(v, 0.0, 100.0)) return bad;
    room.humidityPercent = v;
  } else {
    return "unknown room key '" + std::string(key) + "'";
  }
  return {};
}

// The speed of the room's air, once all its keys are read: either speed= or the air's.
std::string settleRoomAir(SimRoom& room) {
  if (room.temperatureC && room.speedMps) {
    return "room keys temperature and speed cannot both be given: the air's temperature sets "
           "its speed";
  }
  if (room.humidityPercent && !room.temperatureC) {
    return "room key humidity needs temperature";
  }
  if (room.temperatureC) {
    room.speedMps = speedOfSoundInAir(*room.temperatureC,
                                      room.humidityPercent.value_or(kDefaultHumidityPercent));
  }
  return {};
}

}  // namespace

std::vector<SimEcho> personEchoes(double distanceM) {
  // A chest breathing ±4 mm, with shoulders, arms and head behind it moving less; all at the
  // same breath, so the cluster swells and sinks together as a body does.
  constexpr double kBreathHz = 0.25;
  struct Part {
    double behindM, gain, swingM;
  };
  constexpr std::array<Part, 5> kParts{{{0.000, 0.040, 0.0040},
                                        {0.018, 0.025, 0.0030},
                                        {0.045, 0.018, 0.0020},
                                        {0.080, 0.012, 0.0010},
                                        {0.130, 0.008, 0.0005}}};
  std::vector<SimEcho> echoes;
  for (const Part& p : kParts) {
    SimEcho e;
    e.distanceM = std::min(distanceM + p.behindM, kMaxEchoDistanceM);
    e.gain = p.gain;
    e.swingM = p.swingM;
    e.swingHz = kBreathHz;
    echoes.push_back(e);
  }
  return echoes;
}

double echoDistanceAt(const SimEcho& echo, double seconds) {
  const double swing = echo.swingM * std::sin(2.0 * std::numbers::pi * echo.swingHz * seconds);
  return std::max(0.0, echo.distanceM + swing + echo.velocityMps * seconds);
}

SimRoom defaultSimRoom() {
  SimRoom room;
  room.echoes = {{0.80, 0.10}, {1.90, 0.05}};
  return room;
}

std::string parseSimRoom(std::string_view text, SimRoom& room) {
  room = SimRoom{};
  bool first = true;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
      return "room entry '" + std::string(item) + "' is not key=value";
    }
    const std::string_view key = item.substr(0, equals);
    if (key == "preset" && !first) return "room key preset must come first";
    if (std::string problem = readPair(key, item.substr(equals + 1), room); !problem.empty()) {
      return problem;
    }
    first = false;
  }
  if (std::string problem = settleRoomAir(room); !problem.empty()) return problem;
  return checkRoomGeometry(room);
}

std::vector<SimPath> roomPaths(const SimRoom& room, double speedMps) {
  const double latencySeconds = room.latencyMs / 1000.0;
  std::vector<SimPath> paths{{latencySeconds, room.directGain}};
  for (const SimEcho& e : room.echoes) {
    if (e.moving()) continue;
    paths.push_back({latencySeconds + 2.0 * e.distanceM / speedMps, e.gain});
  }
  return paths;
}
