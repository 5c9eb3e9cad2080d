#include "audio/recorded_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "audio/audio_backend.h"
#include "audio/wave_pair.h"
#include "engine/buffer_plan.h"
#include "io/json_value.h"
#include "io/read_fully.h"

namespace {

// A session.json is a few hundred bytes; an hour of pings makes a list of about 2 MB.
constexpr uint64_t kMaxSessionJsonBytes = 64 * 1024;
constexpr uint64_t kMaxPingListBytes = 256ull * 1024 * 1024;
// File names hold six digits.
constexpr uint64_t kMaxPings = 999999;
// A WAV's header and a line of the list, beside the samples of a ping [bytes].
constexpr uint64_t kPerPingOverheadBytes = 2 * 44 + 160;
constexpr uint32_t kTickMs = 25;
// Bounds of a calibration a session may bring: far beyond any real one, short of nonsense.
constexpr double kMaxSessionOffsetMetres = 100.0;
constexpr double kMaxSessionSpeedMps = 10000.0;

std::string readWholeFile(const std::string& path, uint64_t maxBytes, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return path + ": " + std::strerror(errno);
  struct stat st {};
  std::string problem;
  if (::fstat(fd, &st) != 0) {
    problem = path + ": " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    problem = path + " is not a regular file";
  } else if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    problem = path + " is larger than a session's can be";
  } else {
    text.resize(static_cast<size_t>(st.st_size));
    text.resize(readFully(fd, text.data(), text.size()));
  }
  ::close(fd);
  return problem;
}

std::string readCapture(const JsonValue& doc, SessionCapture& c) {
  const JsonValue* format = doc.find("format");
  const JsonValue* chirp = doc.find("chirp");
  if (format == nullptr || format->kind != JsonValue::Kind::kObject) return "no format";
  if (chirp == nullptr || chirp->kind != JsonValue::Kind::kObject) return "no chirp";
  const auto channels = jsonUnsigned(*format, "channels", 2);
  const auto rate = jsonUnsigned(*format, "samplesPerSec", 1000000);
  const auto bits = jsonUnsigned(*format, "bitsPerSample", 16);
  const auto start = jsonUnsigned(*chirp, "startFrequency", UINT32_MAX);
  const auto end = jsonUnsigned(*chirp, "endFrequency", UINT32_MAX);
  const auto time = jsonUnsigned(*chirp, "chirpTime", UINT32_MAX);
  const auto shape = jsonUnsigned(*chirp, "chirpShape", UINT8_MAX);
  const auto record = jsonUnsigned(doc, "recordTime", UINT32_MAX);
  const auto offset = jsonUnsigned(doc, "offsetBytes", UINT32_MAX);
  if (!channels || !rate || !bits) return "a format without whole channels, rate and bits";
  if (!start || !end || !time || !shape) return "a chirp without whole frequencies, time, shape";
  if (!record || !offset) return "no whole recordTime or offsetBytes";
  c.format = WaveFormat{};
  c.format.formatTag = 1;
  c.format.channels = static_cast<uint16_t>(*channels);
  c.format.samplesPerSec = static_cast<uint32_t>(*rate);
  c.format.bitsPerSample = static_cast<uint16_t>(*bits);
  recomputeDerivedFormat(c.format);
  if (!isRunnablePcm(c.format)) return "a format no device runs";
  c.startFrequency = static_cast<uint32_t>(*start);
  c.endFrequency = static_cast<uint32_t>(*end);
  c.chirpTime = static_cast<uint32_t>(*time);
  c.chirpShape = static_cast<uint8_t>(*shape);
  c.recordTime = static_cast<uint32_t>(*record);
  c.offsetBytes = static_cast<uint32_t>(*offset);
  return {};
}

std::string textMember(const JsonValue& doc, const char* key) {
  const JsonValue* v = doc.find(key);
  return v != nullptr && v->kind == JsonValue::Kind::kString ? v->text : std::string();
}

