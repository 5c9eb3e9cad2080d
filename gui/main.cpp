#include <QApplication>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTimer>
#include <clocale>
#include <csignal>
#include <cstdio>

#include "gui/audio_choice.h"
#include "gui/main_window.h"
#include "gui/preferences.h"
#include "gui/qt_text.h"
#include "gui/single_instance.h"
#include "io/runtime_folder.h"
#include "resources/command_layout.h"

int main(int argc, char** argv) {
  provideRuntimeFolder();
  QApplication application(argc, argv);
  QApplication::setApplicationName(toQString(kClassName));
  // Qt takes the C locale from the environment; the echogram's numbers keep their decimal point.
  std::setlocale(LC_NUMERIC, "C");
  // A write beyond the file size limit fails with its reason instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  // Where QSettings keeps what the program remembers between starts.
  QApplication::setOrganizationName(toQString(kClassName));

  SingleInstance instance(instanceName());
  if (instance.claim() == InstanceRole::kAnotherIsRunning) {
    if (!instance.otherAnswered()) std::fputs("mervane: already running, not answering\n", stderr);
    return 0;
  }

  const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  QSettings settings;
  const std::optional<AudioSetup> remembered = rememberedAudio(settings);
  AudioChoice audio;
  if (const std::string reason = chooseAudio(env, &systemHasDefaultDevices, audio, remembered);
      !reason.empty()) {
    std::fprintf(stderr, "mervane: %s\n", reason.c_str());
    return 2;
  }
  const AudioKind kind = audio.kind;
  const std::string note = audio.note;
  MainWindow window(std::move(audio.backend), kind);
  // The dialog starts from what the back end was made of: the remembered choice when it was
  // used, else the kind the environment or the automatic choice gave.
  AudioSetup setup;
  setup.kind = kind;
  if (remembered && note.empty() && remembered->kind == kind &&
      !env.contains(QStringLiteral("MERVANE_AUDIO")) &&
      !env.contains(QStringLiteral("MERVANE_ROOM"))) {
    setup = *remembered;
  } else if (kind == AudioKind::kSimulatedRoom) {
    setup.room = env.value(QStringLiteral("MERVANE_ROOM")).toStdString();
  } else if (kind == AudioKind::kRecordedSession) {
    setup.session = replayFolderOf(env);
  }
  window.setAudioSetup(setup);
  if (!note.empty()) window.showNote(toQString(note));

  QObject::connect(&instance, &SingleInstance::activationRequested, &window,
                   &MainWindow::bringToFront);
  window.startScanTimer();
  window.restoreGeometryOrFit();
  window.show();
  // For demonstrations and screenshots: start sweeping as soon as the window is up.
  if (env.value(QStringLiteral("MERVANE_AUTOSTART")) == QLatin1String("1")) {
    QTimer::singleShot(0, &window, [&window] { window.runCommand(CommandId::kStartSonar); });
  }
  return QApplication::exec();
}
