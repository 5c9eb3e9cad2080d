#include <QFile>
#include <QSaveFile>
#include <algorithm>

#include "app/app_steps.h"
#include "app/sonar_files.h"
#include "display/echogram.h"

namespace {

void showFileFailure(App& app, std::string_view text) {
  app.shell.showMessage(text, "", MessageIcon::kStop, MessageOwner::kMainWindow);
}

QString qtPath(const std::string& path) {
  return QString::fromStdString(path);
}

// Reads up to byteCount bytes; a shorter file gives fewer. Returns false on a read error.
bool readFront(QFile& file, size_t byteCount, std::vector<uint8_t>& bytes) {
  bytes.resize(byteCount);
  size_t total = 0;
  while (total < byteCount) {
    const qint64 got = file.read(reinterpret_cast<char*>(bytes.data() + total),
                                 static_cast<qint64>(byteCount - total));
    if (got < 0) return false;
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  bytes.resize(total);
  return true;
}

// The sonar file's echogram goes on the surface at once, and stays there until the scan cycle
// draws again (a repaint at column 0 would otherwise replace it by an empty frame).
void showLoadedHistory(App& app) {
  Program& p = app.program;
  p.scan.scanColumn = 1;
  drawEchogramFrame(app.surface, p.settings);
  replotHistory(app.surface, p.settings, p.history);
  p.scan.scanColumn = 0;
  app.replotOnSurface = true;
  app.shell.showSurfaceNow();
}

FileOutcome readAndDecode(App& app, QFile& file, FileKind kind) {
  Program& p = app.program;
  std::vector<uint8_t> bytes;
  if (!readFront(file, bytesRead(kind), bytes)) {
    // Nothing was taken from the file: the history and the settings stay as they were.
    showFileFailure(app, "Read failed!");
    return FileOutcome::kReadFailed;
  }
  loadHistoryBytes(bytes, p.history);
  forgetMeasurements(p);
  decodeHeader(p.history, p.settings, p.scan);
  if (kind == FileKind::kSonar) {
    showLoadedHistory(app);
  } else {
    // The scan cycle indexes the offsets table with this column.
    p.scan.scanColumn = std::min(p.scan.scanColumn, kLastManualColumn);
  }
  return FileOutcome::kDone;
}

}  // namespace

FileOutcome openChosenFile(App& app, const FileChoice& choice) {
  app.program.scan.scanState = kIdle;
  QFile file(qtPath(choice.path));
  FileOutcome outcome;
  if (!file.open(QIODevice::ReadOnly)) {
    // The read is tried on the failed file as well, so both messages appear.
    showFileFailure(app, "I can't open the file!");
    showFileFailure(app, "Read failed!");
    outcome = FileOutcome::kCannotOpen;
  } else {
    outcome = readAndDecode(app, file, choice.kind);
  }
  if (outcome == FileOutcome::kDone) app.shell.noteRecentFile(choice);
  app.shell.requestRepaint();
  return outcome;
}

void openFile(App& app) {
  app.program.scan.scanState = kIdle;
  if (!settleUnsavedSweep(app)) return;
  const std::optional<FileChoice> choice = app.shell.chooseFileToOpen();
  if (choice) openChosenFile(app, *choice);
}

void openRecentFile(App& app, const FileChoice& choice) {
  app.program.scan.scanState = kIdle;
  if (settleUnsavedSweep(app)) openChosenFile(app, choice);
}

FileOutcome saveChosenFile(App& app, const FileChoice& choice) {
  Program& p = app.program;
  // Written beside the target and renamed over it at commit: a failed save leaves no partial
  // file and an existing file untouched.
  QSaveFile file(qtPath(choice.path));
  const bool created = file.open(QIODevice::WriteOnly);
  if (!created) showFileFailure(app, "cos nie tak");
  encodeHeader(p.settings, p.scan, p.history);
  const std::vector<uint8_t> bytes = historyBytes(p.history, bytesWritten(choice.kind));
  const auto size = static_cast<qint64>(bytes.size());
  const bool written =
      created && file.write(reinterpret_cast<const char*>(bytes.data()), size) == size;
  if (created && !written) file.cancelWriting();
  if (!written || !file.commit()) {
    showFileFailure(app, "Save failed!");
    return FileOutcome::kSaveFailed;
  }
  // A parameter file holds no sweep: only a sonar file keeps the measurements.
  if (choice.kind == FileKind::kSonar) p.sweepUnsaved = false;
  app.shell.noteRecentFile(choice);
  return FileOutcome::kDone;
}

void saveFile(App& app) {
  const std::optional<FileChoice> choice = app.shell.chooseFileToSave();
  if (choice) saveChosenFile(app, *choice);
}

bool settleUnsavedSweep(App& app) {
  Program& p = app.program;
  if (!p.sweepUnsaved) return true;
  switch (app.shell.askToSaveSweep()) {
    case SaveChoice::kDiscard:
      p.sweepUnsaved = false;
      return true;
    case SaveChoice::kCancel:
      return false;
    case SaveChoice::kSave:
      break;
  }
  std::optional<FileChoice> choice = app.shell.chooseFileToSave();
  if (!choice) return false;
  // Only a sonar file holds the sweep, whichever filter the dialog was left on.
  choice->kind = FileKind::kSonar;
  return saveChosenFile(app, *choice) == FileOutcome::kDone;
}
