#pragma once
#include <QDialog>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/portaudio_backend.h"
#include "engine/wave_format.h"
#include "gui/audio_choice.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// A named simulated room for the room list: its text in MERVANE_ROOM's syntax.
struct RoomPreset {
  const char* name;
  const char* text;  // empty: the default room
};

// The rooms the dialog offers besides a text of the user's own: the plain default room and the
// realistic rooms' presets (a laptop's resonant loudspeaker in a reverberant shoebox).
std::vector<RoomPreset> roomPresets();

// The text a device shows in the lists: its name, its host API, and "(default)" for the
// system's default device of that direction.
QString deviceLabel(const AudioDeviceInfo& device, StreamDirection direction);

// Settings > Audio device...: the sound card with an input and an output device from
// PortAudio's list, the simulated room, or a recorded session played back from its folder (the
// choice asks for the folder). The input level of the chosen input shows live. OK
// makes the chosen back end and keeps it for the caller; a choice that cannot be made (a room
// text that does not read) is reported in the dialog and the dialog stays open.
class AudioDeviceDialog : public QDialog {
  Q_OBJECT

 public:
  AudioDeviceDialog(const AudioSetup& current, const WaveFormat& format,
                    const std::vector<AudioDeviceInfo>& devices, QWidget* parent);
  ~AudioDeviceDialog() override;

  AudioSetup setup() const;
  // The back end made by OK; empty before.
  AudioChoice takeChoice() { return std::move(choice_); }
  // The latest input level, 0 to 100 percent of full scale.
  int inputLevel() const;

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void buildDeviceLists(const std::vector<AudioDeviceInfo>& devices, const AudioSetup& current);
  void buildRoomList(const AudioSetup& current);
  void buildSessionRow(const AudioSetup& current);
  void browseSession();
  void updateEnabled();
  void restartLevelProbe();
  void measureLevel();

  WaveFormat format_;
  QButtonGroup* kind_ = nullptr;
  QComboBox* input_ = nullptr;
  QComboBox* output_ = nullptr;
  QComboBox* room_ = nullptr;
  QLineEdit* roomText_ = nullptr;
  QLineEdit* session_ = nullptr;
  QPushButton* browse_ = nullptr;
  QProgressBar* level_ = nullptr;
  QLabel* problem_ = nullptr;
  QTimer levelTimer_;
  std::unique_ptr<AudioBackend> probe_;
  std::vector<uint8_t> probeBuffer_;
  AudioChoice choice_;
};

// The peak of a recording in percent of full scale (8-bit samples around 128, 16-bit signed
// little-endian ones around 0).
int peakLevelPercent(const uint8_t* data, size_t bytes, uint16_t bitsPerSample);
