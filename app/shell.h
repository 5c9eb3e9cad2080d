#pragma once
#include <optional>
#include <string>
#include <string_view>

// The only way the application logic talks to the user. The desktop program implements it with
// Qt; the command line and the tests implement it without a window.

enum class MessageIcon { kNone, kStop, kInformation };
enum class MessageOwner { kNoOwner, kMainWindow };

// The file kind follows the filter the user picked, not the file name.
enum class FileKind { kSonar = 1, kParameters = 2 };
struct FileChoice {
  std::string path;
  FileKind kind = FileKind::kSonar;
};

// How a modal dialog ended, by the platform's numbers: Done or OK sends 1, Cancel 2.
enum class DialogResult : int { kOk = 1, kCancel = 2 };

// Modal windows the command table runs, by their template numbers.
enum class DialogId {
  kAbout = 103,
  kAnalyze = 106,
  kOutSignal = 107,
  kAudioCheck = 108,
  kWaveFormat = 111,
  kOffset = 120,
  kScale = 121,
  kAudioDevice = 130,  // the desktop's own: input and output device, or the simulated room
  kCalibration = 131,  // the desktop's own: the air's temperature, a known distance
};

// What File > Export writes: the echogram as a PNG picture, or the distances as CSV text.
// kTrack: the tracking window's table of one echo, as CSV text.
enum class ExportKind { kPicture, kDistances, kTrack };

// The answer to "save the measured sweep first?".
enum class SaveChoice { kSave, kDiscard, kCancel };

class Shell {
 public:
  virtual ~Shell() = default;
  // A modal message box with an OK button; an empty caption means the default caption.
  virtual void showMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                           MessageOwner owner) = 0;
  virtual std::optional<FileChoice> chooseFileToOpen() = 0;
  virtual std::optional<FileChoice> chooseFileToSave() = 0;
  // Runs a modal dialog to its end and returns how it ended.
  virtual DialogResult runDialog(DialogId dialog) = 0;
  // Marks the whole client area for repaint (no erase); the repaint happens later.
  virtual void requestRepaint() = 0;
  // Copies the plot surface to the window at once, without a repaint request.
  virtual void showSurfaceNow() = 0;
  // The file an export goes to; nothing when the user cancelled.
  virtual std::optional<std::string> chooseExportFile(ExportKind kind) = 0;
  // A file was opened or saved: the desktop lists it under recent files.
  virtual void noteRecentFile(const FileChoice& /*choice*/) {}
  // Asks whether to save a sweep that was measured since the last Save, before it is lost.
  virtual SaveChoice askToSaveSweep() = 0;
  // A notice before a long step that the user may still call off (Escape or Cancel). Returns
  // whether to go on; a shell without a way to call it off shows the notice and goes on.
  virtual bool confirmNotice(std::string_view text, std::string_view caption) {
    showMessage(text, caption, MessageIcon::kNone, MessageOwner::kNoOwner);
    return true;
  }
  // Shows the window that follows one echo (the desktop's own; elsewhere nothing happens).
  virtual void showTrackWindow() {}
  // Opens the help document.
  virtual void showHelp() = 0;
  // Ends the program (the Exit command).
  virtual void closeMainWindow() = 0;
  // Called between the steps of long operations (checks, offset search): keeps the window
  // painted and shows what is going on. Must not run any command or timer tick of its own.
  virtual void showProgress(std::string_view status) = 0;
};
