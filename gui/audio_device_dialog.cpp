#include "gui/audio_device_dialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "audio/wave_pair.h"
#include "dialogs/surface_view.h"
#include "engine/pcm_samples.h"

namespace {

constexpr int kLevelPeriodMs = 250;
constexpr uint32_t kLevelWindowMs = 40;  // recorded per look at the level
constexpr int kSoundCardId = 0, kRoomId = 1, kSessionId = 2;

bool hasDirection(const AudioDeviceInfo& d, StreamDirection direction) {
  return direction == StreamDirection::kInput ? d.maxInputChannels > 0 : d.maxOutputChannels > 0;
}

bool isDefault(const AudioDeviceInfo& d, StreamDirection direction) {
  return direction == StreamDirection::kInput ? d.defaultInput : d.defaultOutput;
}

// One list of devices of a direction; the first entry is the system's default, whatever it is
// at the next start. Each entry carries the device's name, the way the choice is remembered.
QComboBox* makeDeviceList(const std::vector<AudioDeviceInfo>& devices, StreamDirection direction,
                          const std::string& chosen, const char* name, QWidget* parent) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->addItem(QStringLiteral("System default"), QString());
  for (const AudioDeviceInfo& d : devices) {
    if (!hasDirection(d, direction)) continue;
    list->addItem(deviceLabel(d, direction), QString::fromStdString(d.name));
    if (!chosen.empty() && d.name == chosen) list->setCurrentIndex(list->count() - 1);
  }
  return list;
}

}  // namespace

std::vector<RoomPreset> roomPresets() {
  return {
      {"Default room (reflectors at 0.80 m and 1.90 m)", ""},
      {"Laptop at a desk, facing a wall 0.75 m away", "preset=desk"},
      {"Laptop in an office, facing a wall 1.5 m away", "preset=office"},
      {"Laptop in a hall, facing a wall 5 m away", "preset=hall"},
  };
}

QString deviceLabel(const AudioDeviceInfo& device, StreamDirection direction) {
  QString label = QStringLiteral("%1 (%2)").arg(QString::fromStdString(device.name),
                                                QString::fromStdString(device.hostApi));
  if (isDefault(device, direction)) label += QStringLiteral(" (default)");
  return label;
}

int peakLevelPercent(const uint8_t* data, size_t bytes, uint16_t bitsPerSample) {
  const std::span<const uint8_t> pcm(data, bytes);
  const bool sixteenBit = bitsPerSample == 16;
  int peak = 0;
  for (uint64_t i = 0; i < pcmSampleCount(pcm, sixteenBit); ++i) {
    peak = std::max(peak, std::abs(pcmSampleAt(pcm, i, sixteenBit)));
  }
  return std::min(100, peak * 100 / (sixteenBit ? 32768 : 128));
}

