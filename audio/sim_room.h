#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The room the simulated back end plays into. In its plain form the loudspeaker's direct sound
// reaches the microphone after a fixed latency, each reflector adds a weaker copy 2 d / speed
// later, the microphone adds white noise, and each output channel reaches the same input channel.
//
// Given a shoebox (`size=` or a preset) it becomes a real room: one loudspeaker at a position,
// facing a direction, with a microphone per input channel nearby; every wall reflects (image
// sources up to an order), a diffuse tail follows, and loudspeaker and microphone colour the
// sound (see sim_shoebox.h, sim_response.h).

struct SimEcho {
  double distanceM = 0.0;  // from the device to the reflector [m], 0..kMaxEchoDistanceM
  double gain = 0.0;       // amplitude as a fraction of full scale
  // Motion on the room's clock, which starts at the first ping: a swing of ±swingM [m] at
  // swingHz [Hz] (sine, phase 0 at the first ping) and a drift of velocityMps [m/s], positive
  // away from the device.
  double swingM = 0.0;
  double swingHz = 0.0;
  double velocityMps = 0.0;

  bool moving() const { return (swingM != 0.0 && swingHz != 0.0) || velocityMps != 0.0; }
};

// How a loudspeaker or a microphone colours what passes through it.
enum class ResponseKind : uint8_t { kFlat, kLowPass, kHighPass, kPhase, kResonant, kRinging };

struct SimResponse {
  ResponseKind kind = ResponseKind::kFlat;
  double hz = 0.0;       // corner (low-pass, high-pass) or peak (resonant, ringing) [Hz]
  double q = 0.0;        // sharpness of the peak (resonant, ringing)
  double gainDb = 0.0;   // height of the peak [dB] (resonant, ringing)
  double degrees = 0.0;  // the constant phase shift (phase)
  int order = 1;         // of a low-pass: 1 as a plain RC, 2 to 8 a Butterworth's steeper fall

  bool flat() const { return kind == ResponseKind::kFlat; }
};

struct SimPoint {
  double x = 0.0, y = 0.0, z = 0.0;  // [m]
};

// A rectangular room with the loudspeaker inside. Coordinates: x along the length, y along the
// width, z up from the floor; (0, 0, 0) is a corner.
struct SimShoebox {
  SimPoint size{5.0, 4.0, 2.7};      // [m]
  SimPoint position{2.5, 2.0, 1.0};  // the loudspeaker [m]
  double facingDegrees = 0.0;        // the device's front, in the floor plane, from the +x axis
  // Each input channel's microphone relative to the loudspeaker in the device's own frame:
  // x to its right, y up, z forwards [m]. Channels beyond the list use its last entry.
  std::vector<SimPoint> microphones{{0.0, 0.10, 0.0}};
  bool micsGiven = false;             // a mic= key replaced the default microphone
  double reverberationSeconds = 0.4;  // RT60; the walls' absorption follows from it
  int order = 8;                      // highest number of wall reflections of an image source
  double scatter = 0.1;    // share of the energy each wall scatters into the diffuse tail, 0..1
  double tailGain = 1.0;   // scales the diffuse tail (0: none)
  double airDbPerM = 0.1;  // air absorption at the chirp's frequencies [dB/m]
  double beam = 0.5;       // loudspeaker directivity: 0 all round, 1 cardioid
};

// Sound that reaches the microphones through the device's own case, ahead of the air path.
struct SimCasePath {
  double leadMs = 0.0;  // before the air path's direct sound [ms]
  double db = 0.0;      // relative to the air path's direct sound [dB]
  SimResponse response{ResponseKind::kLowPass, 4000.0};
};

struct SimRoom {
  double latencyMs = 7.4;   // capture start to the direct arrival [ms], 0..kMaxLatencyMs
  double directGain = 0.3;  // amplitude of the direct sound as a fraction of full scale
  std::vector<SimEcho> echoes;
  double noiseRms = 30.0;  // white noise [16-bit units]
  uint64_t seed = 1;
  std::optional<double> speedMps;  // unset: the caller supplies the current medium's speed
  // The room's air (temperature=, humidity=): sets speedMps once every key is read. The room
  // keeps its own air whatever calibration the program reads it with.
  std::optional<double> temperatureC;
  std::optional<double> humidityPercent;

  std::optional<SimShoebox> shoebox;
  SimResponse speaker;     // the loudspeaker's response
  SimResponse microphone;  // every microphone's response
  double pinkRms = 0.0;    // pink (1/f) noise [16-bit units]
  double dcOffset = 0.0;   // added to every recorded sample [16-bit units]
  double clipLevel = 1.0;  // the microphone saturates at this fraction of full scale
  std::optional<SimCasePath> casePath;

  // Whether the sound takes the long way: through a shoebox, a coloured device or the case,
  // which is rendered from an impulse response instead of a few delayed copies.
  bool realistic() const {
    return shoebox.has_value() || !speaker.flat() || !microphone.flat() || casePath.has_value();
  }
};

constexpr double kMaxLatencyMs = 10000.0;
constexpr double kMaxEchoDistanceM = 1000.0;
constexpr double kMaxRoomGain = 100.0;
constexpr double kMinSpeedMps = 1.0;
constexpr double kMaxSpeedMps = 100000.0;
constexpr int kMaxReflectionOrder = 12;
constexpr double kMaxCaseLeadMs = 5.0;
constexpr double kMaxCaseDb = 40.0;  // either way
constexpr double kMaxEchoSwingM = 10.0;     // move=: largest swing [m]
constexpr double kMaxEchoSwingHz = 1000.0;  // move=: fastest swing [Hz]
constexpr double kMaxEchoSpeedMps = 100.0;  // vel=: fastest drift [m/s]

// The reflectors of person=METRES: a breathing person, a soft cluster of reflections from the
// chest backwards, swinging about ±4 mm at 0.25 Hz.
std::vector<SimEcho> personEchoes(double distanceM);

// Where a reflector is `seconds` after the first ping on the room's clock [m], never nearer
// than the device itself.
double echoDistanceAt(const SimEcho& echo, double seconds);

// The room of a run without --room: the defaults with reflectors at 0.80 m and 1.90 m.
SimRoom defaultSimRoom();

// Parses comma-separated key=value pairs over the defaults, without reflectors unless given:
// latency, direct, echo=METRES:GAIN[:move=M@HZ|:vel=V] (repeatable), person=METRES (repeatable),
// noise, seed, speed or temperature and humidity (the speed of that air; humidity defaults to
// 50 %), case=MS:DB[:RESP]; and for the realistic room
// preset, size, pos, facing, spacing, mic (repeatable), rt, order, scatter, tail, air, beam,
// speaker, micresponse, pink, dc, clip. A preset must come first; later keys refine it. Returns
// an empty string on success, else the reason naming the key; `room` is then unspecified.
std::string parseSimRoom(std::string_view text, SimRoom& room);

// The names of the presets, for the help texts.
std::vector<std::string_view> simRoomPresets();

// One way from the loudspeaker to the microphone: the direct sound or an echo.
struct SimPath {
  double delaySeconds = 0.0;  // after the start of playback
  double gain = 0.0;
};

// The direct path and one path per still reflector, at the given speed of sound [m/s]. Moving
// reflectors are rendered ping by ping instead (sim_motion.h).
std::vector<SimPath> roomPaths(const SimRoom& room, double speedMps);
