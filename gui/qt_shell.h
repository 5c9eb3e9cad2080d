#pragma once
#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>

#include "app/shell.h"
#include "dialogs/dialogs.h"

class QFileDialog;
class QMainWindow;
class QUrl;
class PlotWidget;
struct Program;

// The application's shell on Qt Widgets: message boxes, file dialogs, the settings dialogs, the
// repaint of the plot and the help document.
class QtShell : public Shell {
 public:
  QtShell(QMainWindow& window, Program& program);

  // The plot area repaints and copies go to; until it is set they are dropped.
  void setPlotWidget(PlotWidget* plot) { plot_ = plot; }
  // True while showProgress lets the event loop run: the scan timer must not tick then.
  bool isPumpingEvents() const { return pumpingDepth_ > 0; }
  // What the About box says about the sound system, and its two pictures.
  void setAboutContent(AboutContent content) { about_ = std::move(content); }
  // Runs Settings > Audio device...; the main window owns the back end it replaces.
  void setAudioDeviceDialog(std::function<DialogResult()> run) { audioDevice_ = std::move(run); }
  // Runs Settings > Calibration...; the main window keeps the calibration per device.
  void setCalibrationDialog(std::function<DialogResult()> run) { calibration_ = std::move(run); }
  // Shows Analyze > Track echo...'s window; the main window owns it.
  void setTrackWindow(std::function<void()> show) { trackWindow_ = std::move(show); }
  // Whether a browser can be asked to show the help; without one, Help shows it in a window of
  // the program. Tests replace the look-up.
  void setBrowserCheck(std::function<bool()> check) { browserAvailable_ = std::move(check); }
  // Called after a file went into the recent files, so the menu can follow.
  void setRecentFilesChanged(std::function<void()> changed) {
    recentFilesChanged_ = std::move(changed);
  }
  // The in-program help window while it is open, else null.
  QDialog* helpViewer() const { return helpViewer_; }

  void showMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageOwner owner) override;
  std::optional<FileChoice> chooseFileToOpen() override;
  std::optional<FileChoice> chooseFileToSave() override;
  DialogResult runDialog(DialogId dialog) override;
  void requestRepaint() override;
  void showSurfaceNow() override;
  std::optional<std::string> chooseExportFile(ExportKind kind) override;
  SaveChoice askToSaveSweep() override;
  bool confirmNotice(std::string_view text, std::string_view caption) override;
  void noteRecentFile(const FileChoice& choice) override;
  void showHelp() override;
  void showTrackWindow() override {
    if (trackWindow_) trackWindow_();
  }
  void closeMainWindow() override;
  void showProgress(std::string_view status) override;

 private:
  enum class FileDialogMode { kOpen, kSave };
  std::optional<FileChoice> chooseFile(FileDialogMode mode);
  // Runs a file dialog; the chosen file as the file system's bytes, its folder remembered.
  std::optional<std::string> runFileDialog(QFileDialog& dialog);
  void showHelpViewer(const QString& path);

  QMainWindow& window_;
  Program& program_;
  PlotWidget* plot_ = nullptr;
  QString lastDirectory_;
  int pumpingDepth_ = 0;
  AboutContent about_;
  std::function<DialogResult()> audioDevice_;
  std::function<DialogResult()> calibration_;
  std::function<bool()> browserAvailable_;
  std::function<void()> trackWindow_;
  std::function<void()> recentFilesChanged_;
  QPointer<QDialog> helpViewer_;
};

// The caption a message box shows: the given one, or the application's name when it is empty.
QString messageCaption(std::string_view caption);
// Message texts come with the line ends of their origin; a message box wants plain "\n".
QString messageText(std::string_view text);

// The two file filters, in the order the file dialogs offer them.
inline constexpr const char* kSonarFilter = "Sonar (*.son)";
inline constexpr const char* kParametersFilter = "Parameters (*.par)";
FileKind fileKindForFilter(const QString& nameFilter);

// Whether the system has a way to open a document in a browser (xdg-open or $BROWSER).
bool systemHasBrowser();