AudioDeviceDialog::AudioDeviceDialog(const AudioSetup& current, const WaveFormat& format,
                                     const std::vector<AudioDeviceInfo>& devices, QWidget* parent)
    : QDialog(parent), format_(format) {
  setWindowTitle(QStringLiteral("Audio device"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  kind_ = new QButtonGroup(this);
  auto* card = new QRadioButton(QStringLiteral("&Sound card"), this);
  card->setObjectName(QStringLiteral("soundCard"));
  auto* room = new QRadioButton(QStringLiteral("Si&mulated room"), this);
  room->setObjectName(QStringLiteral("simulatedRoom"));
  auto* session = new QRadioButton(QStringLiteral("R&ecorded session..."), this);
  session->setObjectName(QStringLiteral("recordedSession"));
  kind_->addButton(card, kSoundCardId);
  kind_->addButton(room, kRoomId);
  kind_->addButton(session, kSessionId);
  switch (current.kind) {
    case AudioKind::kSimulatedRoom:
      room->setChecked(true);
      break;
    case AudioKind::kRecordedSession:
      session->setChecked(true);
      break;
    case AudioKind::kSoundCard:
      card->setChecked(true);
      break;
  }

  buildDeviceLists(devices, current);
  auto* cardForm = new QFormLayout;
  cardForm->addRow(QStringLiteral("&Input:"), input_);
  cardForm->addRow(QStringLiteral("&Output:"), output_);
  buildRoomList(current);
  auto* roomForm = new QFormLayout;
  roomForm->addRow(QStringLiteral("&Room:"), room_);
  roomForm->addRow(QStringLiteral("&Description:"), roomText_);
  buildSessionRow(current);
  auto* sessionRow = new QHBoxLayout;
  sessionRow->addWidget(session_, 1);
  sessionRow->addWidget(browse_);
  auto* sessionForm = new QFormLayout;
  // A label beside a layout has no buddy of its own, and without one it shows its ampersand.
  auto* folderLabel = new QLabel(QStringLiteral("&Folder:"), this);
  folderLabel->setBuddy(session_);
  sessionForm->addRow(folderLabel, sessionRow);

  level_ = new QProgressBar(this);
  level_->setObjectName(QStringLiteral("inputLevel"));
  level_->setRange(0, 100);
  level_->setFormat(QStringLiteral("Input level %p %"));
  problem_ = new QLabel(this);
  problem_->setObjectName(QStringLiteral("problem"));
  problem_->setWordWrap(true);
  problem_->setTextFormat(Qt::PlainText);

  layout->addWidget(card);
  layout->addLayout(cardForm);
  layout->addWidget(room);
  layout->addLayout(roomForm);
  layout->addWidget(session);
  layout->addLayout(sessionForm);
  layout->addWidget(level_);
  layout->addWidget(problem_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &AudioDeviceDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &AudioDeviceDialog::reject);
  layout->addWidget(buttons);

  connect(kind_, &QButtonGroup::idClicked, this, [this](int id) {
    // The choice asks for its folder at once, unless one was given before.
    if (id == kSessionId && session_->text().trimmed().isEmpty()) browseSession();
    restartLevelProbe();
  });
  connect(browse_, &QPushButton::clicked, this, [this] {
    browseSession();
    restartLevelProbe();
  });
  connect(session_, &QLineEdit::editingFinished, this, [this] { restartLevelProbe(); });
  for (QComboBox* list : {input_, output_}) {
    connect(list, &QComboBox::currentIndexChanged, this, [this] { restartLevelProbe(); });
  }
  connect(room_, &QComboBox::currentIndexChanged, this, [this](int index) {
    roomText_->setText(room_->itemData(index).toString());
    restartLevelProbe();
  });
  connect(roomText_, &QLineEdit::editingFinished, this, [this] { restartLevelProbe(); });
  levelTimer_.setInterval(kLevelPeriodMs);
  connect(&levelTimer_, &QTimer::timeout, this, [this] { measureLevel(); });
  restartLevelProbe();
  levelTimer_.start();
}

AudioDeviceDialog::~AudioDeviceDialog() = default;

void AudioDeviceDialog::buildDeviceLists(const std::vector<AudioDeviceInfo>& devices,
                                         const AudioSetup& current) {
  input_ =
      makeDeviceList(devices, StreamDirection::kInput, current.inputDevice, "inputDevice", this);
  output_ =
      makeDeviceList(devices, StreamDirection::kOutput, current.outputDevice, "outputDevice", this);
}

void AudioDeviceDialog::buildRoomList(const AudioSetup& current) {
  room_ = new QComboBox(this);
  room_->setObjectName(QStringLiteral("roomPreset"));
  for (const RoomPreset& preset : roomPresets()) {
    room_->addItem(QString::fromUtf8(preset.name), QString::fromUtf8(preset.text));
  }
  room_->addItem(QStringLiteral("Described below"), QString::fromStdString(current.room));
  const int known = room_->findData(QString::fromStdString(current.room));
  room_->setCurrentIndex(known >= 0 ? known : room_->count() - 1);
  roomText_ = new QLineEdit(QString::fromStdString(current.room), this);
  roomText_->setObjectName(QStringLiteral("roomText"));
  roomText_->setPlaceholderText(
      QStringLiteral("e.g. echo=1.20:0.1,noise=30 (empty: default room)"));
}

void AudioDeviceDialog::buildSessionRow(const AudioSetup& current) {
  session_ = new QLineEdit(QFile::decodeName(current.session.c_str()), this);
  session_->setObjectName(QStringLiteral("sessionFolder"));
  session_->setPlaceholderText(QStringLiteral("a folder File > Record pings... filled"));
  browse_ = new QPushButton(QStringLiteral("&Browse..."), this);
  browse_->setObjectName(QStringLiteral("browseSession"));
  browse_->setAutoDefault(false);
}

void AudioDeviceDialog::browseSession() {
  const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Recorded session"),
                                                           session_->text().trimmed());
  if (!folder.isEmpty()) session_->setText(folder);
}

AudioSetup AudioDeviceDialog::setup() const {
  AudioSetup s;
  switch (kind_->checkedId()) {
    case kRoomId:
      s.kind = AudioKind::kSimulatedRoom;
      s.room = roomText_->text().trimmed().toStdString();
      break;
    case kSessionId:
      s.kind = AudioKind::kRecordedSession;
      s.session = QFile::encodeName(session_->text().trimmed()).toStdString();
      break;
    default:
      s.kind = AudioKind::kSoundCard;
      s.inputDevice = input_->currentData().toString().toStdString();
      s.outputDevice = output_->currentData().toString().toStdString();
      break;
  }
  return s;
}

int AudioDeviceDialog::inputLevel() const {
  return level_->value();
}

void AudioDeviceDialog::updateEnabled() {
  const int kind = kind_->checkedId();
  input_->setEnabled(kind == kSoundCardId);
  output_->setEnabled(kind == kSoundCardId);
  room_->setEnabled(kind == kRoomId);
  roomText_->setEnabled(kind == kRoomId);
  session_->setEnabled(kind == kSessionId);
  browse_->setEnabled(kind == kSessionId);
}

void AudioDeviceDialog::restartLevelProbe() {
  updateEnabled();
  probe_.reset();
  level_->setValue(0);
  AudioChoice probe;
  const std::string reason = makeAudio(setup(), probe);
  problem_->setText(QString::fromStdString(reason));
  // A session's level is what was recorded, not what a microphone hears now: it is not probed,
  // and none of its pings is spent on it.
  if (kind_->checkedId() == kSessionId) return;
  probe_ = std::move(probe.backend);
  const uint32_t bytes = format_.avgBytesPerSec / 1000 * kLevelWindowMs;
  probeBuffer_.assign(std::max<uint32_t>(bytes, format_.blockAlign), 0);
}

void AudioDeviceDialog::measureLevel() {
  if (!probe_) return;
  const auto length = static_cast<uint32_t>(probeBuffer_.size());
  const WaveError code = recordOnce(*probe_, probeBuffer_, length, format_);
  if (code != kWaveOk) {
    level_->setValue(0);
    problem_->setText(
        QStringLiteral("No input: %1").arg(QString::fromStdString(probe_->errorText(code))));
    probe_.reset();  // a device that failed once is not asked four times a second
    return;
  }
  level_->setValue(peakLevelPercent(probeBuffer_.data(), length, format_.bitsPerSample));
}

void AudioDeviceDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  fitToScreen(*this);
}

void AudioDeviceDialog::accept() {
  levelTimer_.stop();
  probe_.reset();  // the device is free for the program's own pair
  AudioChoice choice;
  if (const std::string reason = makeAudio(setup(), choice); !reason.empty()) {
    problem_->setText(QString::fromStdString(reason));
    levelTimer_.start();
    return;
  }
  choice_ = std::move(choice);
  QDialog::accept();
}
