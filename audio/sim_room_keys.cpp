#include "audio/sim_room_keys.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "audio/sim_shoebox.h"
#include "engine/speed_of_sound.h"

namespace {

// The presets, each a list of keys over the plain defaults. The desk preset treats the desk top
// as the floor of the box: a laptop stands on it 1 cm up, its microphones on the screen's top
// edge behind and above the loudspeaker, 0.75 m in front of a wall.
struct Preset {
  std::string_view name;
  std::string_view keys;
};
constexpr std::string_view kLaptop =
    "mic=-0.03:0.17:-0.07,mic=0.03:0.17:-0.07,speaker=resonant,beam=0.5,noise=20,pink=10";
constexpr std::array<Preset, 3> kPresets{{
    {"desk", "size=3.0:2.4:1.5,pos=2.25:1.0:0.01,facing=0,rt=0.35,order=8,scatter=0.15"},
    {"office", "size=5.0:4.0:2.7,pos=3.5:1.5:0.76,facing=0,rt=0.5,order=8,scatter=0.2"},
    {"hall", "size=24:16:8,pos=19:6:1.2,facing=0,rt=1.2,order=6,scatter=0.3"},
}};

// "A:B:C" into three numbers.
bool readTriple(std::string_view text, SimPoint& p) {
  std::array<double, 3> v{};
  for (size_t i = 0; i < 3; ++i) {
    const size_t colon = text.find(':');
    if ((colon == std::string_view::npos) != (i == 2)) return false;
    if (!readRoomNumber(text.substr(0, colon), v[i])) return false;
    text = i == 2 ? std::string_view() : text.substr(colon + 1);
  }
  p = {v[0], v[1], v[2]};
  return true;
}

bool readResponse(std::string_view text, SimResponse& r) {
  const size_t colon = text.find(':');
  const std::string_view kind = text.substr(0, colon);
  std::string_view args =
      colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
  r = SimResponse{};
  if (kind == "flat") return args.empty();
  if (kind == "lowpass" || kind == "highpass") {
    r.kind = kind == "lowpass" ? ResponseKind::kLowPass : ResponseKind::kHighPass;
    return readRoomNumber(args, r.hz) && inRoomRange(r.hz, 10.0, 100000.0);
  }
  if (kind == "phase") {
    r.kind = ResponseKind::kPhase;
    return readRoomNumber(args, r.degrees) && inRoomRange(r.degrees, -360.0, 360.0);
  }
  if (kind != "resonant" && kind != "ringing") return false;
  // A mildly resonant small loudspeaker, or one that rings: a peak over the chirp's band.
  const bool ringing = kind == "ringing";
  r.kind = ringing ? ResponseKind::kRinging : ResponseKind::kResonant;
  SimPoint peak = ringing ? SimPoint{10000.0, 20.0, 12.0} : SimPoint{9000.0, 3.0, 6.0};
  if (!args.empty() && !readTriple(args, peak)) return false;
  r.hz = peak.x;
  r.q = peak.y;
  r.gainDb = peak.z;
  return inRoomRange(r.hz, 10.0, 100000.0) && inRoomRange(r.q, 0.1, 200.0) &&
         inRoomRange(r.gainDb, -40.0, 40.0);
}

bool inside(const SimPoint& p, const SimPoint& size) {
  return p.x > 0.0 && p.x < size.x && p.y > 0.0 && p.y < size.y && p.z > 0.0 && p.z < size.z;
}

std::string readPreset(std::string_view name, SimRoom& room) {
  for (const Preset& p : kPresets) {
    if (p.name != name) continue;
    std::string_view keys = p.keys;
    // Shoebox first, then the laptop on it.
    for (std::string_view list : {keys, kLaptop}) {
      while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        const size_t equals = item.find('=');
        const std::string_view key = item.substr(0, equals);
        const std::string_view value = item.substr(equals + 1);
        if (key == "noise") {
          readRoomNumber(value, room.noiseRms);
        } else if (std::string problem = readRealisticRoomKey(key, value, room); !problem.empty()) {
          return problem;
        }
      }
    }
    room.shoebox->micsGiven = false;  // a mic= of the user replaces the laptop's microphones
    return {};
  }
  return "unknown room preset '" + std::string(name) + "': desk, office or hall";
}

SimShoebox& shoeboxOf(SimRoom& room) {
  if (!room.shoebox) room.shoebox = SimShoebox{};
  return *room.shoebox;
}

// Keys whose value is a number in a range, stored in a field of the shoebox or the room.
struct NumberKey {
  std::string_view key;
  double low, high;
  std::string_view unit;  // with its leading space, or empty
  double* (*field)(SimRoom&);
};
const std::array<NumberKey, 10> kNumberKeys{{
    {"facing", -3600.0, 3600.0, " degrees", [](SimRoom& r) { return &shoeboxOf(r).facingDegrees; }},
    {"rt", 0.05, 10.0, " s", [](SimRoom& r) { return &shoeboxOf(r).reverberationSeconds; }},
    {"scatter", 0.0, 1.0, "", [](SimRoom& r) { return &shoeboxOf(r).scatter; }},
    {"tail", 0.0, 10.0, "", [](SimRoom& r) { return &shoeboxOf(r).tailGain; }},
    {"air", 0.0, 10.0, " dB/m", [](SimRoom& r) { return &shoeboxOf(r).airDbPerM; }},
    {"beam", 0.0, 1.0, "", [](SimRoom& r) { return &shoeboxOf(r).beam; }},
    {"pink", 0.0, 32768.0, " (16-bit units)", [](SimRoom& r) { return &r.pinkRms; }},
    {"dc", -32768.0, 32768.0, " (16-bit units)", [](SimRoom& r) { return &r.dcOffset; }},
    {"clip", 0.001, 1.0, " of full scale", [](SimRoom& r) { return &r.clipLevel; }},
    {"spacing", 0.0, 2.0, " m", nullptr},
}};

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string fromTo(double low, double high, std::string_view unit = {}) {
  return "a number from " + number(low) + " to " + number(high) + std::string(unit);
}

