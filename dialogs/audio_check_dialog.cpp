#include "dialogs/audio_check_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>

#include "dialogs/audio_check_logic.h"
#include "dialogs/surface_view.h"
#include "display/audio_check_plot.h"

namespace {

// Shows a busy cursor while the check measures, and the normal one while a message box waits
// for the user.
class BusyShell : public Shell {
 public:
  explicit BusyShell(Shell& inner) : inner_(inner) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~BusyShell() override { QApplication::restoreOverrideCursor(); }
  BusyShell(const BusyShell&) = delete;
  BusyShell& operator=(const BusyShell&) = delete;

  void showMessage(std::string_view text, std::string_view caption, MessageIcon icon,
                   MessageOwner owner) override {
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    inner_.showMessage(text, caption, icon, owner);
    QApplication::restoreOverrideCursor();
  }
  std::optional<FileChoice> chooseFileToOpen() override { return inner_.chooseFileToOpen(); }
  std::optional<FileChoice> chooseFileToSave() override { return inner_.chooseFileToSave(); }
  DialogResult runDialog(DialogId dialog) override { return inner_.runDialog(dialog); }
  void requestRepaint() override { inner_.requestRepaint(); }
  void showSurfaceNow() override { inner_.showSurfaceNow(); }
  std::optional<std::string> chooseExportFile(ExportKind kind) override {
    return inner_.chooseExportFile(kind);
  }
  SaveChoice askToSaveSweep() override { return inner_.askToSaveSweep(); }
  void showHelp() override { inner_.showHelp(); }
  void closeMainWindow() override { inner_.closeMainWindow(); }
  void showProgress(std::string_view status) override { inner_.showProgress(status); }

 private:
  Shell& inner_;
};

}  // namespace

AudioCheckDialog::AudioCheckDialog(Program& program, Shell& shell, QWidget* parent)
    : ModalDialog(parent, QStringLiteral("Check audio system")) {
  {
    BusyShell busy(shell);
    runAudioCheck(program, busy);
  }
  view_ = new SurfaceView(kAudioCheckClientWidth, kAudioCheckClientHeight, this);
  drawAudioCheckPlot(view_->surface(), program.settings);

  auto* grid = new QGridLayout(this);
  grid->addWidget(view_, 0, 0);
  grid->addWidget(makeDoneButtons(this), 1, 0);
}
