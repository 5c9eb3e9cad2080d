#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include "gui/audio_device_dialog.h"
#include "test_window.h"

// Settings > Audio device... on the private PulseAudio server of scripts/pulse-test-server.sh
// (./test starts it): its devices are listed as a desktop with sound lists them, and a device
// picked there measures.

namespace {

bool pulseServerReady() {
  return qEnvironmentVariable("MERVANE_PULSE_READY") == QLatin1String("1");
}

#define REQUIRE_PULSE_SERVER()                                         \
  do {                                                                 \
    if (!pulseServerReady()) {                                         \
      if (qEnvironmentVariable("CI") == QLatin1String("true")) {       \
        FAIL() << "no PulseAudio test server is running";              \
      }                                                                \
      GTEST_SKIP() << "no PulseAudio test server (./test starts one)"; \
    }                                                                  \
  } while (false)

TEST(RealAudioDevices, TheDialogListsTheServersDevicesWithTheDefaultMarked) {
  REQUIRE_PULSE_SERVER();
  std::vector<AudioDeviceInfo> devices;
  ASSERT_EQ(listAudioDevices(devices), kWaveOk);
  auto window = makeTestWindow();
  AudioDeviceDialog dialog(AudioSetup{}, window->program().settings.waveFormat, devices, nullptr);
  for (const char* name : {"inputDevice", "outputDevice"}) {
    SCOPED_TRACE(name);
    auto* list = dialog.findChild<QComboBox*>(QString::fromLatin1(name));
    ASSERT_NE(list, nullptr);
    EXPECT_GE(list->findText(QStringLiteral("pulse (ALSA)")), 1);
    EXPECT_GE(list->findText(QStringLiteral("default (ALSA) (default)")), 1);
  }
  // The level meter records from the chosen input while the dialog is open.
  auto* input = dialog.findChild<QComboBox*>(QStringLiteral("inputDevice"));
  input->setCurrentIndex(input->findText(QStringLiteral("pulse (ALSA)")));
  QTest::qWait(600);
  EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("problem"))->text().isEmpty())
      << dialog.findChild<QLabel*>(QStringLiteral("problem"))->text().toStdString();
}

TEST(RealAudioDevices, ADevicePickedInTheDialogMeasures) {
  REQUIRE_PULSE_SERVER();
  AudioSetup setup;
  setup.inputDevice = "pulse";
  setup.outputDevice = "pulse";
  AudioChoice choice;
  ASSERT_EQ(makeAudio(setup, choice), "");
  auto window = std::make_unique<MainWindow>(std::move(choice.backend), choice.kind);
  EXPECT_EQ(window->soundStatus(), QStringLiteral("Sound card"));
  window->program().settings.deltaOffsetBytes = 1000000;
  keyPressed(window->app(), VirtualKey::kEnter);
  ASSERT_TRUE(settle(*window));
  EXPECT_EQ(window->program().scan.scanColumn, 2u);
  EXPECT_GT(window->program().scan.peakAmplitude, 0u);
}

}  // namespace