// What each key takes, in words, for the message about a value it does not.
std::string accepted(std::string_view key) {
  for (const NumberKey& k : kNumberKeys) {
    if (k.key == key) return fromTo(k.low, k.high, k.unit);
  }
  if (key == "latency") return fromTo(0.0, kMaxLatencyMs, " ms");
  if (key == "direct") return fromTo(-kMaxRoomGain, kMaxRoomGain, " (share of full scale)");
  if (key == "noise") return fromTo(0.0, 32768.0, " (16-bit units)");
  if (key == "speed") return fromTo(kMinSpeedMps, kMaxSpeedMps, " m/s");
  if (key == "temperature") {
    return fromTo(kMinAirTemperatureC, kMaxAirTemperatureC, " degrees Celsius");
  }
  if (key == "humidity") return fromTo(0.0, 100.0, " % relative humidity");
  if (key == "seed") return "a whole number from 0 to 18446744073709551615";
  if (key == "order") return "a whole number from 0 to " + std::to_string(kMaxReflectionOrder);
  if (key == "size") return "L:W:H, each " + fromTo(0.5, 200.0, " m");
  if (key == "pos") return "X:Y:Z in metres, inside the room";
  if (key == "mic") return "R:U:F in metres, at most 2 m from the loudspeaker";
  if (key == "echo") {
    return "METRES:GAIN, metres " + fromTo(0.0, kMaxEchoDistanceM) + ", gain " +
           fromTo(-kMaxRoomGain, kMaxRoomGain);
  }
  if (key == "speaker" || key == "micresponse") {
    return "flat, lowpass:HZ or highpass:HZ (10 to 100000 Hz), phase:DEG (-360 to 360), "
           "resonant[:HZ:Q:DB] or ringing[:HZ:Q:DB] (Q 0.1 to 200, DB -40 to 40)";
  }
  return {};
}

}  // namespace

std::string badRoomValue(std::string_view key, std::string_view value) {
  std::string problem =
      "room key " + std::string(key) + " has a bad value '" + std::string(value) + "'";
  if (const std::string takes = accepted(key); !takes.empty()) {
    problem += ": it takes " + takes;
  }
  return problem;
}

bool readRoomNumber(std::string_view text, double& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && stop == end && std::isfinite(value);
}

bool isRealisticRoomKey(std::string_view key) {
  for (const NumberKey& k : kNumberKeys) {
    if (k.key == key) return true;
  }
  return key == "preset" || key == "size" || key == "pos" || key == "mic" || key == "order" ||
         key == "speaker" || key == "micresponse";
}

std::string readRealisticRoomKey(std::string_view key, std::string_view value, SimRoom& room) {
  const std::string bad = badRoomValue(key, value);
  if (key == "preset") return readPreset(value, room);
  if (key == "speaker" || key == "micresponse") {
    return readResponse(value, key == "speaker" ? room.speaker : room.microphone) ? std::string()
                                                                                  : bad;
  }
  SimPoint p;
  if (key == "size") {
    if (!readTriple(value, p) || !inRoomRange(std::min({p.x, p.y, p.z}), 0.5, 200.0) ||
        !inRoomRange(std::max({p.x, p.y, p.z}), 0.5, 200.0)) {
      return bad;
    }
    shoeboxOf(room).size = p;
    return {};
  }
  if (key == "pos") {
    if (!readTriple(value, p)) return bad;
    shoeboxOf(room).position = p;
    return {};
  }
  if (key == "mic") {
    if (!readTriple(value, p) || std::hypot(p.x, p.y, p.z) > 2.0) return bad;
    SimShoebox& box = shoeboxOf(room);
    // The first mic= replaces the default microphone; later ones add channels.
    if (!box.micsGiven) box.microphones.clear();
    box.micsGiven = true;
    box.microphones.push_back(p);
    return {};
  }
  double v = 0.0;
  if (!readRoomNumber(value, v)) return bad;
  if (key == "order") {
    if (v != std::floor(v) || !inRoomRange(v, 0.0, kMaxReflectionOrder)) return bad;
    shoeboxOf(room).order = static_cast<int>(v);
    return {};
  }
  for (const NumberKey& k : kNumberKeys) {
    if (k.key != key) continue;
    if (!inRoomRange(v, k.low, k.high)) return bad;
    if (k.field != nullptr) {
      *k.field(room) = v;
    } else {  // spacing: one microphone straight above the loudspeaker
      SimShoebox& box = shoeboxOf(room);
      box.microphones = {{0.0, v, 0.0}};
      box.micsGiven = false;  // a later mic= replaces it
    }
    return {};
  }
  return "unknown room key '" + std::string(key) + "'";
}

std::string checkRoomGeometry(const SimRoom& room) {
  if (!room.shoebox) return {};
  const SimShoebox& box = *room.shoebox;
  if (!inside(box.position, box.size)) return "room key pos is outside the room's size";
  for (size_t c = 0; c < box.microphones.size(); ++c) {
    if (!inside(microphonePosition(box, c), box.size)) {
      return "room key mic puts microphone " + std::to_string(c + 1) + " outside the room";
    }
  }
  return {};
}

std::vector<std::string_view> simRoomPresets() {
  std::vector<std::string_view> names;
  for (const Preset& p : kPresets) names.push_back(p.name);
  return names;
}
