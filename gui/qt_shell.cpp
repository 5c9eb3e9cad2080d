#include "gui/qt_shell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMainWindow>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/device_report.h"
#include "app/program.h"
#include "dialogs/dialogs.h"
#include "gui/help_document.h"
#include "gui/plot_widget.h"
#include "gui/preferences.h"
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

// How long the look-up of a browser may take before it is believed to be there.
constexpr int kBrowserQueryTimeoutMs = 2000;

// Status texts stay visible this long unless the next step replaces them.
constexpr int kStatusTimeoutMs = 10000;

// A title bar holds the window's icon and three buttons beside its caption.
constexpr int kTitleBarExtraPx = 140;

// At start-up (or after a reset) the devices could not be opened: most often there is no sound
// card, and the user needs to hear where to go from here.
constexpr std::string_view kNoDeviceAdvice =
    "Mervane could not open a sound device. Choose an input and an output device under "
    "Settings > Audio device..., or pick the simulated room there to try the program without "
    "sound hardware.";

// Message boxes size themselves by their text alone; a short text under a long caption would
// cut the caption off. A spacer in the box's own grid widens it (a minimum width is ignored).
void fitCaption(QMessageBox& box) {
  const int wanted = box.fontMetrics().horizontalAdvance(box.windowTitle()) + kTitleBarExtraPx;
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
}

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

bool systemHasBrowser() {
  if (!qEnvironmentVariableIsEmpty("BROWSER")) return true;
  if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) return false;
  // xdg-open is there on most desktops even without a browser, and then fails after Qt has
  // reported success: ask which program would show a web page.
  const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (xdgMime.isEmpty()) return true;  // cannot tell: trust xdg-open
  QProcess query;
  query.start(xdgMime,
              {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
  if (!query.waitForFinished(kBrowserQueryTimeoutMs)) {
    query.kill();
    query.waitForFinished();
    return true;
  }
  return !query.readAllStandardOutput().trimmed().isEmpty();
}

QtShell::QtShell(QMainWindow& window, Program& program)
    : window_(window), program_(program), browserAvailable_(&systemHasBrowser) {
  QSettings settings;
  lastDirectory_ = lastFolder(settings);
  if (lastDirectory_.isEmpty() || !QDir(lastDirectory_).exists()) {
    lastDirectory_ = QDir::homePath();
  }
}

void QtShell::showMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                          MessageOwner owner) {
  QWidget* parent = owner == MessageOwner::kMainWindow ? &window_ : nullptr;
  QString shown = messageText(text);
  if (caption == kCaptionResetOpen) shown += QStringLiteral("\n\n") + toQString(kNoDeviceAdvice);
  QMessageBox box(boxIcon(icon), messageCaption(caption), shown, QMessageBox::Ok, parent);
  // Error texts come from sound systems and file names: never read them as markup.
  box.setTextFormat(Qt::PlainText);
  fitCaption(box);
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
  std::optional<std::string> path = runFileDialog(dialog);
  if (!path) return std::nullopt;
  return FileChoice{std::move(*path), fileKindForFilter(dialog.selectedNameFilter())};
}

std::optional<std::string> QtShell::runFileDialog(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
  lastDirectory_ = QFileInfo(files.front()).absolutePath();
  QSettings settings;
  setLastFolder(settings, lastDirectory_);
  // The file system's own bytes, whatever the name's encoding.
  return QFile::encodeName(files.front()).toStdString();
}