double realMember(const JsonValue& doc, const char* key) {
  const JsonValue* v = doc.find(key);
  return v != nullptr && v->kind == JsonValue::Kind::kNumber ? v->number : 0.0;
}

std::string formatReal(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::optional<double> optionalReal(const JsonValue& doc, const char* key) {
  const JsonValue* v = doc.find(key);
  if (v == nullptr || v->kind != JsonValue::Kind::kNumber) return std::nullopt;
  return v->number;
}

std::string readCalibration(const JsonValue& cal, SessionInfo& info) {
  Calibration& c = info.calibration;
  info.speedOfSound = realMember(cal, "speedOfSound");
  c.offsetMetres = realMember(cal, "offsetMetres");
  c.speedMps = optionalReal(cal, "speedMps");
  c.temperatureC = optionalReal(cal, "temperatureC");
  c.humidityPercent = optionalReal(cal, "humidityPercent").value_or(kDefaultHumidityPercent);
  // Whatever replays the session reads its distances at this calibration: it must be one the
  // program could have made.
  const bool plausible =
      std::abs(c.offsetMetres) <= kMaxSessionOffsetMetres &&
      (!c.speedMps || (*c.speedMps > 0.0 && *c.speedMps <= kMaxSessionSpeedMps)) &&
      (!c.temperatureC ||
       (*c.temperatureC >= kMinAirTemperatureC && *c.temperatureC <= kMaxAirTemperatureC)) &&
      c.humidityPercent >= 0.0 && c.humidityPercent <= 100.0;
  return plausible ? std::string() : "a calibration no measurement makes";
}

std::string checkPingFiles(const RecordedSession& s, const SessionPing& ping) {
  const PcmFormat format = pcmFormatOf(s.info.capture.format);
  const struct {
    PingFile file;
    uint64_t bytes;
  } expected[] = {{PingFile::kWarmUp, kWarmUpBytes}, {PingFile::kPing, s.info.recordBytes}};
  for (const auto& e : expected) {
    const std::string name = sessionPingName(ping.index, e.file);
    PcmWav wav;
    const std::string problem =
        readPcmWavFile(s.folder + "/" + name, e.bytes + 4096, WavPart::kHeaderOnly, wav);
    if (!problem.empty()) return "ping " + std::to_string(ping.index) + ": " + problem;
    if (wav.format != format) {
      return name + " holds " + describePcmFormat(wav.format) + ", the session says " +
             describePcmFormat(format);
    }
    if (wav.dataBytes != e.bytes) {
      return name + " holds " + std::to_string(wav.dataBytes) + " bytes, the session says " +
             std::to_string(e.bytes);
    }
  }
  return {};
}

}  // namespace

SessionCapture captureOf(const SonarSettings& s) {
  SessionCapture c;
  c.format = s.waveFormat;
  c.startFrequency = s.startFrequency;
  c.endFrequency = s.endFrequency;
  c.chirpTime = s.chirpTime;
  c.chirpShape = s.chirpShape;
  c.recordTime = s.recordTime;
  c.offsetBytes = s.offsetBytes;
  return c;
}

void applyCapture(const SessionCapture& c, SonarSettings& s) {
  s.waveFormat = c.format;
  s.startFrequency = c.startFrequency;
  s.endFrequency = c.endFrequency;
  s.chirpTime = c.chirpTime;
  s.chirpShape = c.chirpShape;
  s.recordTime = c.recordTime;
  s.offsetBytes = c.offsetBytes;
}

PcmFormat pcmFormatOf(const WaveFormat& f) {
  return PcmFormat{f.channels, f.samplesPerSec, f.bitsPerSample};
}

std::string sessionPingName(uint64_t index, PingFile file) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%06llu%s.wav", static_cast<unsigned long long>(index),
                file == PingFile::kWarmUp ? "-warmup" : "");
  return buf;
}

