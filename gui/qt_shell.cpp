#include "gui/qt_shell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QStatusBar>
#include <QUrl>

#include "app/program.h"
#include "dialogs/dialogs.h"
#include "gui/help_document.h"
#include "gui/plot_widget.h"
#include "gui/qt_text.h"

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kStop:
      return QMessageBox::Critical;
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

// Status texts stay visible this long unless the next step replaces them.
constexpr int kStatusTimeoutMs = 10000;

}  // namespace

QString messageCaption(std::string_view caption) {
  return caption.empty() ? QApplication::applicationName() : toQString(caption);
}

QString messageText(std::string_view text) {
  QString result = toQString(text);
  result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return result;
}

FileKind fileKindForFilter(const QString& nameFilter) {
  return nameFilter == QLatin1String(kParametersFilter) ? FileKind::kParameters : FileKind::kSonar;
}

QtShell::QtShell(QMainWindow& window, Program& program)
    : window_(window), program_(program), lastDirectory_(QDir::homePath()) {}

void QtShell::showMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                          MessageOwner owner) {
  QWidget* parent = owner == MessageOwner::kMainWindow ? &window_ : nullptr;
  QMessageBox box(boxIcon(icon), messageCaption(caption), messageText(text), QMessageBox::Ok,
                  parent);
  // Error texts come from sound systems and file names: never read them as markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

std::optional<FileChoice> QtShell::chooseFileToOpen() {
  return chooseFile(FileDialogMode::kOpen);
}

std::optional<FileChoice> QtShell::chooseFileToSave() {
  return chooseFile(FileDialogMode::kSave);
}

std::optional<FileChoice> QtShell::chooseFile(FileDialogMode mode) {
  const bool open = mode == FileDialogMode::kOpen;
  QFileDialog dialog(&window_, open ? QStringLiteral("Open File") : QStringLiteral("Save File As"),
                     lastDirectory_);
  dialog.setNameFilters({QLatin1String(kSonarFilter), QLatin1String(kParametersFilter)});
  dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog.setFileMode(open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if (!open) {
    // A name typed without extension gets the one of the kind being saved.
    dialog.setDefaultSuffix(QStringLiteral("son"));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
      dialog.setDefaultSuffix(fileKindForFilter(f) == FileKind::kParameters ? "par" : "son");
    });
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
  lastDirectory_ = QFileInfo(files.front()).absolutePath();
  // The file system's own bytes, whatever the name's encoding.
  return FileChoice{QFile::encodeName(files.front()).toStdString(),
                    fileKindForFilter(dialog.selectedNameFilter())};
}

DialogResult QtShell::runDialog(DialogId dialog) {
  QWidget* parent = &window_;
  switch (dialog) {
    case DialogId::kAbout:
      return runAboutBox(parent);
    case DialogId::kAnalyze:
      return runAnalyzeWindow(program_, *this, parent);
    case DialogId::kOutSignal:
      return runOutSignalDialog(program_, *this, parent);
    case DialogId::kAudioCheck:
      return runAudioCheckDialog(program_, *this, parent);
    case DialogId::kWaveFormat:
      return runWaveFormatDialog(program_, *this, parent);
    case DialogId::kOffset:
      return runOffsetDialog(program_, *this, parent);
    case DialogId::kScale:
      return runScaleDialog(program_, *this, parent);
  }
  return DialogResult::kCancel;  // an identifier without a dialog counts as cancelled
}

void QtShell::requestRepaint() {
  if (plot_ != nullptr) plot_->update();
}

void QtShell::showSurfaceNow() {
  if (plot_ != nullptr) plot_->showSurfaceNow();
}

void QtShell::showHelp() {
  const QString path = helpDocumentPath();
  // Like the viewer start it replaces, a failure ends nothing; the status bar says what happened
  // so the user is not left wondering.
  if (path.isEmpty() || !QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
    window_.statusBar()->showMessage(
        QStringLiteral("The help document could not be opened: %1")
            .arg(path.isEmpty() ? QStringLiteral("no place to write it") : path),
        kStatusTimeoutMs);
  }
}

void QtShell::closeMainWindow() {
  window_.close();
}

void QtShell::showProgress(std::string_view status) {
  window_.statusBar()->showMessage(toQString(status), kStatusTimeoutMs);
  ++pumpingDepth_;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  --pumpingDepth_;
}
