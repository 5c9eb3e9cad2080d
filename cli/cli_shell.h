#pragma once
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "cli/cli.h"
#include "display/plot_surface.h"

class QGuiApplication;

// The shell of the command line: there is no window and no dialog. Messages are kept and, in
// text mode, printed on stderr as "caption: text"; file dialogs are cancelled and modal dialogs
// end as if cancelled. A repaint request is remembered until the caller paints.
class CliShell final : public Shell {
 public:
  struct Message {
    std::string text;
    std::string caption;
  };

  CliShell(std::ostream& err, bool echoMessages) : err_(err), echo_(echoMessages) {}

  void showMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageOwner owner) override;
  std::optional<FileChoice> chooseFileToOpen() override { return std::nullopt; }
  std::optional<FileChoice> chooseFileToSave() override { return std::nullopt; }
  DialogResult runDialog(DialogId) override { return DialogResult::kCancel; }
  void requestRepaint() override { repaintPending_ = true; }
  void showSurfaceNow() override {}
  std::optional<std::string> chooseExportFile(ExportKind) override { return std::nullopt; }
  // Nothing on the command line asks before a sweep is replaced; its files are named up front.
  SaveChoice askToSaveSweep() override { return SaveChoice::kDiscard; }
  void showHelp() override {}
  void closeMainWindow() override {}
  void showProgress(std::string_view) override {}

  // Whether a repaint was requested since the last call.
  bool takeRepaint();
  const std::vector<Message>& messages() const { return messages_; }
  // "caption: text" of the messages from index `first` on, one per line, for reports on stderr.
  std::string messagesSince(size_t first) const;
  // The same on one line ("Read failed!: the file has 23 bytes, ..."), for one error message.
  std::string reasonSince(size_t first) const;
  // Whether messages go to stderr as they come; returns the previous setting. Commands that tell
  // a failure in one line of their own turn it off while they run.
  bool setEcho(bool echo) {
    const bool was = echo_;
    echo_ = echo;
    return was;
  }

 private:
  std::ostream& err_;
  bool echo_;
  bool repaintPending_ = false;
  std::vector<Message> messages_;
};

// The main window without a window: an offscreen QGuiApplication (drawing text needs one), the
// plot surface of the desktop window's client area, the shell, and the App over the run's
// program. Made by the commands that draw or load, on first use.
class CliFrontEnd {
 public:
  CliFrontEnd(Program& program, std::ostream& err, bool echoMessages);
  ~CliFrontEnd();
  CliFrontEnd(const CliFrontEnd&) = delete;
  CliFrontEnd& operator=(const CliFrontEnd&) = delete;

  App& app() { return app_; }
  CliShell& shell() { return shell_; }
  PlotSurface& surface() { return surface_; }
  // The repaint of the main window, when one was requested.
  void paintIfRequested();

 private:
  int argc_ = 1;
  char name_[12] = "mervane-cli";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QGuiApplication> gui_;  // only when the process has none yet
  CliShell shell_;
  PlotSurface surface_;
  App app_;
};

CliFrontEnd& frontEndOf(CliRun& run);

// The kind of a data file by its extension: .son a sonar file, .par a parameter file (any case).
std::optional<FileKind> fileKindOf(const std::string& path);

// --load: the file as File Open loads it, its kind by the extension (.son or .par). Returns
// kExitOk, or kExitUsage for another extension or a file that cannot be read.
int loadRequestedFile(CliRun& run, const std::string& path);

// After a file opened: the notes Open gave (a file cut short, a distance block that does not
// read) as "note:" lines on standard error, from message `first` on.
void printOpenNotes(CliRun& run, const CliShell& shell, size_t first);
