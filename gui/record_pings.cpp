// File > Record pings...: keeps every timed ping's and single step's recordings in a session
// folder while it is checked. The recorder lives in the program record; the scan cycle hands it
// each ping, and this file only starts, ends and shows it.
#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>

#include "app/command_id.h"
#include "app/recording.h"
#include "audio/session_recorder.h"
#include "gui/main_window.h"

namespace {

constexpr int kRecordStatusPeriodMs = 500;

QString megabytes(uint64_t bytes) {
  return QString::number(static_cast<double>(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB");
}

}  // namespace

void MainWindow::createRecordPingsAction(QMenu* fileMenu) {
  fileMenu->addSeparator();
  recordAction_ = fileMenu->addAction(QStringLiteral("&Record pings..."));
  recordAction_->setData(commandNumber(CommandId::kRecordPings));
  recordAction_->setObjectName(QStringLiteral("cmd%1").arg(commandNumber(CommandId::kRecordPings)));
  recordAction_->setCheckable(true);
  connect(recordAction_, &QAction::triggered, this, [this] {
    // The recorder writes with the pings on the measuring thread: it starts and ends between them.
    recordAction_->setChecked(program_.recorder != nullptr);
    if (holdBackWhileMeasuring([this] { toggleRecordingPings(); })) return;
    toggleRecordingPings();
  });
  recordStatusTimer_.setInterval(kRecordStatusPeriodMs);
  connect(&recordStatusTimer_, &QTimer::timeout, this, [this] { updateRecordStatus(); });
}

void MainWindow::toggleRecordingPings() {
  if (program_.recorder) {
    stopRecordingPings();
  } else {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Record pings into an empty folder"));
    if (!folder.isEmpty()) startRecordingPings(folder);
  }
  recordAction_->setChecked(program_.recorder != nullptr);
}

bool MainWindow::startRecordingPings(const QString& folder) {
  const std::string path = QFile::encodeName(folder).toStdString();
  const RecordedSession* replayed = replayedSession(program_.backend.get());
  std::string problem = SessionRecorder::checkFolder(path, replayed ? replayed->folder : "");
  // The session records the planned record length: without an open pair there is none yet.
  if (problem.empty() && (program_.pair.in == 0 || program_.pair.inHeader.length == 0)) {
    problem = "the audio device is not open";
  }
  if (problem.empty()) {
    program_.recorder = SessionRecorder::start(
        path,
        sessionInfoFor(program_, replayed ? "replay of " + replayed->folder
                                          : soundLabel_->text().toStdString()),
        sessionBytesPerMinute(program_.settings), problem);
  }
  if (!program_.recorder) {
    QMessageBox::warning(
        this, QStringLiteral("Record pings"),
        QStringLiteral("The pings cannot be recorded: %1").arg(QString::fromStdString(problem)));
    return false;
  }
  if (recordLabel_ == nullptr) {
    recordLabel_ = new QLabel(this);
    recordLabel_->setObjectName(QStringLiteral("statusRecording"));
    statusBar()->addPermanentWidget(recordLabel_);
  }
  recordLabel_->show();
  recordAction_->setChecked(true);
  recordStatusTimer_.start();
  updateRecordStatus();
  return true;
}

void MainWindow::stopRecordingPings() {
  if (!program_.recorder) return;
  const uint64_t pings = program_.recorder->pings();
  const QString folder = QFile::decodeName(program_.recorder->folder().c_str());
  const std::string problem = program_.recorder->finish();
  program_.recorder.reset();
  recordStatusTimer_.stop();
  if (recordLabel_ != nullptr) recordLabel_->hide();
  recordAction_->setChecked(false);
  showNote(QStringLiteral("Recorded %1 pings in %2%3")
               .arg(pings)
               .arg(folder, problem.empty() ? QString()
                                            : QStringLiteral(" (session.json not completed: %1)")
                                                  .arg(QString::fromStdString(problem))));
}

void MainWindow::updateRecordStatus() {
  const SessionRecorder* r = program_.recorder.get();
  if (r == nullptr || recordLabel_ == nullptr) return;
  const QString state =
      r->active() ? QStringLiteral("Recording") : QStringLiteral("Recording stopped");
  recordLabel_->setText(QStringLiteral("%1: %2 pings, %3")
                            .arg(state)
                            .arg(r->pings())
                            .arg(megabytes(r->bytesWritten())));
}