DialogResult QtShell::runDialog(DialogId dialog) {
  QWidget* parent = &window_;
  switch (dialog) {
    case DialogId::kAbout:
      return runAboutBox(parent, about_);
    case DialogId::kAudioDevice:
      return audioDevice_ ? audioDevice_() : DialogResult::kCancel;
    case DialogId::kCalibration:
      return calibration_ ? calibration_() : DialogResult::kCancel;
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

std::optional<std::string> QtShell::chooseExportFile(ExportKind kind) {
  const bool picture = kind == ExportKind::kPicture;
  const QString title = picture                      ? QStringLiteral("Export picture")
                        : kind == ExportKind::kTrack ? QStringLiteral("Export track")
                                                     : QStringLiteral("Export distances");
  QFileDialog dialog(&window_, title, lastDirectory_);
  dialog.setNameFilter(picture ? QStringLiteral("PNG picture (*.png)")
                               : QStringLiteral("Comma-separated values (*.csv)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(picture ? QStringLiteral("png") : QStringLiteral("csv"));
  return runFileDialog(dialog);
}

bool QtShell::confirmNotice(std::string_view text, std::string_view caption) {
  QMessageBox box(QMessageBox::NoIcon, messageCaption(caption), messageText(text),
                  QMessageBox::Ok | QMessageBox::Cancel, nullptr);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

SaveChoice QtShell::askToSaveSweep() {
  QMessageBox box(QMessageBox::Warning, QApplication::applicationName(),
                  QStringLiteral("The sweep measured since the last Save has not been saved."),
                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, &window_);
  box.setInformativeText(QStringLiteral("Save it to a sonar file first?"));
  // Keys for each answer, whatever the platform's style offers.
  box.button(QMessageBox::Save)->setText(QStringLiteral("&Save"));
  box.button(QMessageBox::Discard)->setText(QStringLiteral("&Discard"));
  box.button(QMessageBox::Cancel)->setText(QStringLiteral("&Cancel"));
  box.setDefaultButton(QMessageBox::Save);
  box.setEscapeButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Save:
      return SaveChoice::kSave;
    case QMessageBox::Discard:
      return SaveChoice::kDiscard;
    default:
      return SaveChoice::kCancel;
  }
}

void QtShell::noteRecentFile(const FileChoice& choice) {
  QSettings settings;
  addRecentFile(settings, QFileInfo(QFile::decodeName(choice.path.c_str())).absoluteFilePath(),
                choice.kind);
  if (recentFilesChanged_) recentFilesChanged_();
}

void QtShell::showHelp() {
  const QString path = helpDocumentPath();
  if (path.isEmpty()) {
    window_.statusBar()->showMessage(
        QStringLiteral("The help document could not be opened: no place to write it"),
        kStatusTimeoutMs);
    return;
  }
  const bool browser = browserAvailable_ && browserAvailable_();
  if (browser && QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
  showHelpViewer(path);
}

void QtShell::showHelpViewer(const QString& path) {
  if (helpViewer_ == nullptr) {
    auto* viewer = new QDialog(&window_);
    viewer->setObjectName(QStringLiteral("helpViewer"));
    viewer->setWindowTitle(QStringLiteral("Help"));
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    auto* browserView = new QTextBrowser(viewer);
    browserView->setObjectName(QStringLiteral("helpText"));
    browserView->setOpenExternalLinks(false);
    browserView->setSource(QUrl::fromLocalFile(path));
    auto* layout = new QVBoxLayout(viewer);
    layout->addWidget(browserView);
    viewer->resize(viewer->screen() != nullptr
                       ? viewer->screen()->availableGeometry().size().boundedTo(QSize(640, 720)) *
                             0.9
                       : QSize(560, 640));
    helpViewer_ = viewer;
  }
  window_.statusBar()->showMessage(
      QStringLiteral("No browser found: the help is shown in the program."), kStatusTimeoutMs);
  helpViewer_->show();
  helpViewer_->raise();
  helpViewer_->activateWindow();
}

void QtShell::closeMainWindow() {
  // Closed once the command that asked for it has ended, so the window's close handler does not
  // find the program busy with it.
  QTimer::singleShot(0, &window_, [this] { window_.close(); });
}

void QtShell::showProgress(std::string_view status) {
  window_.statusBar()->showMessage(toQString(status), kStatusTimeoutMs);
  ++pumpingDepth_;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  --pumpingDepth_;
}
