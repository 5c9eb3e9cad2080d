#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/app_steps.h"
#include "app/distance_block.h"
#include "app/header_ranges.h"
#include "app/sonar_files.h"
#include "display/echogram.h"
#include "io/checked_save.h"

namespace {

constexpr std::string_view kCannotOpen = "I can't open the file!";
constexpr std::string_view kReadFailed = "Read failed!";
constexpr std::string_view kCannotCreate = "cos nie tak";
constexpr std::string_view kSaveFailed = "Save failed!";

void showFileFailure(App& app, std::string_view text, const std::string& reason = {}) {
  app.shell.showMessage(fileMessage(text, reason), "", MessageIcon::kStop,
                        MessageOwner::kMainWindow);
}

// An open file descriptor, closed with its scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens a regular file for reading by its bytes, whatever their encoding. A FIFO or a device is
// refused before anything is read from it: reading one could wait forever.
int openRegularFile(const std::string& path, std::string& reason) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    reason = path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    reason = path + " is not a regular file";
    close(fd);
    return -1;
  }
  return fd;
}

// Reads up to byteCount bytes; a shorter file gives fewer. Returns false on a read error.
bool readFront(int fd, size_t byteCount, std::vector<uint8_t>& bytes, std::string& reason) {
  bytes.resize(byteCount);
  size_t total = 0;
  while (total < byteCount) {
    const ssize_t got = read(fd, bytes.data() + total, byteCount - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      reason = std::strerror(errno);
      return false;
    }
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

// Why the bytes cannot be loaded as a file of this kind, or empty. The settings are decoded on
// the side first, so a refused file changes nothing.
std::string loadProblem(const Program& p, std::span<const uint8_t> bytes, ScanHistory& loaded) {
  if (bytes.size() < kHeaderBytes) {
    return "the file has " + std::to_string(bytes.size()) + " bytes, fewer than the " +
           std::to_string(kHeaderBytes) + " of its header";
  }
  loadHistoryBytes(bytes, loaded);
  if (std::string problem = slotProblem(loaded); !problem.empty()) return problem;
  SonarSettings trial;
  trial.waveFormat = p.settings.waveFormat;  // a rate code the file does not know keeps the rate
  ScanState trialScan;
  decodeHeader(loaded, trial, trialScan);
  return headerProblem(trial);
}

// What a sonar file of this many bytes leaves out, for the note Open gives; empty for a whole
// file of either layout.
std::string shortFileNote(size_t bytes) {
  if (bytes == kShortSonarFileBytes || bytes >= kSonarFileBytes) return {};
  constexpr size_t kColumnBytes = size_t{kHistoryRows} * 4;
  return "The file has " + std::to_string(bytes) + " bytes: it holds " +
         std::to_string(bytes / kColumnBytes) + " whole columns of the " +
         std::to_string(kHistoryColumns) + " a whole sonar file holds (" +
         std::to_string(kSonarFileBytes) + " bytes). The other columns are drawn empty.";
}

// Takes the distances after the history of a sonar file, or says why there are none. A block
// that cannot be read is told, never a failed Open: the echogram is good without it.
void takeDistances(App& app, std::span<const uint8_t> bytes) {
  Program& p = app.program;
  if (bytes.size() < kSonarFileBytes) {
    p.distancesMissing = bytes.size() == kShortSonarFileBytes
                             ? "the file has the older, shorter layout, which keeps no distances"
                             : "the file is cut short before its distances";
    return;
  }
  if (bytes.size() == kSonarFileBytes) {
    p.distancesMissing = "the file was saved without them, by an earlier version";
    return;
  }
  const std::string problem = readDistanceBlock(bytes.subspan(kSonarFileBytes),
                                                p.settings.waveFormat.samplesPerSec, p.measured);
  if (problem.empty()) return;
  p.distancesMissing = "its distance block cannot be read: " + problem;
  app.shell.showMessage("The echogram is opened without its distances: " + problem + ".", "",
                        MessageIcon::kInformation, MessageOwner::kMainWindow);
}

// Sonar files are read as far as a whole history and the largest distance block go, and one
// byte more, so that anything after the block is seen.
size_t bytesToRead(FileKind kind) {
  return kind == FileKind::kSonar ? kSonarFileBytes + kMaxDistanceBlockBytes + 1 : bytesRead(kind);
}

FileOutcome readAndDecode(App& app, int fd, FileKind kind) {
  Program& p = app.program;
  std::vector<uint8_t> bytes;
  std::string reason;
  if (!readFront(fd, bytesToRead(kind), bytes, reason)) {
    showFileFailure(app, kReadFailed, reason);
    return FileOutcome::kReadFailed;
  }
  const std::span<const uint8_t> history(bytes.data(), std::min(bytes.size(), kSonarFileBytes));
  ScanHistory loaded;
  if (reason = loadProblem(p, history, loaded); !reason.empty()) {
    showFileFailure(app, kReadFailed, reason);
    return FileOutcome::kReadFailed;
  }
  p.history.values.swap(loaded.values);
  forgetMeasurements(p);
  decodeHeader(p.history, p.settings, p.scan);
  if (kind == FileKind::kSonar) {
    p.historyScale = measuredScaleOf(p.settings);
    showLoadedHistory(app);
    if (const std::string note = shortFileNote(bytes.size()); !note.empty()) {
      app.shell.showMessage(note, "", MessageIcon::kInformation, MessageOwner::kMainWindow);
    }
    takeDistances(app, bytes);
  } else {
    // The scan cycle indexes the offsets table with this column.
    p.scan.scanColumn = std::min(p.scan.scanColumn, kLastManualColumn);
  }
  return FileOutcome::kDone;
}

}  // namespace

FileOutcome openChosenFile(App& app, const FileChoice& choice) {
  app.program.scan.scanState = kIdle;
  std::string reason;
  const FileDescriptor file(openRegularFile(choice.path, reason));
  FileOutcome outcome;
  if (file.get() < 0) {
    // The read is tried on the failed file as well, so both messages appear.
    showFileFailure(app, kCannotOpen, reason);
    showFileFailure(app, kReadFailed);
    outcome = FileOutcome::kCannotOpen;
  } else {
    outcome = readAndDecode(app, file.get(), choice.kind);
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
  // Written beside the target and renamed over it at the end: a failed save leaves no partial
  // file and an existing file untouched.
  CheckedSave file(choice.path);
  if (!file.ready()) showFileFailure(app, kCannotCreate, file.problem());
  encodeHeader(p.settings, p.scan, p.history);
  file.write(historyBytes(p.history, bytesWritten(choice.kind)));
  // The distances follow the whole history, where no reader of the shorter layouts looks.
  if (choice.kind == FileKind::kSonar) file.write(distanceBlockBytes(p.measured));
  if (!file.commit()) {
    const bool toldAlready = file.failedStage() == CheckedSave::Stage::kTarget;
    showFileFailure(app, kSaveFailed, toldAlready ? std::string() : file.problem());
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
