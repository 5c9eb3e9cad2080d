#pragma once
#include <QProcessEnvironment>
#include <memory>
#include <optional>
#include <string>

#include "audio/audio_backend.h"
#include "audio/recorded_session.h"

enum class AudioKind { kSoundCard, kSimulatedRoom, kRecordedSession };

// Which sound system the desktop program runs on. Without a say from the environment it is the
// sound card when the system has a default input and a default output device, else the
// simulated room (paced in real time, so it feels like a device). MERVANE_AUDIO=sim|portaudio|
// replay:DIR decides instead; MERVANE_ROOM describes the simulated room and implies it (a replay
// never simulates, and ignores it).
struct AudioChoice {
  std::unique_ptr<AudioBackend> backend;
  AudioKind kind = AudioKind::kSimulatedRoom;
  std::string note;  // why a remembered setup was not used, for the status bar
};

// What the user picked in Settings > Audio device... and the program remembers: the sound card
// with an input and an output device (PortAudio names; empty for the system's default), or the
// simulated room described in MERVANE_ROOM's syntax (empty for the default room), or a recorded
// session played back from its folder.
struct AudioSetup {
  AudioKind kind = AudioKind::kSoundCard;
  std::string inputDevice;
  std::string outputDevice;
  std::string room;
  std::string session;
  friend bool operator==(const AudioSetup&, const AudioSetup&) = default;
};

// Which device a calibration belongs to: "simulated room: ROOM" (or "default"), the command
// line's words for the same room, "sound card: in INPUT, out OUTPUT" ("default" for the
// system's), or "recorded session: FOLDER".
std::string calibrationDeviceText(const AudioSetup& setup);

// Makes the back end of a setup. Returns the reason it cannot be used (a room text that does not
// read, a device that does not exist, a session that cannot be replayed), empty on success.
std::string makeAudio(const AudioSetup& setup, AudioChoice& choice);

enum class AudioRequest { kAutomatic, kSimulatedRoom, kSoundCard, kRecordedSession };

// Reads MERVANE_AUDIO and checks it against MERVANE_ROOM. Returns the reason for a bad setting,
// empty when it is fine.
std::string readAudioRequest(const QProcessEnvironment& env, AudioRequest& request);
// The folder of MERVANE_AUDIO=replay:DIR; empty for any other setting.
std::string replayFolderOf(const QProcessEnvironment& env);

// The session a replay back end plays, or null for any other back end.
const RecordedSession* replayedSession(const AudioBackend* backend);

// Makes the back end the environment asks for; without a say from it, the remembered setup;
// without one, the automatic choice. `soundCardReady` answers whether the system has default
// input and output devices; it is asked only in the automatic case. Returns the reason for a bad
// MERVANE_AUDIO or MERVANE_ROOM, empty on success. A remembered setup that no longer works (its
// device is gone) gives way to the automatic choice, and `remembered` says why in `choice.note`.
std::string chooseAudio(const QProcessEnvironment& env, bool (*soundCardReady)(),
                        AudioChoice& choice, const std::optional<AudioSetup>& remembered = {});

// Whether the system has a default input and a default output device.
bool systemHasDefaultDevices();
