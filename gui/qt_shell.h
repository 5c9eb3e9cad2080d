#pragma once
#include <QString>

#include "app/shell.h"

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

  void showMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageOwner owner) override;
  std::optional<FileChoice> chooseFileToOpen() override;
  std::optional<FileChoice> chooseFileToSave() override;
  DialogResult runDialog(DialogId dialog) override;
  void requestRepaint() override;
  void showSurfaceNow() override;
  void showHelp() override;
  void closeMainWindow() override;
  void showProgress(std::string_view status) override;

 private:
  enum class FileDialogMode { kOpen, kSave };
  std::optional<FileChoice> chooseFile(FileDialogMode mode);

  QMainWindow& window_;
  Program& program_;
  PlotWidget* plot_ = nullptr;
  QString lastDirectory_;
  int pumpingDepth_ = 0;
};

// The caption a message box shows: the given one, or the application's name when it is empty.
QString messageCaption(std::string_view caption);
// Message texts come with the line ends of their origin; a message box wants plain "\n".
QString messageText(std::string_view text);

// The two file filters, in the order the file dialogs offer them.
inline constexpr const char* kSonarFilter = "Sonar (*.son)";
inline constexpr const char* kParametersFilter = "Parameters (*.par)";
FileKind fileKindForFilter(const QString& nameFilter);
