#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engine/sonar_settings.h"
#include "io/wav_file.h"

// A recorded session: a folder that keeps what the sound card delivered for every timed ping and
// single step, so the pings can be analysed again later, elsewhere, with other analysis settings.
//
//   session.json         what was recorded and how (written at the start, again at the end)
//   pings.jsonl          one line per ping, appended and flushed after its two files
//   NNNNNN-warmup.wav    the warm-up recording taken before ping NNNNNN
//   NNNNNN.wav           the ping's own recording, the whole record header
//
// A ping counts once its line is complete (ends in a newline): a session cut short by a crash or
// a full disk is read up to its last complete line.

constexpr uint32_t kSessionVersion = 1;
constexpr const char* kSessionFile = "session.json";
constexpr const char* kPingListFile = "pings.jsonl";

// The settings that shape what the microphone hears; a replay takes them from the session.
struct SessionCapture {
  WaveFormat format{};
  uint32_t startFrequency = 0;  // [Hz]
  uint32_t endFrequency = 0;    // [Hz]
  uint32_t chirpTime = 0;       // [us]
  uint8_t chirpShape = 0;
  uint32_t recordTime = 0;   // [ms]
  uint32_t offsetBytes = 0;  // [lags]
};

SessionCapture captureOf(const SonarSettings& settings);
// Puts the capture settings into `settings` (the buffers still need a new plan).
void applyCapture(const SessionCapture& capture, SonarSettings& settings);
PcmFormat pcmFormatOf(const WaveFormat& format);

struct SessionInfo {
  std::string program;  // the version that recorded it
  std::string source;   // the device or the simulated room
  SessionCapture capture;
  uint32_t recordBytes = 0;   // length of every ping recording [bytes]
  Calibration calibration;    // in use while recording; a replay takes it unless told
  double speedOfSound = 0.0;  // [m/s] in use while recording, for the reader
  std::string started;        // ISO time
  bool complete = false;      // written at the end
  uint64_t pings = 0;         // at the end: how many were recorded
  std::string stopped;        // at the end: why recording stopped early, if it did
};

std::string sessionJson(const SessionInfo& info);

struct SessionPing {
  uint64_t index = 0;   // from 1
  uint64_t timeMs = 0;  // the back end's clock when it was taken
};

// "000012-warmup.wav" or "000012.wav".
enum class PingFile : uint8_t { kWarmUp, kPing };
std::string sessionPingName(uint64_t index, PingFile file);

struct RecordedSession {
  std::string folder;
  SessionInfo info;
  std::vector<SessionPing> pings;
};

// Reads and checks a session: its JSON files, and the header of every WAV the complete lines
// name (it must exist and hold the session's format and lengths). Returns the reason it cannot be
// replayed, empty when it can.
std::string readRecordedSession(const std::string& folder, RecordedSession& session);

// The same checks on the two JSON texts alone (no files), for the reader and the fuzzer.
std::string parseSessionInfo(const std::string& text, SessionInfo& info);
std::string parsePingList(const std::string& text, std::vector<SessionPing>& pings);

// Why the program cannot replay a session that reads: its capture settings do not plan buffers
// of its recordings' length. Empty when they do.
std::string sessionPlanProblem(const SessionInfo& info);

// How many bytes a minute of recording takes with these settings at the desktop program's pace.
uint64_t sessionBytesPerMinute(const SonarSettings& settings);
