#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "test_helpers.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSettings>
#include <QTest>

#include "gui/audio_device_dialog.h"
#include "gui/preferences.h"
#include "modal_closer.h"
#include "test_window.h"

// Settings > Audio device...: the device lists, the simulated room, the choice applied to the
// running window and remembered for the next start.

namespace {

const WaveFormat kFormat = [] {
  WaveFormat f;
  f.formatTag = 1;
  f.channels = 2;
  f.samplesPerSec = 44100;
  f.bitsPerSample = 16;
  f.blockAlign = 4;
  f.avgBytesPerSec = 176400;
  return f;
}();

std::vector<AudioDeviceInfo> someDevices() {
  return {{0, "Built-in Audio", "ALSA", 2, 2, false, false},
          {1, "USB Microphone", "ALSA", 1, 0, true, false},
          {2, "HDMI", "ALSA", 0, 8, false, true}};
}

QStringList itemsOf(QComboBox* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
  return items;
}

TEST(AudioDeviceDialog, ListsEachDirectionsDevicesWithTheDefaultMarked) {
  AudioSetup current;
  current.inputDevice = "Built-in Audio";
  AudioDeviceDialog dialog(current, kFormat, someDevices(), nullptr);
  auto* input = dialog.findChild<QComboBox*>(QStringLiteral("inputDevice"));
  auto* output = dialog.findChild<QComboBox*>(QStringLiteral("outputDevice"));
  ASSERT_NE(input, nullptr);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(itemsOf(input), QStringList({"System default", "Built-in Audio (ALSA)",
                                         "USB Microphone (ALSA) (default)"}));
  EXPECT_EQ(itemsOf(output),
            QStringList({"System default", "Built-in Audio (ALSA)", "HDMI (ALSA) (default)"}));
  EXPECT_EQ(input->currentIndex(), 1) << "the remembered device is preselected";
  EXPECT_EQ(output->currentIndex(), 0);
  EXPECT_EQ(dialog.setup().inputDevice, "Built-in Audio");
  EXPECT_EQ(dialog.setup().outputDevice, "");
}

TEST(AudioDeviceDialog, ARoomTextThatDoesNotReadKeepsTheDialogOpen) {
  AudioSetup current;
  current.kind = AudioKind::kSimulatedRoom;
  AudioDeviceDialog dialog(current, kFormat, {}, nullptr);
  auto* text = dialog.findChild<QLineEdit*>(QStringLiteral("roomText"));
  ASSERT_NE(text, nullptr);
  text->setText(QStringLiteral("echo=far"));
  dialog.accept();
  EXPECT_FALSE(dialog.takeChoice().backend) << "nothing was made";
  EXPECT_FALSE(dialog.findChild<QLabel*>(QStringLiteral("problem"))->text().isEmpty());

  text->setText(QStringLiteral("echo=1.20:0.1"));
  dialog.accept();
  AudioChoice choice = dialog.takeChoice();
  EXPECT_NE(choice.backend, nullptr);
  EXPECT_EQ(choice.kind, AudioKind::kSimulatedRoom);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// Every room of the list is one the simulated back end can build, and choosing it fills in its
// description.
TEST(AudioDeviceDialog, EveryListedRoomMakesASimulatedRoom) {
  AudioSetup current;
  current.kind = AudioKind::kSimulatedRoom;
  AudioDeviceDialog dialog(current, kFormat, {}, nullptr);
  auto* list = dialog.findChild<QComboBox*>(QStringLiteral("roomPreset"));
  auto* text = dialog.findChild<QLineEdit*>(QStringLiteral("roomText"));
  ASSERT_NE(list, nullptr);
  ASSERT_NE(text, nullptr);
  const std::vector<RoomPreset> presets = roomPresets();
  EXPECT_TRUE(std::any_of(presets.begin(), presets.end(), [](const RoomPreset& p) {
    return std::string(p.text) == "preset=desk";
  }));
  for (size_t i = 0; i < presets.size(); ++i) {
    list->setCurrentIndex(static_cast<int>(i));
    EXPECT_EQ(text->text().toStdString(), presets[i].text);
    dialog.accept();
    EXPECT_NE(dialog.takeChoice().backend, nullptr) << presets[i].name;
  }
}

TEST(AudioDeviceDialog, PeakLevelIsAShareOfFullScale) {
  const uint8_t quiet8[] = {128, 130, 126};
  EXPECT_EQ(peakLevelPercent(quiet8, 3, 8), 1);
  const uint8_t half16[] = {0x00, 0x40, 0x00, 0xC0};  // +16384, -16384
  EXPECT_EQ(peakLevelPercent(half16, 4, 16), 50);
  const uint8_t full16[] = {0x00, 0x80};  // -32768
  EXPECT_EQ(peakLevelPercent(full16, 2, 16), 100);
}

TEST(AudioPreferences, TheChoiceIsRememberedAndUsedUnlessTheEnvironmentSaysOtherwise) {
  QSettings settings;
  AudioSetup room;
  room.kind = AudioKind::kSimulatedRoom;
  room.room = "echo=1.20:0.1";
  rememberAudio(settings, room);
  EXPECT_EQ(rememberedAudio(settings), room);

  AudioChoice choice;
  const auto noCard = [] { return false; };
  EXPECT_EQ(chooseAudio(QProcessEnvironment(), noCard, choice, rememberedAudio(settings)), "");
  EXPECT_EQ(choice.kind, AudioKind::kSimulatedRoom);
  EXPECT_TRUE(choice.note.empty());

  // MERVANE_AUDIO stays an override.
  QProcessEnvironment env;
  env.insert(QStringLiteral("MERVANE_AUDIO"), QStringLiteral("portaudio"));
  EXPECT_EQ(chooseAudio(env, noCard, choice, rememberedAudio(settings)), "");
  EXPECT_EQ(choice.kind, AudioKind::kSoundCard);

  // A remembered device that is gone gives way to the automatic choice, and says so.
  AudioSetup gone;
  gone.inputDevice = "No Such Device 7";
  EXPECT_EQ(chooseAudio(QProcessEnvironment(), noCard, choice, gone), "");
  EXPECT_EQ(choice.kind, AudioKind::kSimulatedRoom);
  EXPECT_NE(choice.note.find("No Such Device 7"), std::string::npos) << choice.note;
  settings.remove(QStringLiteral("audio"));
}

// The program's devices are let go while the dialog listens, and taken up again on Cancel.
TEST(AudioDeviceMenu, CancelKeepsTheBackEndAndItsOpenPair) {
  auto window = makeTestWindow();
  bool pairClosedMeanwhile = false;
  ModalCloser closer([&](QWidget*) { pairClosedMeanwhile = window->program().pair.in == 0; });
  const AudioBackend* before = window->program().backend.get();
  menuItem(*window, CommandId::kAudioDevice)->trigger();
  ASSERT_TRUE(closer.sawModal());
  EXPECT_TRUE(pairClosedMeanwhile);
  EXPECT_EQ(window->program().backend.get(), before);
  EXPECT_NE(window->program().pair.in, 0u);
  EXPECT_NE(window->program().pair.out, 0u);
}

TEST(AudioDeviceMenu, TheChoiceReplacesTheBackEndAndIsRemembered) {
  auto window = makeTestWindow();
  ModalCloser closer([](QWidget* modal) {
    auto* dialog = qobject_cast<AudioDeviceDialog*>(modal);
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QRadioButton*>(QStringLiteral("simulatedRoom"))->click();
    dialog->findChild<QLineEdit*>(QStringLiteral("roomText"))
        ->setText(QStringLiteral("echo=1.20:0.1,noise=30"));
    dialog->accept();
  });
  const AudioBackend* before = window->program().backend.get();
  menuItem(*window, CommandId::kAudioDevice)->trigger();
  ASSERT_TRUE(closer.sawModal());
  EXPECT_NE(window->program().backend.get(), before);
  EXPECT_EQ(window->soundStatus(), QStringLiteral("Simulated room"));
  QSettings settings;
  ASSERT_TRUE(rememberedAudio(settings).has_value());
  EXPECT_EQ(rememberedAudio(settings)->room, "echo=1.20:0.1,noise=30");
  settings.remove(QStringLiteral("audio"));
  // The new room measures: its one wall comes back.
  window->program().settings.deltaOffsetBytes = 1000000;
  keyPressed(window->app(), VirtualKey::kEnter);
  ASSERT_TRUE(settle(*window));
  EXPECT_NEAR(window->program().obstructionList[0], 1.20, 0.05);
}

}  // namespace

// A label's ampersand is its key only when it names the field it leads to; without one the user
// reads "&Folder:".
TEST(AudioDeviceDialog, EveryLabelWithAKeyLeadsToItsField) {
  AudioDeviceDialog dialog(AudioSetup{}, kFormat, someDevices(), nullptr);
  int keyed = 0;
  for (const QLabel* label : dialog.findChildren<QLabel*>()) {
    if (!label->text().contains(QLatin1Char('&'))) continue;
    ++keyed;
    EXPECT_NE(label->buddy(), nullptr) << label->text().toStdString();
  }
  EXPECT_GE(keyed, 5);
}
