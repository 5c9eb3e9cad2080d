#include <QApplication>
#include <QProcessEnvironment>
#include <QTimer>
#include <clocale>
#include <csignal>
#include <cstdio>

#include "gui/audio_choice.h"
#include "gui/main_window.h"
#include "gui/qt_text.h"
#include "gui/single_instance.h"
#include "resources/command_layout.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(toQString(kClassName));
  // Qt takes the C locale from the environment; the echogram's numbers keep their decimal point.
  std::setlocale(LC_NUMERIC, "C");
  // A write beyond the file size limit fails with its reason instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);

  SingleInstance instance(instanceName());
  if (instance.claim() == InstanceRole::kAnotherIsRunning) {
    if (!instance.otherAnswered()) std::fputs("mervane: already running, not answering\n", stderr);
    return 0;
  }

  const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  AudioChoice audio;
  if (const std::string reason = chooseAudio(env, &systemHasDefaultDevices, audio);
      !reason.empty()) {
    std::fprintf(stderr, "mervane: %s\n", reason.c_str());
    return 2;
  }

  MainWindow window(std::move(audio.backend), audio.kind);
  QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                   &MainWindow::bringToFront);
  window.startScanTimer();
  window.show();
  // For demonstrations and screenshots: start sweeping as soon as the window is up.
  if (env.value(QStringLiteral("MERVANE_AUTOSTART")) == QLatin1String("1")) {
    QTimer::singleShot(0, &window, [&window] { window.runCommand(CommandId::kStartSonar); });
  }
  return QApplication::exec();
}
