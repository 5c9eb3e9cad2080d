#pragma once
#include <QProcessEnvironment>
#include <memory>
#include <string>

#include "audio/audio_backend.h"

enum class AudioKind { kSoundCard, kSimulatedRoom };

// Which sound system the desktop program runs on. Without a say from the environment it is the
// sound card when the system has a default input and a default output device, else the
// simulated room (paced in real time, so it feels like a device). MERVANE_AUDIO=sim|portaudio
// decides instead; MERVANE_ROOM describes the simulated room and implies it.
struct AudioChoice {
  std::unique_ptr<AudioBackend> backend;
  AudioKind kind = AudioKind::kSimulatedRoom;
};

enum class AudioRequest { kAutomatic, kSimulatedRoom, kSoundCard };

// Reads MERVANE_AUDIO and checks it against MERVANE_ROOM. Returns the reason for a bad setting,
// empty when it is fine.
std::string readAudioRequest(const QProcessEnvironment& env, AudioRequest& request);

// Makes the back end the environment asks for. `soundCardReady` answers whether the system has
// default input and output devices; it is asked only in the automatic case. Returns the reason
// for a bad MERVANE_AUDIO or MERVANE_ROOM, empty on success.
std::string chooseAudio(const QProcessEnvironment& env, bool (*soundCardReady)(),
                        AudioChoice& choice);

// Whether the system has a default input and a default output device.
bool systemHasDefaultDevices();
