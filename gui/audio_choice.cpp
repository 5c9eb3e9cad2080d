#include "gui/audio_choice.h"

#include <algorithm>
#include <vector>

#include "audio/portaudio_backend.h"
#include "audio/replay_backend.h"
#include "audio/sim_backend.h"
#include "audio/sim_room.h"
#include "engine/sonar_settings.h"

namespace {

// The room's speed of sound is that of the medium a fresh start draws with.
double startMediumSpeed() {
  SonarSettings defaults;
  applyDefaultSettings(defaults);
  return speedOfSound(defaults.medium);
}

std::string makeSimulatedRoom(const std::optional<std::string>& text, AudioChoice& choice) {
  SimRoom room = defaultSimRoom();
  if (text) {
    room = SimRoom{};
    if (std::string reason = parseSimRoom(*text, room); !reason.empty()) return reason;
  }
  if (!room.speedMps) room.speedMps = startMediumSpeed();
  choice.backend = std::make_unique<SimBackend>(room, SimPacing::kRealTime);
  choice.kind = AudioKind::kSimulatedRoom;
  return {};
}

std::string makeSoundCard(const std::string& input, const std::string& output,
                          AudioChoice& choice) {
  // A device that then fails to open is reported by the start-up like any device error, and the
  // window still comes up; one that does not exist at all is refused here.
  auto backend = std::make_unique<PortAudioBackend>(input, output);
  if (!backend->deviceProblem().empty()) return backend->deviceProblem();
  choice.backend = std::move(backend);
  choice.kind = AudioKind::kSoundCard;
  return {};
}

std::string makeReplay(const std::string& folder, AudioChoice& choice) {
  if (folder.empty()) return "choose the folder of a recorded session";
  RecordedSession session;
  std::string problem = readRecordedSession(folder, session);
  if (problem.empty()) problem = sessionPlanProblem(session.info);
  if (!problem.empty()) return "cannot replay " + folder + ": " + problem;
  choice.backend = std::make_unique<ReplayBackend>(std::move(session));
  choice.kind = AudioKind::kRecordedSession;
  return {};
}

const QString kReplayPrefix = QStringLiteral("replay:");

}  // namespace

std::string replayFolderOf(const QProcessEnvironment& env) {
  const QString audio = env.value(QStringLiteral("MERVANE_AUDIO"));
  if (!audio.startsWith(kReplayPrefix)) return {};
  return audio.mid(kReplayPrefix.size()).toStdString();
}

const RecordedSession* replayedSession(const AudioBackend* backend) {
  const auto* replay = dynamic_cast<const ReplayBackend*>(backend);
  return replay == nullptr ? nullptr : &replay->session();
}

std::string calibrationDeviceText(const AudioSetup& setup) {
  const auto named = [](const std::string& name) { return name.empty() ? "default" : name; };
  if (setup.kind == AudioKind::kSimulatedRoom) return "simulated room: " + named(setup.room);
  if (setup.kind == AudioKind::kRecordedSession) return "recorded session: " + setup.session;
  return "sound card: in " + named(setup.inputDevice) + ", out " + named(setup.outputDevice);
}

std::string readAudioRequest(const QProcessEnvironment& env, AudioRequest& request) {
  const QString audio = env.value(QStringLiteral("MERVANE_AUDIO"));
  const bool roomGiven = env.contains(QStringLiteral("MERVANE_ROOM"));
  if (audio.isEmpty()) {
    request = roomGiven ? AudioRequest::kSimulatedRoom : AudioRequest::kAutomatic;
  } else if (audio == QLatin1String("sim")) {
    request = AudioRequest::kSimulatedRoom;
  } else if (audio == QLatin1String("portaudio")) {
    request = AudioRequest::kSoundCard;
  } else if (audio.startsWith(kReplayPrefix)) {
    if (audio.size() == kReplayPrefix.size()) return "MERVANE_AUDIO=replay: needs a session folder";
    // A replay reads only the session's files: a room has nothing to say to it.
    request = AudioRequest::kRecordedSession;
    return {};
  } else {
    return "MERVANE_AUDIO: unknown back end '" + audio.toStdString() +
           "' (sim, portaudio or replay:DIR)";
  }
  if (roomGiven && request == AudioRequest::kSoundCard) {
    return "MERVANE_ROOM describes the simulated room; it cannot go with MERVANE_AUDIO=portaudio";
  }
  return {};
}

std::string makeAudio(const AudioSetup& setup, AudioChoice& choice) {
  if (setup.kind == AudioKind::kSoundCard) {
    return makeSoundCard(setup.inputDevice, setup.outputDevice, choice);
  }
  if (setup.kind == AudioKind::kRecordedSession) return makeReplay(setup.session, choice);
  return makeSimulatedRoom(setup.room.empty() ? std::nullopt : std::optional(setup.room), choice);
}

std::string chooseAudio(const QProcessEnvironment& env, bool (*soundCardReady)(),
                        AudioChoice& choice, const std::optional<AudioSetup>& remembered) {
  AudioRequest request = AudioRequest::kAutomatic;
  if (std::string reason = readAudioRequest(env, request); !reason.empty()) return reason;
  if (request == AudioRequest::kAutomatic && remembered) {
    const std::string reason = makeAudio(*remembered, choice);
    if (reason.empty()) return {};
    choice.note = "The remembered audio device cannot be used: " + reason;
  }
  if (request == AudioRequest::kAutomatic) {
    request = soundCardReady != nullptr && soundCardReady() ? AudioRequest::kSoundCard
                                                            : AudioRequest::kSimulatedRoom;
  }
  if (request == AudioRequest::kSoundCard) return makeSoundCard({}, {}, choice);
  if (request == AudioRequest::kRecordedSession) {
    if (std::string reason = makeReplay(replayFolderOf(env), choice); !reason.empty()) {
      return "MERVANE_AUDIO: " + reason;
    }
    return {};
  }
  std::optional<std::string> room;
  if (env.contains(QStringLiteral("MERVANE_ROOM"))) {
    room = env.value(QStringLiteral("MERVANE_ROOM")).toStdString();
  }
  if (std::string reason = makeSimulatedRoom(room, choice); !reason.empty()) {
    return "MERVANE_ROOM: " + reason;
  }
  return {};
}

bool systemHasDefaultDevices() {
  std::vector<AudioDeviceInfo> devices;
  if (listAudioDevices(devices) != kWaveOk) return false;
  const bool input = std::any_of(devices.begin(), devices.end(),
                                 [](const AudioDeviceInfo& d) { return d.defaultInput; });
  const bool output = std::any_of(devices.begin(), devices.end(),
                                  [](const AudioDeviceInfo& d) { return d.defaultOutput; });
  return input && output;
}