std::string sessionJson(const SessionInfo& i) {
  const SessionCapture& c = i.capture;
  std::string s = "{\"version\":" + std::to_string(kSessionVersion);
  s += ",\"program\":" + jsonQuoted(i.program);
  s += ",\"source\":" + jsonQuoted(i.source);
  s += ",\"format\":{\"channels\":" + std::to_string(c.format.channels) +
       ",\"samplesPerSec\":" + std::to_string(c.format.samplesPerSec) +
       ",\"bitsPerSample\":" + std::to_string(c.format.bitsPerSample) + "}";
  s += ",\"chirp\":{\"startFrequency\":" + std::to_string(c.startFrequency) +
       ",\"endFrequency\":" + std::to_string(c.endFrequency) +
       ",\"chirpTime\":" + std::to_string(c.chirpTime) +
       ",\"chirpShape\":" + std::to_string(c.chirpShape) + "}";
  s += ",\"recordTime\":" + std::to_string(c.recordTime);
  s += ",\"offsetBytes\":" + std::to_string(c.offsetBytes);
  s += ",\"recordBytes\":" + std::to_string(i.recordBytes);
  s += ",\"warmUpBytes\":" + std::to_string(kWarmUpBytes);
  const Calibration& cal = i.calibration;
  s += ",\"calibration\":{\"speedOfSound\":" + formatReal(i.speedOfSound) +
       ",\"offsetMetres\":" + formatReal(cal.offsetMetres) +
       ",\"speedMps\":" + (cal.speedMps ? formatReal(*cal.speedMps) : "null") +
       ",\"temperatureC\":" + (cal.temperatureC ? formatReal(*cal.temperatureC) : "null") +
       ",\"humidityPercent\":" + formatReal(cal.humidityPercent) + "}";
  s += ",\"started\":" + jsonQuoted(i.started);
  s += std::string(",\"complete\":") + (i.complete ? "true" : "false");
  if (i.complete) s += ",\"pings\":" + std::to_string(i.pings);
  if (!i.stopped.empty()) s += ",\"stopped\":" + jsonQuoted(i.stopped);
  return s + "}\n";
}

std::string parseSessionInfo(const std::string& text, SessionInfo& info) {
  std::string problem;
  const std::optional<JsonValue> doc = parseJson(text, problem);
  if (!doc) return "session.json is not JSON: " + problem;
  if (doc->kind != JsonValue::Kind::kObject) return "session.json is not an object";
  const auto version = jsonUnsigned(*doc, "version", UINT32_MAX);
  if (!version) return "session.json has no version";
  if (*version != kSessionVersion) {
    return "session.json is of version " + std::to_string(*version) + "; this program reads " +
           std::to_string(kSessionVersion);
  }
  info = SessionInfo{};
  if (const std::string bad = readCapture(*doc, info.capture); !bad.empty()) {
    return "session.json has " + bad;
  }
  const auto recordBytes = jsonUnsigned(*doc, "recordBytes", kMaxPlanBytes + kRecordExtraBytes);
  if (!recordBytes || *recordBytes == 0) return "session.json has no usable recordBytes";
  info.recordBytes = static_cast<uint32_t>(*recordBytes);
  const auto warmUp = jsonUnsigned(*doc, "warmUpBytes", UINT32_MAX);
  if (!warmUp || *warmUp != kWarmUpBytes) {
    return "session.json has warm-ups of another length than " + std::to_string(kWarmUpBytes);
  }
  info.program = textMember(*doc, "program");
  info.source = textMember(*doc, "source");
  info.started = textMember(*doc, "started");
  info.stopped = textMember(*doc, "stopped");
  if (const JsonValue* cal = doc->find("calibration");
      cal != nullptr && cal->kind == JsonValue::Kind::kObject) {
    if (std::string bad = readCalibration(*cal, info); !bad.empty())
      return "session.json has " + bad;
  }
  const JsonValue* complete = doc->find("complete");
  info.complete =
      complete != nullptr && complete->kind == JsonValue::Kind::kBool && complete->boolean;
  if (info.complete) {
    const auto pings = jsonUnsigned(*doc, "pings", kMaxPings);
    if (!pings) return "session.json is complete but does not say how many pings it holds";
    info.pings = *pings;
  }
  return {};
}

std::string parsePingList(const std::string& text, std::vector<SessionPing>& pings) {
  pings.clear();
  size_t at = 0;
  // A line without its newline is one a crash or a full disk cut short: it does not count.
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', at)) {
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const uint64_t expected = pings.size() + 1;
    const std::string where = "pings.jsonl line " + std::to_string(expected);
    std::string problem;
    const std::optional<JsonValue> v = parseJson(line, problem);
    if (!v || v->kind != JsonValue::Kind::kObject) return where + " is not a JSON object";
    const auto index = jsonUnsigned(*v, "index", kMaxPings);
    const auto time = jsonUnsigned(*v, "timeMs", UINT64_C(1) << 52);
    if (!index || *index != expected) return where + " is not ping " + std::to_string(expected);
    if (!time) return where + " has no timeMs";
    // The files are named by the index alone; a line naming anything else could send the replay
    // to files outside the session.
    if (textMember(*v, "warmUp") != sessionPingName(expected, PingFile::kWarmUp) ||
        textMember(*v, "ping") != sessionPingName(expected, PingFile::kPing)) {
      return where + " names other files than " + sessionPingName(expected, PingFile::kWarmUp) +
             " and " + sessionPingName(expected, PingFile::kPing);
    }
    pings.push_back(SessionPing{expected, *time});
  }
  return {};
}

std::string readRecordedSession(const std::string& folder, RecordedSession& session) {
  session = RecordedSession{};
  session.folder = folder;
  std::string text;
  if (std::string problem = readWholeFile(folder + "/" + kSessionFile, kMaxSessionJsonBytes, text);
      !problem.empty()) {
    return "not a recorded session: " + problem;
  }
  if (std::string problem = parseSessionInfo(text, session.info); !problem.empty()) return problem;
  if (std::string problem = readWholeFile(folder + "/" + kPingListFile, kMaxPingListBytes, text);
      !problem.empty()) {
    return problem;
  }
  if (std::string problem = parsePingList(text, session.pings); !problem.empty()) return problem;
  if (session.info.complete && session.info.pings != session.pings.size()) {
    return "session.json counts " + std::to_string(session.info.pings) + " pings, pings.jsonl " +
           std::to_string(session.pings.size());
  }
  if (session.pings.empty()) return "the session holds no complete ping";
  for (const SessionPing& ping : session.pings) {
    if (std::string problem = checkPingFiles(session, ping); !problem.empty()) return problem;
  }
  return {};
}

std::string sessionPlanProblem(const SessionInfo& info) {
  SonarSettings settings;
  applyDefaultSettings(settings);
  applyCapture(info.capture, settings);
  const PlannedLengths lengths = plannedLengths(settings);
  if (!lengths.fit()) return "its capture settings plan buffers beyond the program's limit";
  const uint64_t planned = uint64_t{lengths.inBytes} + kRecordExtraBytes;
  if (planned != info.recordBytes) {
    return "its recordings hold " + std::to_string(info.recordBytes) +
           " bytes, its settings plan " + std::to_string(planned);
  }
  return {};
}

uint64_t sessionBytesPerMinute(const SonarSettings& s) {
  // Ticks pass before each ping; the ping itself takes time too, so this is an upper bound.
  const uint64_t intervalMs = (uint64_t{s.clockMultiplier} + 1) * kTickMs;
  const uint64_t perPing =
      kWarmUpBytes + uint64_t{s.inBufferBytes} + kRecordExtraBytes + kPerPingOverheadBytes;
  return perPing * (60000 / intervalMs + 1);
}
